#pragma once
// Starting the experiment host: `<launcher folder>/kivor <index>` plus the options the launcher
// passes on, run without a shell so that any folder name is safe.

#include <QString>
#include <QStringList>

namespace zelkor::launcher {

inline constexpr const char* kHostProgramName = "kivor";

struct HostOptions {
    bool demo = false;
    QString usbDevice;  // "vvvv:pppp", empty for none
};

struct HostCommand {
    QString program;
    QStringList arguments;
};

HostCommand BuildHostCommand(const QString& launcherFolder, int index, const HostOptions& options);

// Starts the host and waits, without a time limit, until it ends. Returns false at once when it
// cannot be started. The host shares the launcher's environment, working folder and terminal.
bool RunHostAndWait(const HostCommand& command);

}  // namespace zelkor::launcher
