#pragma once
// kivor's command line: the experiment index first, then the options --demo and --usb-device vvvv:pppp.

#include "device/sensor_platform.h"

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
};

// `args` without the program name. The first argument that is not an option is the index; arguments
// after it are ignored.
HostOptions ParseHostArguments(const std::vector<std::string>& args);

}  // namespace zelkor::host
