#include "launcher_app.h"

#include "menu_dialog.h"
#include "single_instance.h"
#include "device/sensor_platform.h"
#include "widgets/app_setup.h"

#include <QApplication>
#include <QEventLoop>

#include <cstdio>

namespace zelkor::launcher {

LauncherArguments ParseLauncherArguments(const std::vector<std::string>& allArgs)
{
    LauncherArguments result;
    const std::string usbOption = "--usb-device";
    static constexpr widgets::ProgramOption kOwn[] = {{"--demo", false}, {"--usb-device", true}};
    const widgets::SortedCommandLine sorted = widgets::SortCommandLine(allArgs, kOwn);
    result.request = sorted.request;
    result.error = sorted.error;
    if (sorted.request != widgets::SortedCommandLine::Request::Run)
        return result;
    const std::vector<std::string>& args = sorted.arguments;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--demo") {
            result.host.demo = true;
            continue;
        }
        std::string id;
        if (arg == usbOption) {
            if (i + 1 >= args.size()) {
                result.error = "--usb-device needs a USB id vvvv:pppp (see lsusb)";
                result.request = widgets::SortedCommandLine::Request::Error;
                return result;
            }
            id = args[++i];
        } else if (arg.rfind(usbOption + "=", 0) == 0) {
            id = arg.substr(usbOption.size() + 1);
        } else {
            continue;
        }
        if (!device::ParseUsbId(id)) {
            result.error = "invalid USB id \"" + id + "\": expected vvvv:pppp, four hexadecimal digits each";
            result.request = widgets::SortedCommandLine::Request::Error;
            return result;
        }
        result.host.usbDevice = QString::fromStdString(id);
    }
    return result;
}

int RunLauncher(const HostOptions& options, const QString& lockFolder, const QString& hostFolder)
{
    widgets::SetUpApplication(QString::fromLatin1(kProgramName));

    SingleInstanceLock lock(lockFolder);
    switch (lock.TryAcquire()) {
    case SingleInstanceLock::Result::Acquired:
        break;
    case SingleInstanceLock::Result::HeldByOther:
        widgets::ShowMessage(nullptr, QString::fromUtf8(kAlreadyRunningText));
        return 0;
    case SingleInstanceLock::Result::Unavailable:
        // Refusing to start over an unwritable runtime folder would lock the class out entirely.
        std::fprintf(stderr, "Zelkor2d: cannot create the lock file %s; not guarding against a second launcher\n",
                     qPrintable(lock.FilePath()));
        break;
    }

    CZelkor2dDlg dialog([&](int index) {
        return RunHostAndWait(BuildHostCommand(hostFolder, index, options));
    });

    // Not exec(): a dialog's exec() ends as soon as the dialog is hidden, and the menu hides itself
    // while the host runs. The menu ends only by its own close button or the desktop's close.
    QEventLoop loop;
    QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    const bool quitOnLastClosed = QGuiApplication::quitOnLastWindowClosed();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    dialog.ShowMenu();
    loop.exec();
    QGuiApplication::setQuitOnLastWindowClosed(quitOnLastClosed);
    return 0;
}

}  // namespace zelkor::launcher
