#pragma once
// Start-up of the launcher: its options, the single-instance check and the menu's run.

#include "host_starter.h"

#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace zelkor::launcher {

inline constexpr const char* kProgramName = "Zelkor2d";
inline constexpr const char* kAlreadyRunningText = "程序已在运行中!";

struct LauncherArguments {
    HostOptions host;
    std::string error;  // non-empty when the arguments are unusable
};

// `--demo`, `--usb-device vvvv:pppp` (or `--usb-device=vvvv:pppp`); anything else is left to Qt
// and otherwise ignored. `args` excludes the program name.
LauncherArguments ParseLauncherArguments(const std::vector<std::string>& args);

// Takes the single-instance lock in `lockFolder`, then shows the menu until the user closes it.
// When another launcher holds the lock, says so and returns. `hostFolder` is where `kivor` lives.
// Needs a QApplication. Returns the process exit code.
int RunLauncher(const HostOptions& options, const QString& lockFolder, const QString& hostFolder);

}  // namespace zelkor::launcher
