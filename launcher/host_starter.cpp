#include "host_starter.h"

#include <QDir>
#include <QProcess>

namespace zelkor::launcher {

HostCommand BuildHostCommand(const QString& launcherFolder, int index, const HostOptions& options)
{
    HostCommand command;
    // Never a bare name: that would send QProcess searching PATH for some other "kivor".
    const QString folder = launcherFolder.isEmpty() ? QStringLiteral(".") : launcherFolder;
    command.program = QDir(folder).filePath(QString::fromLatin1(kHostProgramName));
    command.arguments << QString::number(index);
    if (options.demo) command.arguments << QStringLiteral("--demo");
    if (!options.usbDevice.isEmpty()) command.arguments << QStringLiteral("--usb-device") << options.usbDevice;
    return command;
}

bool RunHostAndWait(const HostCommand& command)
{
    QProcess process;
    process.setProgram(command.program);
    process.setArguments(command.arguments);
    // Forwarded, not captured: nobody reads the host's output, and a talkative host must not fill
    // a buffer in the launcher while it waits.
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.start();
    if (!process.waitForStarted(-1)) return false;
    process.waitForFinished(-1);
    return true;
}

}  // namespace zelkor::launcher
