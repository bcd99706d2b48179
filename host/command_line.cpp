#include "command_line.h"

#include <climits>
#include <cstdint>

namespace zelkor::host {

namespace {

bool IsCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int ConvertIndex(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate the magnitude, stopping once it is past the 32-bit range so it cannot overflow.
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT_MIN) : INT_MAX;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (magnitude <= limit)
            magnitude = magnitude * 10 + (text[i] - '0');
    }
    if (magnitude > limit)
        magnitude = limit;
    return static_cast<int>(negative ? -magnitude : magnitude);
}

HostOptions ParseHostArguments(const std::vector<std::string>& allArgs)
{
    HostOptions options;
    using Request = widgets::SortedCommandLine::Request;
    static constexpr widgets::ProgramOption kOwn[] = {{"--demo", false}, {"--usb-device", true}};
    widgets::SortedCommandLine sorted = widgets::SortCommandLine(allArgs, kOwn);
    options.request = sorted.request;
    options.error = sorted.error;
    if (sorted.request != Request::Run)
        return options;
    const std::vector<std::string>& args = sorted.arguments;
    bool haveIndex = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--demo") {
            options.demo = true;
        } else if (arg == "--usb-device" || arg.starts_with("--usb-device=")) {
            std::string id;
            if (arg.size() > std::string_view("--usb-device").size()) {
                id = arg.substr(arg.find('=') + 1);
            } else if (i + 1 < args.size()) {
                id = args[++i];
            } else {
                options.error = "--usb-device needs the sensor's USB id as vvvv:pppp (see lsusb)";
                options.request = Request::Error;
                return options;
            }
            options.usbDevice = device::ParseUsbId(id);
            if (!options.usbDevice) {
                options.error = "--usb-device: '" + id + "' is not a USB id of the form vvvv:pppp";
                options.request = Request::Error;
                return options;
            }
        } else if (!haveIndex) {
            options.index = ConvertIndex(arg);
            haveIndex = true;
        }
    }
    return options;
}

}  // namespace zelkor::host
