#pragma once
// The main of a benchmark of widgets: a QApplication on the offscreen platform (unless another is
// chosen, with the host's display connection), the application set up as the host sets it up, then
// Google Benchmark.
#include "widgets/app_setup.h"

#include <QApplication>
#include <benchmark/benchmark.h>

inline int RunWidgetBenchmarks(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    zelkor::widgets::PrepareDisplayConnection();
    QApplication app(argc, argv);
    zelkor::widgets::SetUpApplication("kivor");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
