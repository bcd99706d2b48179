#pragma once
// The command-line manners both programs share: --help, --version, Qt's own options passed through,
// and an unknown option refused with a clear message and exit code 2. Plain C++: it runs before the
// QApplication exists, so `--help` works without a display.

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor::widgets {

inline constexpr int kUsageExitCode = 2;

// An option of the program itself, such as "--usb-device" (which takes a value).
struct ProgramOption {
    std::string_view name;
    bool takesValue = false;
};

struct SortedCommandLine {
    enum class Request { Run, Help, Version, Error };
    Request request = Request::Run;
    // The program's own arguments in their order, Qt's options taken out. An option of the program
    // that takes a value keeps it as the next element (or joined with '=' as typed).
    std::vector<std::string> arguments;
    std::string error;  // with Request::Error
};

// `args` without the program name. An argument is an option when it begins with '-' followed by a
// letter or a second '-'; so "-1" stays an argument (a negative number). --help/-h and --version/-v
// win over anything that follows them.
SortedCommandLine SortCommandLine(const std::vector<std::string>& args, std::span<const ProgramOption> own);

// Prints what the request asks for: the help text to `out`, "<program> <version>" to `out`, or the
// error and a pointer to --help to `err`. Returns the exit code (0, or 2 for an error), or nullopt
// for Request::Run.
std::optional<int> AnswerCommandLine(const SortedCommandLine& sorted, std::string_view program,
                                     std::string_view helpText, std::FILE* out = stdout, std::FILE* err = stderr);

}  // namespace zelkor::widgets
