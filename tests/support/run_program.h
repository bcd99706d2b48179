#pragma once
// Runs a program to its end and collects what it printed. With `noDisplay` the display variables are
// removed and the X11 platform forced, so that a program which tries to open a window aborts instead.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace zelkor::testing {

struct ProgramRun {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
};

inline QProcessEnvironment EnvironmentWithoutDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return env;
}

inline ProgramRun RunProgram(const QString& program, const QStringList& args, bool noDisplay = true,
                             int timeoutMs = 20000)
{
    QProcess process;
    if (noDisplay)
        process.setProcessEnvironment(EnvironmentWithoutDisplay());
    process.start(program, args);
    ProgramRun run;
    run.finished = process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit;
    if (!run.finished)
        process.kill();
    process.waitForFinished(5000);
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

}  // namespace zelkor::testing
