#pragma once
// Start-up of the launcher: its options, the single-instance check and the menu's run.

#include "host_starter.h"
#include "widgets/command_options.h"

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
    widgets::SortedCommandLine::Request request = widgets::SortedCommandLine::Request::Run;
};

// `--demo`, `--usb-device vvvv:pppp` (or `--usb-device=vvvv:pppp`); Qt's own options are left to Qt,
// --help and --version and unknown options end up in `request`. `args` excludes the program name.
LauncherArguments ParseLauncherArguments(const std::vector<std::string>& args);

// Takes the single-instance lock in `lockFolder`, then shows the menu until the user closes it.
// When another launcher holds the lock, says so and returns. `hostFolder` is where `kivor` lives.
// Needs a QApplication. Returns the process exit code.
int RunLauncher(const HostOptions& options, const QString& lockFolder, const QString& hostFolder);

// What `Zelkor2d --help` prints; `hostPath` is the host the menu would start.
std::string LauncherHelpText(const std::string& hostPath);

}  // namespace zelkor::launcher
