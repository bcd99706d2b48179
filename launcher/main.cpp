// Zelkor2d: the picture menu that starts the experiment host.
#include "launcher/launcher_app.h"
#include "launcher/single_instance.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    using namespace zelkor::launcher;
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const LauncherArguments parsed = ParseLauncherArguments(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "Zelkor2d: %s\n", parsed.error.c_str());
        return 2;
    }

    QApplication app(argc, argv);  // CZelkor2dApp: the application object
    return RunLauncher(parsed.host, DefaultLockFolder(), QCoreApplication::applicationDirPath());
}
