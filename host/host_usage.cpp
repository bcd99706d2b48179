// kivor --help: generated from the experiment table, so that the list cannot drift from what runs.
#include "command_line.h"
#include "experiment_table.h"

#include <cstdio>

namespace zelkor::host {

std::string HostHelpText()
{
    std::string text =
        "Usage: kivor [INDEX] [--demo] [--usb-device vvvv:pppp]\n"
        "Runs one experiment window of Zelkor 2D. The picture menu Zelkor2d starts it with the index\n"
        "of the chosen entry; it can also be started by hand.\n"
        "\n"
        "INDEX (0 when missing):\n";
    for (const ExperimentEntry& entry : kExperimentTable) {
        if (!entry.dialogClass)
            continue;
        char line[128];
        std::snprintf(line, sizeof line, "  %4d  %s\n", entry.index, entry.title);
        text += line;
    }
    text +=
        "Any other index (11, above 12, negative) ends at once without a window.\n"
        "\n"
        "Options:\n"
        "  --demo                  use the emulated sensor instead of a real one\n"
        "  --usb-device vvvv:pppp  also accept the sensor with these USB ids (see lsusb)\n"
        "  -h, --help              show this help and end\n"
        "  -v, --version           show the version and end\n"
        "Qt's own options (-platform, -style, ...) are accepted as well.\n";
    return text;
}

}  // namespace zelkor::host
