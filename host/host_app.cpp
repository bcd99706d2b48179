#include "host_app.h"

#include "acquisition/exp_base.h"
#include "command_line.h"
#include "device/demo_platform.h"
#include "device/usb_if.h"
#include "experiment_windows.h"
#include "widgets/app_setup.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

namespace zelkor::host {

void ReportPipeFailureAndEnd(const char* utf8Message)
{
    const QString text = QString::fromUtf8(utf8Message);
    // From a worker, the wait ends if its window closes meanwhile (kivor is ending then anyway).
    acquisition::CallOnUiThread([text] {
        widgets::ShowMessage(QApplication::activeWindow(), text, QMessageBox::Warning);
        // Leaves every event loop, the experiment window's modal one included, so kivor ends.
        QCoreApplication::exit(0);
    });
}

std::vector<std::string> ArgumentsAfterProgram(int argc, char** argv)
{
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::optional<int> EndBeforeAnyWindow(const HostOptions& options)
{
    const widgets::SortedCommandLine answer{options.request, {}, options.error};
    if (const auto code = widgets::AnswerCommandLine(answer, "kivor", HostHelpText()))
        return code;
    if (!FindExperiment(options.index))
        return 0;
    return std::nullopt;
}

int RunHost(const HostOptions& options)
{
    if (const auto code = EndBeforeAnyWindow(options))
        return *code;

    if (options.demo) {
        device::SetSensorPlatform(device::MakeDemoPlatform(options.index));
    } else {
        auto ids = device::CompiledSensorIds();
        if (options.usbDevice)
            ids.push_back(*options.usbDevice);
        device::SetSensorPlatform(device::MakeLibusbPlatform(std::move(ids)));
    }
    device::CUsbIF::SetPipeFailureHandler(
        [](const std::string& message) { ReportPipeFailureAndEnd(message.c_str()); });

    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icon/128.png")));
    std::unique_ptr<QDialog> dialog = BuildExperimentDialog(options.index);
    dialog->exec();
    return 0;
}

}  // namespace zelkor::host
