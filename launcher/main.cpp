// Zelkor2d: the picture menu that starts the experiment host.
#include "launcher/launcher_app.h"
#include "launcher/single_instance.h"
#include "widgets/app_setup.h"

#include <QApplication>

#include <filesystem>
#include <system_error>

namespace {

// The host the menu starts: beside the launcher's own file, links resolved as Qt resolves them.
std::string HostPathBesideMe()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(zelkor::launcher::kHostProgramName)
                 : (self.parent_path() / zelkor::launcher::kHostProgramName).string();
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace zelkor::launcher;
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const LauncherArguments parsed = ParseLauncherArguments(args);
    const zelkor::widgets::SortedCommandLine answer{parsed.request, {}, parsed.error};
    if (const auto code = zelkor::widgets::AnswerCommandLine(answer, kProgramName, LauncherHelpText(HostPathBesideMe())))
        return *code;

    zelkor::widgets::PrepareDisplayConnection();
    QApplication app(argc, argv);  // CZelkor2dApp: the application object
    return RunLauncher(parsed.host, DefaultLockFolder(), QCoreApplication::applicationDirPath());
}
