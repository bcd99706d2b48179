// The trace windows driven as a pupil drives them: the single pendulum, uniform circular motion and
// damped vibration, first with a scripted sensor sending the reports of a synthetic motion, then on the
// demo apparatus at a person's pace.
#include "device/demo_scenarios.h"
#include "experiments/circular_motion.h"
#include "experiments/single_pendulum.h"
#include "tests/support/when_shown.h"
#include "tests/support/window_pupil.h"

#include <QMessageBox>
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

// A bob on a string of `length` from the sensor, swinging with `amplitude` radians, sampled every
// `step` seconds from phase 0 (the bob released at the far side).
std::vector<SensorPos> Swing(int samples, double amplitude, double period, double step = 0.02, double length = kLength)
{
    std::vector<SensorPos> out;
    for (int k = 1; k <= samples; ++k) {
        const double theta = amplitude * std::cos(2 * std::numbers::pi * k * step / period);
        out.push_back({length * std::sin(theta), length * std::cos(theta)});
    }
    return out;
}

// A transmitter on a circle about (0, 0.40), `rpm` turns a minute, sampled every 0.02 s.
std::vector<SensorPos> Circling(int samples, double radius = 0.15, double rpm = 30.0)
{
    std::vector<SensorPos> out;
    for (int k = 1; k <= samples; ++k) {
        const double phi = 2 * std::numbers::pi * rpm / 60.0 * k * 0.02;
        out.push_back({radius * std::cos(phi), 0.40 + radius * std::sin(phi)});
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

const double kPeriod = 2 * std::numbers::pi * std::sqrt(kLength / kG);

}  // namespace

// --- single pendulum ---------------------------------------------------------------------------------

TEST(PendulumWindow, ButtonsResultsAndEmptyForms)
{
    Pendulum p({});
    const int kZero = kIdTraceZero, kRecord = kIdPendulumRecord, kPeriodBtn = kIdMeasurePeriod,
              kLengthBtn = kIdMeasureLength, kClear = kIdTraceClear;
    const int kPeriodValue = kIdFirstResultLabel + 1, kLengthValue = kIdFirstResultLabel + 3,
              kGravityValue = kIdFirstResultLabel + 5;
    EXPECT_EQ(p.window->windowTitle(), QStringLiteral("单摆"));
    EXPECT_EQ(p.Control(kLengthBtn)->toolTip(), QStringLiteral("按下此按钮后，请在下方的绘图板中选择起始测量点!"));
    EXPECT_EQ(p.Control(kPeriodBtn)->toolTip(), QStringLiteral("按下后，请在下方的绘图板中选择起始测量点!"));
    auto period = [&](double from, double to) {
        p.Click(kPeriodBtn);
        p.Pick(kIdPendulumTrace, from, to);
    };
    CheckSteps(p, {
        {"opens", nullptr, {kStart, k25, k50}, {kStop, kZero, kRecord, kPeriodBtn, kLengthBtn, kClear}},
        {"start", [&] { p.Start(); }, {kStop, kZero, kRecord}, {kStart, kPeriodBtn, kLengthBtn, kClear}},
        {"record", [&] { p.Feed(Still(3, {0.0, kLength})); p.Click(kZero); p.Click(kRecord); },
         {kStop, kRecord}, {kZero, kPeriodBtn, kLengthBtn, k25, k50}},
        {"stop", [&] { p.Feed(Swing(300, 0.2, kPeriod)); p.Click(kStop); },
         {kStart, kClear, k25, k50, kPeriodBtn}, {kStop, kZero, kRecord, kLengthBtn}},
        {"period", [&] { period(0.3, 5.5); }, {kLengthBtn}, {}},
    });
    EXPECT_NEAR(p.window->Period(), kPeriod, 0.01);
    EXPECT_EQ(p.Text(kPeriodValue), QString::asprintf("\\font{Times New Roman,26}\\text{  %.3f(s)}", p.window->Period()));

    // Too short for a full period: no T, the empty form, and no length measurement with it.
    CheckSteps(p, {{"no full period", [&] { period(1.0, 1.3); }, {}, {kLengthBtn}}});
    EXPECT_EQ(p.window->Period(), 0.0);
    EXPECT_EQ(p.Text(kPeriodValue), QStringLiteral("\\font{Times New Roman,26}\\text{  (s)}"));

    // A period and the length from one pick (both buttons pressed first).
    period(0.3, 5.5);
    p.Click(kPeriodBtn);
    p.Click(kLengthBtn);
    p.Pick(kIdPendulumTrace, 0.3, 5.5);
    EXPECT_NEAR(p.window->Length(), kLength, 0.001);
    EXPECT_EQ(p.Text(kGravityValue), QString::asprintf("\\font{Times New Roman,26}\\text{ %.3f}", p.window->Gravity()));

    CheckSteps(p, {{"clear", [&] { p.Click(kClear); }, {kStart}, {kPeriodBtn, kLengthBtn, kClear}}});
    EXPECT_EQ(p.Text(kPeriodValue), QStringLiteral("\\font{Times New Roman,26}\\text{  (s)}"));
    EXPECT_EQ(p.Text(kLengthValue), QStringLiteral("\\font{Times New Roman,26}\\text{  (m)}"));
    EXPECT_EQ(p.Text(kGravityValue), QStringLiteral("\\font{Times New Roman,26}\\text{}"));
    EXPECT_FALSE(p.window->Live().visible);
}

TEST(PendulumWindow, MeasuresPeriodLengthAndGravity)
{
    // A 0.2 rad swing of a 0.5 m pendulum, recorded at 50 Hz and at 25 Hz; the pupil marks nearly all
    // of the trace's window (10 s at 50 Hz, 20 s at 25 Hz), the period first, then the length.
    struct Case {
        int radio;
        double end;
    };
    for (const Case c : {Case{k50, 9.5}, Case{k25, 19.0}}) {
        const int radio = c.radio;
        Pendulum p({});
        p.Click(radio);
        ZeroAndRecord(p, {0.0, kLength}, kIdPendulumRecord);
        p.Feed(Swing(static_cast<int>(c.end * 50) + 20, 0.2, kPeriod));
        p.Click(kStop);
        EXPECT_NEAR(p.window->ZeroY(), kLength, 1e-4);
        p.Click(kIdMeasurePeriod);
        p.Pick(kIdPendulumTrace, 0.2, c.end);
        p.Click(kIdMeasureLength);
        p.Pick(kIdPendulumTrace, 0.2, c.end);
        EXPECT_NEAR(p.window->Period(), kPeriod, 0.003 * kPeriod) << radio;
        EXPECT_NEAR(p.window->Length(), kLength, 0.003) << radio;
        EXPECT_NEAR(p.window->Gravity(), kG, 0.01 * kG) << radio;
    }
}

TEST(PendulumWindow, TraceTimesFollowTheRateAndTheSensorClock)
{
    struct Case {
        const char* what;
        std::uint8_t secondVersion;
        int radio;
        float intervalUs;
        double first, step, span;
    };
    for (const Case& c : {Case{"50 Hz with time field", 0x11, k50, 21000.0f, 0.021, 0.021, 10.0},
                          Case{"25 Hz without time field", 0x10, k25, 30000.0f, 0.04, 0.04, 20.0},
                          Case{"25 Hz with time field", 0x11, k25, 20000.0f, 0.04, 0.04, 20.0}}) {
        Pendulum p({0x12, c.secondVersion});
        p.Click(c.radio);
        ZeroAndRecord(p, {0.0, kLength}, kIdPendulumRecord);
        p.Feed(Swing(20, 0.2, kPeriod), c.intervalUs);
        const widgets::CChartSeries& trace = p.window->Trace();
        ASSERT_GE(trace.y.size(), 4u) << c.what;
        // The first decimated sample after the zero may carry a skipped one's interval at 25 Hz.
        EXPECT_NEAR(trace.y[1] - trace.y[0], c.step, 1e-6) << c.what;
        EXPECT_NEAR(trace.y[3] - trace.y[2], c.step, 1e-6) << c.what;
        EXPECT_EQ(p.Chart(kIdPendulumTrace)->view.ySpan, c.span) << c.what;
        EXPECT_EQ(p.window->Points().size(), trace.y.size()) << c.what;
        if (c.secondVersion == 0x10) {
            EXPECT_NEAR(trace.y[0], c.first, 1e-12) << c.what;
        }
    }
}

TEST(PendulumWindow, TraceKeepsEveryPointAndTheWheelScrollsIt)
{
    Pendulum p({});
    ZeroAndRecord(p, {0.0, kLength}, kIdPendulumRecord);
    // 12 s of swinging: the trace rolls past its 10 s window; one sample far beyond the chart's x range.
    std::vector<SensorPos> motion = Swing(600, 0.2, kPeriod);
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
    // is one step of 1/f with the usual wheel setting.
    const widgets::CChartView& view = p.Chart(kIdPendulumTrace)->view;
    p.Wheel(kIdTraceClear, true);
    const double before = view.yMin;
    p.Wheel(kIdPositionChart, true);
    EXPECT_NEAR(view.yMin, before - 0.02, 1e-9);
    p.Wheel(kIdMeasurePeriod, false);
    EXPECT_NEAR(view.yMin, before, 1e-9);
    EXPECT_EQ(p.Chart(kIdPositionChart)->view.yMin, -0.1);
}

TEST(PendulumWindow, NoSensorAtStartSaysSoAndStaysStopped)
{
    Pendulum p({});
    p.platform->SetDevices({});
    QString text;
    zelkor::testing::ShownWatcher<QMessageBox> watcher([&](QMessageBox* box) {
        text = box->text();
        box->accept();
    });
    p.Click(kStart);
    EXPECT_EQ(text, QStringLiteral("找不到Zelkor设备!"));
    EXPECT_TRUE(p.Enabled(kStart));
    EXPECT_FALSE(p.Enabled(kStop));
    EXPECT_FALSE(p.window->WorkerCreated());
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

TEST(CircularWindow, RadiusAndRotationAtTheRateOfTheRecording)
{
    struct Case {
        const char* what;
        int recordAt, afterStop;
        double bin;  // r/min per spectrum step
    };
    for (const Case& c : {Case{"50 Hz", k50, k50, 50.0 / 2048 * 60}, Case{"25 Hz", k25, k25, 25.0 / 2048 * 60},
                          Case{"50 Hz, then 25Hz clicked", k50, k25, 50.0 / 2048 * 60}}) {
        Circle p({}, true);
        p.Click(c.recordAt);
        ZeroAndRecord(p, {0.0, 0.40}, kIdCircularRecord);
        p.Feed(Circling(1200));
        p.Click(kStop);
        p.Click(c.afterStop);
        // The trace shows 3 s; the pupil marks 15 s, scrolling back between the two clicks.
        MeasureOnView(p, kIdMeasureRadius);
        p.Click(kIdMeasureAngularVelocity);
        p.Pick(kIdCircularTrace, 22.0, 7.0);
        EXPECT_NEAR(Number(p.Text(kRadiusValue)), 0.15, 0.002) << c.what;
        EXPECT_NEAR(Number(p.Text(kRateValue)), 30.0, c.bin) << c.what;
        EXPECT_NEAR(Number(p.Text(kPeriodValue)), 2.0, 2.0 * 0.026) << c.what;
        EXPECT_NEAR(Number(p.Text(kOmegaValue)), std::numbers::pi, std::numbers::pi * 0.026) << c.what;
        EXPECT_TRUE(p.Text(kRateValue).endsWith(QStringLiteral("(r/min)}"))) << c.what;
    }
}

TEST(CircularWindow, PicksWithoutAResultLeaveTheLabels)
{
    Circle p({}, true);
    const QStringList initial = {p.Text(kOmegaValue), p.Text(kRateValue), p.Text(kPeriodValue), p.Text(kRadiusValue)};
    EXPECT_EQ(initial[1], QStringLiteral("\\font{Times New Roman,26}\\text{0(r/min)}"));
    auto labels = [&] {
        return QStringList{p.Text(kOmegaValue), p.Text(kRateValue), p.Text(kPeriodValue), p.Text(kRadiusValue)};
    };
    // A transmitter that does not move after the zero: no spectrum peak, so no rate and no period.
    ZeroAndRecord(p, {0.05, 0.40}, kIdCircularRecord);
    p.Feed(Still(120, {0.05, 0.40}));
    p.Click(kStop);
    MeasureOnView(p, kIdMeasureAngularVelocity);
    EXPECT_EQ(labels(), initial);

    // Started again, the trace is empty but the measuring buttons are still on: a pick over nothing.
    p.Start();
    EXPECT_TRUE(p.Enabled(kIdMeasureRadius));
    MeasureOnView(p, kIdMeasureRadius);
    MeasureOnView(p, kIdMeasureAngularVelocity);
    EXPECT_EQ(labels(), initial);
    for (const QString& text : labels()) {
        EXPECT_FALSE(text.contains(QStringLiteral("nan")) || text.contains(QStringLiteral("inf"))) << text.toStdString();
    }
}

TEST(CircularWindow, ButtonStatesAndClear)
{
    Circle p({}, true);
    const int kZero = kIdTraceZero, kRecord = kIdCircularRecord, kRadius = kIdMeasureRadius,
              kOmega = kIdMeasureAngularVelocity, kClear = kIdTraceClear;
    EXPECT_EQ(p.Control(kRadius)->toolTip(), QStringLiteral("按下后，需要在右侧绘图板中选择起止测量点!"));
    CheckSteps(p, {
        {"opens", nullptr, {kStart, k25, k50}, {kStop, kZero, kRecord, kRadius, kOmega, kClear}},
        {"start", [&] { p.Start(); }, {kStop, kZero, kRecord}, {kStart, kRadius, kOmega, kClear}},
        {"record", [&] { p.Feed(Still(2, {0.0, 0.4})); p.Click(kZero); p.Click(kRecord); },
         {kStop, kRecord}, {k25, k50, kRadius, kOmega}},
        {"stop", [&] { p.Feed(Circling(200)); p.Click(kStop); },
         {kStart, k25, k50, kRadius, kOmega, kClear}, {kStop, kZero, kRecord}},
        {"clear", [&] { MeasureOnView(p, kRadius); p.Click(kClear); }, {kStart}, {kRadius, kOmega, kClear}},
    });
    EXPECT_EQ(p.Text(kRadiusValue), QStringLiteral("\\font{Times New Roman,26}\\text{  0(m)}"));
    EXPECT_EQ(p.Text(kOmegaValue), QStringLiteral("\\font{Times New Roman,26}\\text{  0(rad/s)}"));
    EXPECT_FALSE(p.Chart(kIdCircularTrace)->PickArmed());
    EXPECT_EQ(p.window->Trace().numberDrawn, 0);
    EXPECT_EQ(p.window->Points().size(), 200u);  // the point list stays until the next start
}

TEST(TraceWindows, LayOutAsTheirPartsSay)
{
    // Pendulum: charts from y = 50 to the label rows, 20 px in from both sides, the trace the lower
    // two thirds; the lower label row 20 px above the buttons.
    {
        Pendulum p({});
        p.window->setWindowState(Qt::WindowNoState);
        p.window->resize(1024, 600);
        QApplication::processEvents();
        const QRect top = p.Chart(kIdPositionChart)->geometry(), trace = p.Chart(kIdPendulumTrace)->geometry();
        const QRect periodValue = p.Control(kIdFirstResultLabel + 1)->geometry();
        const QRect lengthCaption = p.Control(kIdFirstResultLabel + 2)->geometry();
        EXPECT_EQ(top.topLeft(), QPoint(20, 50));
        EXPECT_EQ(trace.right(), 1024 - 21);
        EXPECT_EQ(trace.top(), top.bottom() + 1);
        EXPECT_EQ(trace.height(), (trace.bottom() + 1 - 50) * 2 / 3);
        EXPECT_EQ(trace.bottom() + 1, lengthCaption.top());
        EXPECT_EQ(periodValue.bottom() + 1 + 20, p.Control(kStart)->y());
        EXPECT_EQ(p.Control(kIdFirstResultLabel + 4)->x(), p.Control(kIdFirstResultLabel)->x());  // g under T
    }
    // Circular motion: a square path chart at the left from y = 70, the trace to the right edge.
    for (const bool circular : {true, false}) {
        Circle p({}, circular);
        p.window->setWindowState(Qt::WindowNoState);
        p.window->resize(1366, 768);
        QApplication::processEvents();
        const QRect path = p.Chart(kIdPositionChart)->geometry(), trace = p.Chart(kIdCircularTrace)->geometry();
        EXPECT_EQ(path.topLeft(), QPoint(0, 70));
        EXPECT_EQ(path.width(), circular ? path.height() : 1366 / 3);
        EXPECT_EQ(trace.left(), path.right() + 1);
        EXPECT_EQ(trace.right(), 1365);
        EXPECT_EQ(p.window->windowTitle(), circular ? QStringLiteral("匀速圆周运动") : QStringLiteral("阻尼振动"));
        EXPECT_EQ(widgets::FindControl<QWidget>(p.window.get(), kIdMeasureRadius) != nullptr, circular);
        EXPECT_EQ(widgets::FindControl<QWidget>(p.window.get(), kRadiusValue) != nullptr, circular);
        EXPECT_EQ(p.Control(kIdRateLabel)->geometry().bottom() + 1 + (circular ? p.Control(kIdRateLabel)->height() : 0),
                  p.Control(kStart)->y());
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

class PendulumDemo : public ::testing::TestWithParam<double> {};

TEST_P(PendulumDemo, PeriodLengthAndGravityOfTheApparatus)
{
    namespace pd = demo::pendulum;
    DemoPendulum p(kSinglePendulumIndex);
    DemoTry(p, GetParam(), kIdPendulumRecord, 26.0);
    // Released 2.5 s into the recording; the pupil marks 20 s of swinging, scrolling the trace back.
    p.Click(kIdMeasurePeriod);
    p.Pick(kIdPendulumTrace, 25.5, 5.0);
    p.Click(kIdMeasureLength);
    p.Pick(kIdPendulumTrace, 5.0, 25.5);
    const double small = 2 * std::numbers::pi * std::sqrt(pd::kLength / demo::kGravity);
    const double truth = small * (1 + pd::kAmplitude * pd::kAmplitude / 16);
    EXPECT_NEAR(p.window->Period(), truth, 0.003 * truth);
    EXPECT_NEAR(p.window->Length(), pd::kLength, 0.003);
    EXPECT_NEAR(p.window->Gravity(), demo::kGravity, 0.01 * demo::kGravity);
}

INSTANTIATE_TEST_SUITE_P(Pauses, PendulumDemo, ::testing::Values(0.0, 3.0, 30.0));

class CircularDemo : public ::testing::TestWithParam<std::tuple<int, double>> {};

TEST_P(CircularDemo, RadiusAndRateOfTheTurntable)
{
    const auto [radio, pause] = GetParam();
    const double f = radio == k50 ? 50.0 : 25.0;
    DemoCircle p(kCircularMotionIndex, true);
    DemoTry(p, pause, kIdCircularRecord, 24.0, radio);
    // The pupil marks 17 s of turning (8.5 turns) for both, scrolling the trace back between the clicks.
    p.Click(kIdMeasureRadius);
    p.Pick(kIdCircularTrace, 23.0, 6.0);
    p.Click(kIdMeasureAngularVelocity);
    p.Pick(kIdCircularTrace, 6.0, 23.0);
    namespace cd = demo::circular;
    EXPECT_NEAR(Number(p.Text(kRadiusValue)), cd::kRadius, 0.002);
    EXPECT_NEAR(Number(p.Text(kRateValue)), cd::kRevolutionsPerMinute, f / 2048 * 60);
    const double period = 60 / cd::kRevolutionsPerMinute;
    EXPECT_NEAR(Number(p.Text(kPeriodValue)), period, 0.026 * period);
    EXPECT_NEAR(Number(p.Text(kOmegaValue)), cd::kAngularVelocity, 0.026 * cd::kAngularVelocity);
}

INSTANTIATE_TEST_SUITE_P(RatesAndPauses, CircularDemo,
                         ::testing::Combine(::testing::Values(k50, k25), ::testing::Values(0.0, 3.0, 30.0)));

TEST(DampedVibrationDemo, TheTraceShowsTheDecay)
{
    namespace dv = demo::damped_vibration;
    DemoCircle p(kDampedVibrationIndex, false);
    DemoTry(p, 3.0, kIdCircularRecord, 10.0);
    const widgets::CChartSeries& trace = p.window->Trace();
    ASSERT_GT(trace.x.size(), 450u);
    // Released about 2.5 s into the recording from its largest displacement. Each extreme is the mean
    // of the five samples around the largest (smallest) near where it is due; the swing of a period,
    // peak less the trough after it, does not depend on where the pupil zeroed.
    const double release = dv::kPullDelay + dv::kPull + dv::kHold;
    auto extreme = [&](double due, double sign) {
        std::size_t top = 0;
        for (std::size_t i = 2; i + 2 < trace.x.size(); ++i)
            if (std::abs(trace.x[i] - due) < 0.25 && (top == 0 || sign * trace.y[i] > sign * trace.y[top]))
                top = i;
        EXPECT_NE(top, 0u) << due;
        double sum = 0.0;
        for (std::size_t i = std::max<std::size_t>(top, 2) - 2; i <= top + 2; ++i)
            sum += trace.y[i];
        return sum / 5;
    };
    std::vector<double> k, logSwing;
    for (int n = 1; n <= 6; ++n) {
        const double due = release + n * dv::kPeriod;
        k.push_back(n);
        logSwing.push_back(std::log(extreme(due, 1) - extreme(due + dv::kPeriod / 2, -1)));
    }
    // The ratio of one swing to the one before, from a straight line through the logarithms.
    const double mk = std::accumulate(k.begin(), k.end(), 0.0) / 6;
    const double ml = std::accumulate(logSwing.begin(), logSwing.end(), 0.0) / 6;
    double sxy = 0.0, sxx = 0.0;
    for (std::size_t i = 0; i < k.size(); ++i) {
        sxy += (k[i] - mk) * (logSwing[i] - ml);
        sxx += (k[i] - mk) * (k[i] - mk);
    }
    const double ratio = std::exp(sxy / sxx), truth = std::exp(-dv::kPeriod / dv::kDecayTime);
    EXPECT_NEAR(ratio, truth, 0.03 * truth);
}
