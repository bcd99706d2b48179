// The calibration tool driven as the teacher drives it: on the demo sensor (live readings, calibrations
// and their effect, at a person's pace), and on a scripted sensor for the exact bytes and the edges.
#include "device/demo_scenarios.h"
#include "device/sensor_protocol.h"
#include "experiments/calibration_tool.h"
#include "tests/support/experiment_pupil.h"
#include "widgets/list_box.h"
#include "widgets/text_boxes.h"

#include <QAbstractButton>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <cmath>

using namespace zelkor;
using namespace zelkor::experiments;
using namespace zelkor::experiments::calibration;
using zelkor::testing::DemoPupil;
using zelkor::testing::MessageCatcher;
using zelkor::testing::ScriptedPlatform;
using zelkor::testing::ScriptedPupil;
using zelkor::testing::WaitUntil;
using Bytes = ScriptedPlatform::Bytes;

namespace {

namespace cal = device::demo::calibration;
constexpr int kStart = 232;
constexpr int kStop = 233;

// What a value box shows: its plain text, or the text run of the markup a repaint put there.
template <class Pupil>
QString Box(const Pupil& pupil, int id)
{
    const QString text = pupil.template Control<widgets::CZelFormattedTextBox>(id)->text;
    const qsizetype run = text.lastIndexOf(QStringLiteral("\\text{"));
    return run < 0 ? text : text.mid(run + 6).chopped(1).trimmed();
}

// Chooses a display mode in the list box with the mouse.
template <class Pupil>
void ChooseMode(Pupil& pupil, int index)
{
    auto* list = pupil.template Control<widgets::CZelListBox>(kIdMode);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(index)).center());
}

// --- on the demo sensor ------------------------------------------------------------------------------

class DemoTeacher : public DemoPupil<CDlgTdCalibration> {
public:
    DemoTeacher() : DemoPupil(kCalibrationToolIndex)
    {
        Click(kStart);
        Wait(1.0);
        // Records the two distances: "记录数据", then back to the distances in the list.
        Click(kIdRecord);
        ChooseMode(*this, 0);
        Wait(0.2);
    }
    // Mean recorded L1 and L2 (m) over `seconds`, from a cleared chart; every period shown meanwhile is
    // checked against 20 ms.
    std::pair<double, double> MeanDistances(double seconds)
    {
        Click(kIdClear);
        for (double t = 0.0; t < seconds; t += 0.1) {
            Wait(0.1);
            EXPECT_NEAR(window->Period(), 0.020000, 0.00003);
        }
        const widgets::CChartSeries& s = window->Series(1);
        EXPECT_GT(s.x.size(), static_cast<size_t>(seconds * 40));
        double l = 0.0, r = 0.0;
        for (std::size_t i = 0; i < s.x.size(); ++i) {
            l += s.x[i];
            r += s.y[i];
        }
        return {l / static_cast<double>(s.x.size()), r / static_cast<double>(s.x.size())};
    }
    // Whether the sensor received exactly these bytes as one command.
    bool Received(const Bytes& bytes) const
    {
        for (const auto& c : rig.sensor->Commands())
            if (c == bytes)
                return true;
        return false;
    }
};

TEST(CalibrationToolDemo, LiveDistancesAndEachCalibrationsEffect)
{
    DemoTeacher teacher;
    CDlgTdCalibration& w = *teacher.window;
    EXPECT_EQ(w.m_transformIndex.load(), 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^0\\.0[12]\\d{4}\\(s\\)$")).match(Box(teacher, kIdPeriodValue)).hasMatch())
        << Box(teacher, kIdPeriodValue).toStdString();
    auto [l, r] = teacher.MeanDistances(10.0);
    EXPECT_NEAR(l, cal::kLeft, 0.0002);
    EXPECT_NEAR(r, cal::kRight, 0.0002);
    EXPECT_EQ(Box(teacher, kIdFirstValue), QStringLiteral("%1(m)").arg(QString::asprintf("%.3f", w.CurrentX())));

    // The helper holds the transmitter 200 mm from both receivers, however long it takes.
    teacher.AskHelper(QStringLiteral("移到距两接收器200 mm处"));
    teacher.Wait(device::demo::kHelperCarry + 3.0);
    EXPECT_EQ(teacher.Phase(), "held at the calibration point");

    // The room is at 20 °C: the default T0 of 25.0 stretches every distance by the speed of sound.
    MessageCatcher messages;
    teacher.Click(kIdCalibrateTemperature);
    teacher.Wait(0.5);
    EXPECT_TRUE(teacher.Received({0x68, 0x0B, 0x0B, 0x68, 0x03, 0x00, 0x00, 0xC8, 0x41, 0xEB, 0x90}));
    std::tie(l, r) = teacher.MeanDistances(3.0);
    const double stretch = std::sqrt((273.15 + 25.0) / (273.15 + device::kDemoTemperatureC));
    EXPECT_NEAR(l, cal::kFarLeft * stretch, 0.0005);
    EXPECT_NEAR(w.Temperature(), 25.0f, 0.3f);

    // L1 = 200 at 200 mm: the left distance reads true again, the right one stays stretched.
    teacher.Type(kIdL1, QStringLiteral("200"));
    teacher.Wait(3.0);
    teacher.Click(kIdCalibrateLeft);
    teacher.Wait(0.5);
    EXPECT_TRUE(teacher.Received({0x68, 0x0B, 0x0B, 0x68, 0x04, 0x00, 0x00, 0x48, 0x43, 0xEB, 0x90}));
    std::tie(l, r) = teacher.MeanDistances(3.0);
    EXPECT_NEAR(l, 0.200, 0.0005);
    EXPECT_NEAR(r, cal::kFarRight * stretch, 0.0005);
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join(QStringLiteral(" | ")).toStdString();
}

// --- on a scripted sensor ----------------------------------------------------------------------------

Bytes Report(float leftMm, float rightMm, float intervalUs = 20000.0f, float temperature = 21.5f)
{
    return zelkor::testing::ReportBytes(leftMm, rightMm, temperature, intervalUs);
}

class Teacher : public ScriptedPupil<CDlgTdCalibration> {
public:
    explicit Teacher(std::uint8_t secondVersion = 0x11) : ScriptedPupil(secondVersion)
    {
        Click(kStart);
        EXPECT_TRUE(WaitUntil([&] { return platform->WaitForBlockedRead(std::chrono::milliseconds(0)); }));
    }
    // The calibration commands written so far (11-byte writes).
    std::vector<Bytes> Calibrations() const
    {
        std::vector<Bytes> out;
        for (const Bytes& b : Written())
            if (b.size() == 11)
                out.push_back(b);
        return out;
    }
};

Bytes Command(int code, float value)
{
    const auto c = device::CalibrationCommand(static_cast<device::CalibrationCode>(code), value);
    return {c.begin(), c.end()};
}

TEST(CalibrationToolWindow, OpensStoppedWithItsControls)
{
    ScriptedPupil<CDlgTdCalibration> pupil;
    CDlgTdCalibration& w = *pupil.window;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("校准测试软件(2D)"));
    EXPECT_FALSE(w.isMaximized());
    EXPECT_EQ(w.geometry(), w.screen()->geometry());
    EXPECT_FALSE(w.WorkerCreated());
    for (int id : {232, 242, 1008})
        EXPECT_TRUE(pupil.Enabled(id)) << id;
    for (int id : {233, 244, 254, 245, 246})
        EXPECT_FALSE(pupil.Enabled(id)) << id;
    EXPECT_EQ(pupil.Control<QLineEdit>(kIdT0)->text(), QStringLiteral("25.0"));
    EXPECT_EQ(pupil.Control<QLineEdit>(kIdL1)->text(), QStringLiteral("100"));
    EXPECT_EQ(pupil.Control<QLineEdit>(kIdL2)->text(), QStringLiteral("100"));
    EXPECT_EQ(pupil.Control<widgets::CZelListBox>(kIdMode)->GetCurSel(), 0);
    EXPECT_EQ(w.m_transformIndex.load(), 0);
}

// Every field text and what the sensor gets for it: the exact command, or the message and nothing.
TEST(CalibrationToolWindow, ReferenceTextsSentOrRefused)
{
    Teacher teacher;
    struct Case {
        int field, button;
        const char* text;
        int code;     // 0: refused
        float value;
    };
    const Case cases[] = {
        {kIdT0, kIdCalibrateTemperature, "25.0", 3, 25.0f},
        {kIdL1, kIdCalibrateLeft, "200", 4, 200.0f},
        {kIdL2, kIdCalibrateRight, " 150.5mm", 5, 150.5f},
        {kIdT0, kIdCalibrateTemperature, "-5", 3, -5.0f},
        {kIdT0, kIdCalibrateTemperature, "", 0, 0},
        {kIdT0, kIdCalibrateTemperature, "abc", 0, 0},
        {kIdT0, kIdCalibrateTemperature, "-300", 0, 0},
        {kIdT0, kIdCalibrateTemperature, "nan", 0, 0},
        {kIdL1, kIdCalibrateLeft, "0", 0, 0},
        {kIdL1, kIdCalibrateLeft, "-200", 0, 0},
        {kIdL2, kIdCalibrateRight, "1e39", 0, 0},
        {kIdL2, kIdCalibrateRight, "inf", 0, 0},
        {kIdL2, kIdCalibrateRight, "--5", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        teacher.Type(c.field, QString::fromUtf8(c.text));
        const std::size_t before = teacher.Calibrations().size();
        MessageCatcher messages;
        teacher.Click(c.button);
        teacher.Feed({Report(100.0f, 100.0f)});
        const auto sent = teacher.Calibrations();
        if (c.code) {
            ASSERT_EQ(sent.size(), before + 1);
            EXPECT_EQ(sent.back(), Command(c.code, c.value));
            EXPECT_TRUE(messages.texts.isEmpty());
        } else {
            EXPECT_EQ(sent.size(), before) << "nothing written into the sensor";
            EXPECT_EQ(messages.texts, QStringList{QStringLiteral("请输入校准温度!")});
        }
        EXPECT_EQ(teacher.window->PendingCode(), kNoRequest);
    }
    EXPECT_EQ(Command(4, 200.0f), (Bytes{0x68, 0x0B, 0x0B, 0x68, 0x04, 0x00, 0x00, 0x48, 0x43, 0xEB, 0x90}));
}

// Only the last request before a report is sent; one made while the worker shows a message for the
// previous one is kept for the next report.
TEST(CalibrationToolWindow, RequestsBetweenReports)
{
    Teacher teacher;
    teacher.Click(kIdCalibrateLeft);
    teacher.Click(kIdCalibrateRight);
    teacher.Feed({Report(100.0f, 100.0f)});
    ASSERT_EQ(teacher.Calibrations(), std::vector<Bytes>{Command(5, 100.0f)});

    teacher.Type(kIdT0, QStringLiteral("x"));
    bool asked = false;
    zelkor::testing::ShownWatcher<QMessageBox> whileShown([&](QMessageBox* box) {
        asked = true;
        teacher.Control<QLineEdit>(kIdL1)->setText(QStringLiteral("120"));
        teacher.Control<QAbstractButton>(kIdCalibrateLeft)->click();
        box->accept();
    });
    teacher.Click(kIdCalibrateTemperature);
    teacher.Feed({Report(100.0f, 100.0f)});
    ASSERT_TRUE(asked);
    EXPECT_EQ(teacher.Calibrations().size(), 1u) << "the refused T0 wrote nothing";
    teacher.Feed({Report(100.0f, 100.0f)});
    EXPECT_EQ(teacher.Calibrations().back(), Command(4, 120.0f));
}

TEST(CalibrationToolWindow, ValuesPeriodAndClear)
{
    {
        SCOPED_TRACE("a version 1.0 sensor has no time field");
        Teacher old(0x10);
        old.Feed({Report(200.0f, 150.0f, 35000.0f)});
        EXPECT_EQ(Box(old, kIdPeriodValue), QStringLiteral("0.020000(s)"));
    }
    Teacher teacher;
    CDlgTdCalibration& w = *teacher.window;
    teacher.Feed({Report(200.0f, 150.0f, 19990.0f)});
    EXPECT_EQ(Box(teacher, kIdFirstValue), QStringLiteral("0.200(m)"));
    EXPECT_EQ(Box(teacher, kIdSecondValue), QStringLiteral("0.150(m)"));
    EXPECT_EQ(Box(teacher, kIdTemperatureValue), QStringLiteral("21.5(℃)"));
    EXPECT_EQ(Box(teacher, kIdPeriodValue), QStringLiteral("0.019990(s)"));
    ASSERT_EQ(w.Series(0).x.size(), 1u);
    EXPECT_NEAR(w.Series(0).x[0], 0.2, 1e-6);
    EXPECT_NEAR(w.Series(0).y[0], 0.15, 1e-6);

    teacher.Click(kIdClear);
    EXPECT_EQ(Box(teacher, kIdFirstValue), QStringLiteral("0(m)"));
    EXPECT_EQ(Box(teacher, kIdTemperatureValue), QStringLiteral("0(℃)"));
    EXPECT_EQ(Box(teacher, kIdPeriodValue), QStringLiteral("0.019990(s)")) << "the period stays";
    EXPECT_FALSE(w.Series(0).visible);

    // 记录数据: positions, and only points inside the chart's quadrant are recorded.
    teacher.Click(kIdRecord);
    EXPECT_EQ(w.m_transformIndex.load(), 1);
    EXPECT_EQ(teacher.Control<widgets::CZelListBox>(kIdMode)->GetCurSel(), 1);
    ChooseMode(teacher, 0);  // distances again: L1 and L2 are recorded as they are
    EXPECT_EQ(w.m_transformIndex.load(), 0);
    EXPECT_TRUE(w.Recording());
    teacher.Feed({Report(200.0f, 150.0f), Report(1100.0f, 1090.0f), Report(300.0f, 250.0f)});
    EXPECT_EQ(w.Series(1).x.size(), 2u) << "x >= 1 is not drawn";
    EXPECT_FALSE(w.Series(0).visible);
    teacher.Click(kStop);
    EXPECT_FALSE(w.Recording());
    EXPECT_TRUE(teacher.Enabled(kStart));
    EXPECT_FALSE(teacher.Enabled(kIdCalibrateLeft));
}

// A sensor that does not identify keeps its link and is asked again; a write that fails is reported
// and streaming goes on.
TEST(CalibrationToolWindow, FailuresOnTheLink)
{
    ScriptedPupil<CDlgTdCalibration> pupil;
    pupil.answering = false;
    pupil.platform->QueueRead(Bytes(64, 0));  // a stale report instead of the reply
    pupil.Click(kStart);
    ASSERT_TRUE(WaitUntil([&] { return pupil.platform->PendingReads() == 0; }));
    pupil.answering = true;
    pupil.platform->QueueRead(zelkor::testing::IdentifyReplyBytes());
    ASSERT_TRUE(WaitUntil([&] { return pupil.window->m_streaming.load(); }));
    EXPECT_EQ(pupil.platform->OpenedPaths().size(), 3u) << "the device and its two pipes, once";

    pupil.platform->SetWritesFail(true);
    MessageCatcher messages;
    pupil.Click(kIdCalibrateLeft);
    pupil.Feed({Report(100.0f, 100.0f)});
    EXPECT_EQ(messages.texts, QStringList{QStringLiteral("校准失败!\n")});
    pupil.Feed({Report(120.0f, 100.0f)});
    EXPECT_NEAR(pupil.window->CurrentX(), 0.12, 1e-6) << "still streaming";
}

// Closing while the worker waits for a message to be dismissed: the message goes, the worker ends,
// nothing is sent.
TEST(CalibrationToolWindow, ClosingWhileAMessageIsOpen)
{
    Teacher teacher;
    teacher.Type(kIdL2, QStringLiteral("abc"));
    bool shown = false;
    zelkor::testing::ShownWatcher<QMessageBox> closer([&](QMessageBox*) {
        shown = true;
        teacher.window->CloseExperiment();
    });
    teacher.Click(kIdCalibrateRight);
    teacher.platform->QueueRead(Report(100.0f, 100.0f));
    ASSERT_TRUE(WaitUntil([&] { return shown; }));
    ASSERT_TRUE(WaitUntil([&] { return !teacher.window->isVisible(); }, std::chrono::milliseconds(2000)));
    EXPECT_FALSE(teacher.window->WorkerCreated());
    EXPECT_TRUE(teacher.Calibrations().empty());
    QApplication::processEvents();
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<QMessageBox*>(w) && w->isVisible());
}

}  // namespace

namespace {

// Pictures of the tool live, in both display modes, at the two screen sizes the classrooms have. Only
// with ZELKOR_SCREENSHOT_DIR set.
TEST(CalibrationToolPictures, LiveInBothModes)
{
    const QString folder = qEnvironmentVariable("ZELKOR_SCREENSHOT_DIR");
    if (folder.isEmpty())
        GTEST_SKIP() << "ZELKOR_SCREENSHOT_DIR not set";
    for (const QSize size : {QSize(1366, 768), QSize(1024, 600)}) {
        DemoPupil<CDlgTdCalibration> pupil(kCalibrationToolIndex);
        CDlgTdCalibration& w = *pupil.window;
        w.resize(size);
        QApplication::processEvents();
        const QString stem = folder + QStringLiteral("/calibration_tool_%1x%2_").arg(size.width()).arg(size.height());
        ASSERT_TRUE(w.grab().save(stem + QStringLiteral("opened.png")));
        pupil.Click(kStart);
        pupil.Wait(2.0);
        QApplication::processEvents();
        ASSERT_TRUE(w.grab().save(stem + QStringLiteral("distances.png")));
        ChooseMode(pupil, 1);
        pupil.Wait(2.0);
        QApplication::processEvents();
        ASSERT_TRUE(w.grab().save(stem + QStringLiteral("positions.png")));
        pupil.Click(kIdRecord);
        ChooseMode(pupil, 0);
        pupil.AskHelper(QStringLiteral("移到距两接收器200 mm处"));
        pupil.Wait(3.0);
        QApplication::processEvents();
        ASSERT_TRUE(w.grab().save(stem + QStringLiteral("recorded.png")));
    }
}

}  // namespace
