// Zelkor2d --help.
#include "launcher_app.h"

namespace zelkor::launcher {

std::string LauncherHelpText(const std::string& hostPath)
{
    return "Usage: Zelkor2d [--demo] [--usb-device vvvv:pppp]\n"
           "Shows the picture menu of the Zelkor 2D experiments. A click on an entry runs that\n"
           "experiment in the host " + hostPath + " (see kivor --help).\n"
           "\n"
           "Options:\n"
           "  --demo                  run the experiments with the emulated sensor\n"
           "  --usb-device vvvv:pppp  also accept the sensor with these USB ids (see lsusb);\n"
           "                          passed on to the host\n"
           "  -h, --help              show this help and end\n"
           "  -v, --version           show the version and end\n"
           "Qt's own options (-platform, -style, ...) are accepted as well.\n";
}

}  // namespace zelkor::launcher
