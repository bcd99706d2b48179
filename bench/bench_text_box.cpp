// Cost of a live readout: a formatted-text box of the value-box size (250 x 50, bordered, origin 45, 7,
// Times New Roman 26 from its markup) given a new text, and the paint that shows it on the screen.
//   BM_ReadoutChange/0   a position at rest: its last digit wanders with the noise (texts come back);
//   BM_ReadoutChange/1   a moving position: every text is new, often in more than the last digit;
//   BM_ReadoutChange/2   a Chinese caption before the value in one markup, the value moving.
// The counter paints_per_change says how many paint events the box received per new text.
#include "qt_benchmark_main.h"
#include "widgets/text_boxes.h"

#include <QApplication>
#include <QRandomGenerator>
#include <QWindow>
#include <benchmark/benchmark.h>

#include <algorithm>

using zelkor::widgets::CZelFormattedTextBox;

namespace {

struct PaintCounter : QObject {
    long long paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

void BM_ReadoutChange(benchmark::State& state)
{
    const int kind = static_cast<int>(state.range(0));
    QWidget window;
    window.resize(400, 120);
    CZelFormattedTextBox box;
    box.Create(5006, QRect(20, 20, 250, 50), &window);
    box.border = true;
    box.backgroundColor = QColor(0, 255, 0);
    box.textColor = QColor(0, 0, 255);
    box.origin = QPoint(45, 7);
    const QString prefix = kind == 2 ? QStringLiteral("\\font{黑体,26}\\text{水平:}\\font{Times New Roman,26}")
                                     : QStringLiteral("\\font{Times New Roman,26}");
    box.SetText(prefix + QStringLiteral("\\text{ 0.000(m)}"));
    window.show();
    for (int i = 0; i < 100 && !(window.windowHandle() && window.windowHandle()->isExposed()); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();
    PaintCounter counter;
    box.installEventFilter(&counter);
    QRandomGenerator noise(7);
    double value = 0.1;
    long long changes = 0;
    for (auto _ : state) {
        const double shown = kind == 0 ? 0.1 + 0.001 * static_cast<double>(noise.bounded(-2, 3)) : (value += 0.0037);
        const QString text = prefix + QString::asprintf("\\text{ %.3f(m)}", shown);
        changes += text != box.text;
        box.SetText(text);
        for (int i = 0; i < 3; ++i)
            QCoreApplication::sendPostedEvents();
    }
    box.removeEventFilter(&counter);
    state.counters["paints_per_change"] = static_cast<double>(counter.paints) / static_cast<double>(std::max(1LL, changes));
}
BENCHMARK(BM_ReadoutChange)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    return RunWidgetBenchmarks(argc, argv);
}
