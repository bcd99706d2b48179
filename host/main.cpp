// kivor: runs one experiment window, chosen by the index on the command line.
#include "host/host_app.h"
#include "widgets/app_setup.h"

#include <QApplication>

int main(int argc, char** argv)
{
    using namespace zelkor::host;
    // An index without an experiment ends here, before anything connects to the display.
    if (const auto code = EndBeforeAnyWindow(ParseHostArguments(ArgumentsAfterProgram(argc, argv))))
        return *code;
    zelkor::widgets::PrepareDisplayConnection();
    QApplication app(argc, argv);  // takes its own options (-platform ...) out of argv
    zelkor::widgets::SetUpApplication(QStringLiteral("kivor"));
    return RunHost(ParseHostArguments(ArgumentsAfterProgram(argc, argv)));
}
