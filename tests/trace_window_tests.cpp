// The trace windows driven as a pupil drives them: the single pendulum, uniform circular motion and
// damped vibration, first with a scripted sensor sending the reports of a synthetic motion, then on the
// demo apparatus at a person's pace.
#include "device/demo_scenarios.h"
#include "experiments/circular_motion.h"
#include "experiments/single_pendulum.h"
#include "tests/support/window_pupil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <numeric>
#include <tuple>

using namespace zelkor;
using namespace zelkor::experiments;
using zelkor::testing::SensorPos;

namespace {

using Pendulum = zelkor::testing::WindowPupil<CDlgTdSinglePendulum>;
using Circle = zelkor::testing::WindowPupil<CDlgTdCircularMotior>;

constexpr int kStart = acquisition::kIdStart;
constexpr int kStop = acquisition::kIdStop;
constexpr int k25 = acquisition::kIdRadio25Hz;
constexpr int k50 = acquisition::kIdRadio50Hz;
constexpr double kG = 9.8;
constexpr double kLength = 0.50;

// The value at the start of a label's text (after its font command).
double Number(const QString& markup)
{
    const qsizetype open = markup.lastIndexOf(QStringLiteral("\\text{"));
    return markup.mid(open + 6).trimmed().split(QLatin1Char('(')).front().toDouble();
}

const double kPeriod = 2 * std::numbers::pi * std::sqrt(kLength / kG);

// A bob on a string from the sensor, swinging 0.2 rad, sampled every 0.02 s from the far side.
std::vector<SensorPos> Swing(int samples)
{
    std::vector<SensorPos> out;
    for (int k = 1; k <= samples; ++k) {
        const double theta = 0.2 * std::cos(2 * std::numbers::pi * k * 0.02 / kPeriod);
        out.push_back({kLength * std::sin(theta), kLength * std::cos(theta)});
    }
    return out;
}

std::vector<SensorPos> Still(int samples, SensorPos p) { return std::vector<SensorPos>(static_cast<size_t>(samples), p); }

// The pupil's steps of a recording: start, hold still at the rest position and zero there, record.
template <class Pupil>
void ZeroAndRecord(Pupil& p, SensorPos rest, int recordId)
{
    p.Start();
    p.Feed(Still(3, rest));
    p.Click(kIdTraceZero);
    p.Click(recordId);
}

// Enabled states after each step, checked against the window's table.
struct Step {
    const char* what;
    std::function<void()> act;
    std::vector<int> on, off;
};
template <class Pupil>
void CheckSteps(Pupil& p, const std::vector<Step>& steps)
{
    for (const Step& s : steps) {
        if (s.act)
            s.act();
        for (const int id : s.on)
            EXPECT_TRUE(p.Enabled(id)) << s.what << ": " << id;
        for (const int id : s.off)
            EXPECT_FALSE(p.Enabled(id)) << s.what << ": " << id;
    }
}

}  // namespace

// --- single pendulum ---------------------------------------------------------------------------------

TEST(PendulumWindow, ButtonsResultsAndEmptyForms)
{
    Pendulum p({});
    const int kZero = kIdTraceZero, kRecord = kIdPendulumRecord, kT = kIdMeasurePeriod, kL = kIdMeasureLength,
              kClear = kIdTraceClear;
    EXPECT_EQ(p.Control(kL)->toolTip(), QStringLiteral("按下此按钮后，请在下方的绘图板中选择起始测量点!"));
    EXPECT_EQ(p.Control(kT)->toolTip(), QStringLiteral("按下后，请在下方的绘图板中选择起始测量点!"));
    auto pick = [&](std::vector<int> buttons, double to) {
        for (const int b : buttons)
            p.Click(b);
        p.Pick(kIdPendulumTrace, 0.3, to);
    };
    auto labels = [&] {
        return QStringList{p.Text(kIdFirstResultLabel + 1), p.Text(kIdFirstResultLabel + 3), p.Text(kIdFirstResultLabel + 5)};
    };
    const QString tnr = QStringLiteral("\\font{Times New Roman,26}\\text{%1}");
    CheckSteps(p, {
        {"opens", nullptr, {kStart, k25, k50}, {kStop, kZero, kRecord, kT, kL, kClear}},
        {"start", [&] { p.Start(); }, {kStop, kZero, kRecord}, {kStart, kT, kL, kClear}},
        {"record", [&] { p.Feed(Still(3, {0.0, kLength})); p.Click(kZero); p.Click(kRecord); },
         {kStop, kRecord}, {kZero, kT, kL, k25, k50}},
        {"stop", [&] { p.Feed(Swing(300)); p.Click(kStop); }, {kStart, kClear, k25, k50, kT}, {kStop, kZero, kRecord, kL}},
        {"period", [&] { pick({kT}, 5.5); }, {kL}, {}},
        // Too short for a full period: no T, the empty form, and no length measurement with it.
        {"no full period", [&] { pick({kT}, 1.3); }, {}, {kL}},
    });
    EXPECT_EQ(labels(), QStringList({tnr.arg("  (s)"), tnr.arg("  (m)"), tnr.arg("")}));
    // Both buttons before one pick: T first, then L and g from that T.
    pick({kT}, 5.5);
    pick({kT, kL}, 5.5);
    EXPECT_NEAR(p.window->Period(), kPeriod, 0.01);
    EXPECT_NEAR(p.window->Length(), kLength, 0.001);
    const auto* w = p.window.get();
    EXPECT_EQ(labels(), QStringList({tnr.arg(QString::asprintf("  %.3f(s)", w->Period())),
                                     tnr.arg(QString::asprintf("  %.3f(m)", w->Length())),
                                     tnr.arg(QString::asprintf(" %.3f", w->Gravity()))}));
    CheckSteps(p, {{"clear", [&] { p.Click(kClear); }, {kStart}, {kT, kL, kClear}}});
    EXPECT_EQ(labels(), QStringList({tnr.arg("  (s)"), tnr.arg("  (m)"), tnr.arg("")}));
    EXPECT_FALSE(p.window->Live().visible);
}

TEST(PendulumWindow, TraceTimesFollowTheRateAndTheSensorClock)
{
    struct Case {
        std::uint8_t secondVersion;
        int radio;
        float intervalUs;
        double step, span;
    };
    for (const Case& c : {Case{0x11, k50, 21000.0f, 0.021, 10.0}, Case{0x10, k25, 30000.0f, 0.04, 20.0},
                          Case{0x11, k25, 20000.0f, 0.04, 20.0}}) {
        Pendulum p({0x12, c.secondVersion});
        p.Click(c.radio);
        ZeroAndRecord(p, {0.0, kLength}, kIdPendulumRecord);
        p.Feed(Swing(20), c.intervalUs);
        const std::vector<double>& t = p.window->Trace().y;
        ASSERT_GE(t.size(), 4u) << c.step;
        // Without the time field the first point lies one step in; with it, the first decimated sample
        // after the zero may carry a skipped one's interval.
        EXPECT_NEAR(c.secondVersion == 0x10 ? t[0] : t[1] - t[0], c.step, 1e-6) << c.step;
        EXPECT_NEAR(t[3] - t[2], c.step, 1e-6) << c.step;
        EXPECT_EQ(p.Chart(kIdPendulumTrace)->view.ySpan, c.span) << c.step;
    }
}

TEST(PendulumWindow, TraceKeepsEveryPointAndTheWheelScrollsIt)
{
    Pendulum p({});
    ZeroAndRecord(p, {0.0, kLength}, kIdPendulumRecord);
    // 12 s of swinging: the trace rolls past its 10 s window; one sample far beyond the chart's x range.
    std::vector<SensorPos> motion = Swing(600);
    motion[300] = {0.45, 0.2};
    p.Feed(motion);
    const auto& trace = p.window->Trace();
    ASSERT_EQ(trace.x.size(), 600u);
    ASSERT_EQ(p.window->Points().size(), 600u);
    EXPECT_NEAR(trace.x[300], 0.45, 1e-6);
    EXPECT_NEAR(p.window->Points()[300].a, 0.45, 1e-6);
    EXPECT_GT(trace.firstDrawn, 0);
    p.Click(kStop);

    // The wheel over a button or the other chart (anywhere over the window) scrolls the trace: a notch
    // is one step of 1/f with the usual wheel setting, from the view the recording left, the very first
    // notch too (it must not jump a page on, past the newest point).
    const widgets::CChartView& view = p.Chart(kIdPendulumTrace)->view;
    const double rolled = view.yMin;
    EXPECT_NEAR(view.yMax, trace.y.back(), 0.03);
    p.Wheel(kIdTraceClear, true);
    EXPECT_NEAR(view.yMin, rolled - 0.02, 0.0101);
    EXPECT_GT(p.Chart(kIdPendulumTrace)->view.yMax, trace.y.back() - 0.05);
    const double before = view.yMin;
    p.Wheel(kIdPositionChart, true);
    EXPECT_NEAR(view.yMin, before - 0.02, 1e-9);
    p.Wheel(kIdMeasurePeriod, false);
    EXPECT_NEAR(view.yMin, before, 1e-9);
    EXPECT_EQ(p.Chart(kIdPositionChart)->view.yMin, -0.1);
}

// --- uniform circular motion and damped vibration ------------------------------------------------------

namespace {

const int kOmegaValue = kIdFirstResultLabel + 1, kRateValue = kIdFirstResultLabel + 3,
          kPeriodValue = kIdFirstResultLabel + 5, kRadiusValue = kIdFirstResultLabel + 7;

// Picks most of the trace's visible window for one measurement.
template <class Pupil>
void MeasureOnView(Pupil& p, int button)
{
    p.Click(button);
    const widgets::CChartView& v = p.Chart(kIdCircularTrace)->view;
    p.Pick(kIdCircularTrace, v.xMin + 0.05, v.xMax - 0.05);
}

}  // namespace

TEST(CircularWindow, ButtonsPicksWithoutAResultAndClear)
{
    Circle p({}, true);
    const int kZero = kIdTraceZero, kRecord = kIdCircularRecord, kRadius = kIdMeasureRadius,
              kOmega = kIdMeasureAngularVelocity, kClear = kIdTraceClear;
    auto labels = [&] {
        return QStringList{p.Text(kOmegaValue), p.Text(kRateValue), p.Text(kPeriodValue), p.Text(kRadiusValue)};
    };
    const QString tnr = QStringLiteral("\\font{Times New Roman,26}\\text{%1}");
    EXPECT_EQ(labels(), QStringList({tnr.arg("0(rad/s)"), tnr.arg("0(r/min)"), tnr.arg("  0(s)"), tnr.arg("0(m)")}));
    EXPECT_EQ(p.Control(kRadius)->toolTip(), QStringLiteral("按下后，需要在右侧绘图板中选择起止测量点!"));
    // The transmitter does not move after the zero: no spectrum peak, so no rate and no period.
    CheckSteps(p, {
        {"opens", nullptr, {kStart, k25, k50}, {kStop, kZero, kRecord, kRadius, kOmega, kClear}},
        {"start", [&] { p.Start(); }, {kStop, kZero, kRecord}, {kStart, kRadius, kOmega, kClear}},
        {"record", [&] { p.Feed(Still(2, {0.05, 0.4})); p.Click(kZero); p.Click(kRecord); },
         {kStop, kRecord}, {k25, k50, kRadius, kOmega}},
        {"stop", [&] { p.Feed(Still(200, {0.05, 0.4})); p.Click(kStop); },
         {kStart, k25, k50, kRadius, kOmega, kClear}, {kStop, kZero, kRecord}},
        {"no peak", [&] { MeasureOnView(p, kOmega); MeasureOnView(p, kRadius); }, {}, {}},
    });
    const QStringList shown = labels();
    EXPECT_EQ(shown[0], tnr.arg("0(rad/s)"));
    EXPECT_EQ(shown[3], tnr.arg(" 0.000(m)"));
    // Started again, the trace is empty but the measuring buttons are still on: picks over nothing.
    CheckSteps(p, {{"start again", [&] { p.Start(); }, {kRadius, kOmega, kClear}, {kStart}},
                   {"empty picks", [&] { MeasureOnView(p, kRadius); MeasureOnView(p, kOmega); }, {}, {}}});
    EXPECT_EQ(labels(), shown);
    CheckSteps(p, {{"clear", [&] { p.Click(kClear); }, {kStop}, {kRadius, kOmega, kClear}}});
    EXPECT_EQ(labels(), QStringList({tnr.arg("  0(rad/s)"), tnr.arg("  0(r/min)"), tnr.arg("  0(s)"), tnr.arg("  0(m)")}));
    EXPECT_FALSE(p.Chart(kIdCircularTrace)->PickArmed());
}

TEST(TraceWindows, LayOutAsTheirPartsSay)
{
    // Pendulum: charts from y = 50 to the label rows, 20 px in from both sides, the trace the lower two
    // thirds; the lower label row 20 px above the buttons, g's caption above T's.
    Pendulum p({});
    p.window->setWindowState(Qt::WindowNoState);
    p.window->resize(1024, 600);
    QApplication::processEvents();
    const QRect top = p.Chart(kIdPositionChart)->geometry(), trace = p.Chart(kIdPendulumTrace)->geometry();
    EXPECT_EQ(top, QRect(20, 50, 984, trace.top() - 50));
    EXPECT_EQ(trace.height(), (trace.bottom() + 1 - 50) * 2 / 3);
    EXPECT_EQ(trace.bottom() + 1, p.Control(kIdFirstResultLabel + 2)->y());
    EXPECT_EQ(p.Control(kIdFirstResultLabel + 1)->geometry().bottom() + 21, p.Control(kStart)->y());
    EXPECT_EQ(p.Control(kIdFirstResultLabel + 4)->x(), p.Control(kIdFirstResultLabel)->x());
    // Circular motion: a square path chart at the left from y = 70 (damped vibration: a third of the
    // width), the trace to the right edge, the label rows on the buttons.
    for (const bool circular : {true, false}) {
        Circle c({}, circular);
        c.window->setWindowState(Qt::WindowNoState);
        c.window->resize(1366, 768);
        QApplication::processEvents();
        const QRect path = c.Chart(kIdPositionChart)->geometry();
        EXPECT_EQ(path, QRect(0, 70, circular ? path.height() : 1366 / 3, path.height()));
        EXPECT_EQ(c.Chart(kIdCircularTrace)->geometry(), QRect(path.right() + 1, 70, 1365 - path.right(), path.height()));
        EXPECT_EQ(widgets::FindControl<QWidget>(c.window.get(), kIdMeasureRadius) != nullptr, circular);
        EXPECT_EQ(widgets::FindControl<QWidget>(c.window.get(), kRadiusValue) != nullptr, circular);
        const QRect rate = c.Control(kIdRateLabel)->geometry();
        EXPECT_EQ(rate.bottom() + 1 + (circular ? rate.height() : 0), c.Control(kStart)->y());
    }
}

// --- on the demo apparatus, at a person's pace ----------------------------------------------------------

namespace {

namespace demo = device::demo;
using DemoPendulum = zelkor::testing::DemoWindowPupil<CDlgTdSinglePendulum>;
using DemoCircle = zelkor::testing::DemoWindowPupil<CDlgTdCircularMotior>;

// Start, watch, zero, watch, record for `seconds`, stop: the steps every demo try shares. The pupil
// zeroes once the live marker shows where the object is, so half a second after the start at least.
template <class Pupil>
void DemoTry(Pupil& p, double pause, int recordId, double seconds, int radio = k50)
{
    p.Start();
    p.Click(radio);
    p.Wait(0.5 + pause);
    p.Click(kIdTraceZero);
    p.Wait(pause);
    p.Click(recordId);
    p.Wait(seconds);
    p.Click(kStop);
    p.Wait(pause);
}

}  // namespace

class PendulumDemo : public ::testing::TestWithParam<std::tuple<int, double>> {};

TEST_P(PendulumDemo, PeriodLengthAndGravityOfTheApparatus)
{
    namespace pd = demo::pendulum;
    const auto [radio, pause] = GetParam();
    DemoPendulum p(kSinglePendulumIndex);
    DemoTry(p, pause, kIdPendulumRecord, 26.0, radio);
    // Released 2.5 s into the recording; the pupil marks 20 s of swinging, scrolling the trace back.
    p.Click(kIdMeasurePeriod);
    p.Pick(kIdPendulumTrace, 25.5, 5.0);
    p.Click(kIdMeasureLength);
    p.Pick(kIdPendulumTrace, 5.0, 25.5);
    const double truth = 2 * std::numbers::pi * std::sqrt(pd::kLength / demo::kGravity) *
                         (1 + pd::kAmplitude * pd::kAmplitude / 16);  // finite amplitude
    EXPECT_NEAR(p.window->Period(), truth, 0.003 * truth);
    EXPECT_NEAR(p.window->Length(), pd::kLength, 0.003);
    EXPECT_NEAR(p.window->Gravity(), demo::kGravity, 0.01 * demo::kGravity);
}

INSTANTIATE_TEST_SUITE_P(RatesAndPauses, PendulumDemo,
                         ::testing::Combine(::testing::Values(k50, k25), ::testing::Values(0.0, 3.0, 30.0)));

// The rate recorded at, the radio clicked after stopping (the measurement keeps the recording's), pause.
class CircularDemo : public ::testing::TestWithParam<std::tuple<int, int, double>> {};

TEST_P(CircularDemo, RadiusAndRateOfTheTurntable)
{
    namespace cd = demo::circular;
    const auto [radio, afterStop, pause] = GetParam();
    DemoCircle p(kCircularMotionIndex, true);
    DemoTry(p, pause, kIdCircularRecord, 24.0, radio);
    p.Click(afterStop);
    // The pupil marks 17 s of turning (8.5 turns) for both, scrolling the trace back between the clicks.
    p.Click(kIdMeasureRadius);
    p.Pick(kIdCircularTrace, 23.0, 6.0);
    p.Click(kIdMeasureAngularVelocity);
    p.Pick(kIdCircularTrace, 6.0, 23.0);
    const double period = 60 / cd::kRevolutionsPerMinute;
    EXPECT_NEAR(Number(p.Text(kRadiusValue)), cd::kRadius, 0.002);
    EXPECT_NEAR(Number(p.Text(kRateValue)), cd::kRevolutionsPerMinute, (radio == k50 ? 50.0 : 25.0) / 2048 * 60);
    EXPECT_NEAR(Number(p.Text(kPeriodValue)), period, 0.026 * period);
    EXPECT_NEAR(Number(p.Text(kOmegaValue)), cd::kAngularVelocity, 0.026 * cd::kAngularVelocity);
}

INSTANTIATE_TEST_SUITE_P(RatesAndPauses, CircularDemo,
                         ::testing::Values(std::tuple{k50, k50, 0.0}, std::tuple{k50, k50, 30.0},
                                           std::tuple{k25, k25, 3.0}, std::tuple{k50, k25, 3.0},
                                           std::tuple{k25, k50, 30.0}));

TEST(DampedVibrationDemo, TheTraceShowsTheDecay)
{
    namespace dv = demo::damped_vibration;
    DemoCircle p(kDampedVibrationIndex, false);
    DemoTry(p, 3.0, kIdCircularRecord, 10.0);
    const widgets::CChartSeries& trace = p.window->Trace();
    ASSERT_GT(trace.x.size(), 450u);
    // Released about 2.5 s into the recording from its largest displacement. An extreme is the mean of
    // the five samples around the largest (smallest) near where it is due; the swing of a period, peak
    // less the trough after it, does not depend on where the pupil zeroed.
    auto extreme = [&](double due, double sign) {
        std::size_t top = 2;
        for (std::size_t i = 2; i + 2 < trace.x.size(); ++i)
            if (std::abs(trace.x[i] - due) < 0.25 && (std::abs(trace.x[top] - due) >= 0.25 || sign * trace.y[i] > sign * trace.y[top]))
                top = i;
        return std::accumulate(trace.y.begin() + static_cast<long>(top) - 2, trace.y.begin() + static_cast<long>(top) + 3, 0.0) / 5;
    };
    auto swing = [&](int n) {
        const double due = dv::kPullDelay + dv::kPull + dv::kHold + n * dv::kPeriod;
        return extreme(due, 1) - extreme(due + dv::kPeriod / 2, -1);
    };
    const double ratio = std::pow(swing(6) / swing(1), 1.0 / 5), truth = std::exp(-dv::kPeriod / dv::kDecayTime);
    EXPECT_NEAR(ratio, truth, 0.03 * truth);
}
