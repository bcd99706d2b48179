#pragma once
// kivor's command line: the experiment index first, then the options --demo and --usb-device vvvv:pppp.

#include "device/sensor_platform.h"
#include "widgets/command_options.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor::host {

// Base-10 conversion of the index argument: leading white space skipped, one optional sign, digits up to
// the first non-digit; no digits gives 0; values beyond the 32-bit range saturate.
int ConvertIndex(std::string_view text);

struct HostOptions {
    int index = 0;  // no index argument: 0
    bool demo = false;
    std::optional<device::UsbId> usbDevice;
    std::string error;  // non-empty: the command line cannot be used; say this and end
    widgets::SortedCommandLine::Request request = widgets::SortedCommandLine::Request::Run;
};

// `args` without the program name. The first argument that is not an option is the index; arguments
// after it are ignored.
// --help, --version and unknown options end up in `request`; Qt's own options are passed over.
HostOptions ParseHostArguments(const std::vector<std::string>& args);

// What `kivor --help` prints: the indices with their experiments and the options.
std::string HostHelpText();

}  // namespace zelkor::host
