#include "command_options.h"

#include <algorithm>
#include <array>

#ifndef ZELKOR2D_VERSION
#define ZELKOR2D_VERSION "unknown"
#endif

namespace zelkor::widgets {

namespace {

// The options QGuiApplication and QApplication take out of argv themselves (with one dash or two;
// a value either follows or is joined with '='). Mirrored here so that they are not refused before
// the application object has had a chance to see them.
constexpr std::array<std::string_view, 14> kQtValueOptions = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon",
    "qwindowtitle", "session", "display", "geometry", "style", "stylesheet", "name", "visual",
};
constexpr std::array<std::string_view, 7> kQtFlagOptions = {
    "reverse", "widgetcount", "nograb", "dograb", "sync", "qmljsdebugger", "fontengine",
};

bool IsOption(const std::string& arg)
{
    if (arg.size() < 2 || arg[0] != '-')
        return false;
    const char c = arg[1];
    return c == '-' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool Contains(std::span<const std::string_view> names, std::string_view name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

SortedCommandLine SortCommandLine(const std::vector<std::string>& args, std::span<const ProgramOption> own)
{
    using Request = SortedCommandLine::Request;
    SortedCommandLine sorted;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!IsOption(arg)) {
            sorted.arguments.push_back(arg);
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            sorted.request = Request::Help;
            return sorted;
        }
        if (arg == "--version" || arg == "-v") {
            sorted.request = Request::Version;
            return sorted;
        }
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const bool joined = eq != std::string::npos;

        const auto mine = std::find_if(own.begin(), own.end(), [&](const ProgramOption& o) { return o.name == name; });
        if (mine != own.end()) {
            if (joined && !mine->takesValue) {
                sorted.request = Request::Error;
                sorted.error = "option '" + name + "' takes no value";
                return sorted;
            }
            sorted.arguments.push_back(arg);
            if (mine->takesValue && !joined && i + 1 < args.size())
                sorted.arguments.push_back(args[++i]);
            continue;  // the program's own parser judges the value
        }

        const std::string_view bare = std::string_view(name).substr(name[1] == '-' ? 2 : 1);
        if (Contains(kQtFlagOptions, bare))
            continue;
        if (Contains(kQtValueOptions, bare)) {
            if (!joined)
                ++i;  // Qt takes the next argument as the value, whatever it is
            continue;
        }
        sorted.request = Request::Error;
        sorted.error = "unknown option '" + arg + "'";
        return sorted;
    }
    return sorted;
}

std::optional<int> AnswerCommandLine(const SortedCommandLine& sorted, std::string_view program,
                                     std::string_view helpText, std::FILE* out, std::FILE* err)
{
    using Request = SortedCommandLine::Request;
    const std::string name(program);
    switch (sorted.request) {
    case Request::Run:
        return std::nullopt;
    case Request::Help:
        std::fwrite(helpText.data(), 1, helpText.size(), out);
        return 0;
    case Request::Version:
        std::fprintf(out, "%s %s\n", name.c_str(), ZELKOR2D_VERSION);
        return 0;
    case Request::Error:
        break;
    }
    std::fprintf(err, "%s: %s\nTry '%s --help' for the options.\n", name.c_str(), sorted.error.c_str(), name.c_str());
    return kUsageExitCode;
}

}  // namespace zelkor::widgets
