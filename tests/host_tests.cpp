// kivor's command line, its experiment table, and the program itself started the way the launcher
// and a teacher start it.
#include "host/command_line.h"
#include "host/experiment_table.h"
#include "host/experiment_windows.h"
#include "widgets/control_ids.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <gtest/gtest.h>

#include <climits>

using namespace zelkor::host;

namespace {

QString KivorPath()
{
    return qEnvironmentVariable("ZELKOR2D_BIN_DIR") + QStringLiteral("/kivor");
}

}  // namespace

TEST(ConvertIndex, ReadsLikeTheStandardDecimalConversion)
{
    EXPECT_EQ(ConvertIndex(""), 0);
    EXPECT_EQ(ConvertIndex("abc"), 0);
    EXPECT_EQ(ConvertIndex("4x"), 4);
    EXPECT_EQ(ConvertIndex(" \t\n\v\f\r12"), 12);
    EXPECT_EQ(ConvertIndex("+3"), 3);
    EXPECT_EQ(ConvertIndex("-0"), 0);
    EXPECT_EQ(ConvertIndex("-1"), -1);
    EXPECT_EQ(ConvertIndex("007"), 7);
    EXPECT_EQ(ConvertIndex("1 2"), 1);
    EXPECT_EQ(ConvertIndex("++1"), 0);
    EXPECT_EQ(ConvertIndex("- 1"), 0);
    EXPECT_EQ(ConvertIndex("\xd9\xa3"), 0);  // a non-ASCII digit is no digit
}

TEST(ConvertIndex, SaturatesAtThe32BitRange)
{
    EXPECT_EQ(ConvertIndex("2147483647"), INT_MAX);
    EXPECT_EQ(ConvertIndex("2147483648"), INT_MAX);
    EXPECT_EQ(ConvertIndex("99999999999"), INT_MAX);
    EXPECT_EQ(ConvertIndex("-2147483648"), INT_MIN);
    EXPECT_EQ(ConvertIndex("-2147483649"), INT_MIN);
    EXPECT_EQ(ConvertIndex(std::string(5000, '9')), INT_MAX);
    EXPECT_EQ(ConvertIndex("-" + std::string(5000, '9')), INT_MIN);
}

TEST(HostArguments, IndexFirstOptionsAfter)
{
    EXPECT_EQ(ParseHostArguments({}).index, 0);
    EXPECT_EQ(ParseHostArguments({"4x"}).index, 4);
    EXPECT_EQ(ParseHostArguments({"4", "7"}).index, 4);  // only the first is looked at

    const HostOptions demo = ParseHostArguments({"9", "--demo"});
    EXPECT_EQ(demo.index, 9);
    EXPECT_TRUE(demo.demo);
    EXPECT_TRUE(demo.error.empty());

    const HostOptions usb = ParseHostArguments({"3", "--usb-device", "1a2B:00fF"});
    ASSERT_TRUE(usb.usbDevice.has_value());
    EXPECT_EQ(usb.usbDevice->vendor, 0x1a2b);
    EXPECT_EQ(usb.usbDevice->product, 0x00ff);
    EXPECT_FALSE(usb.demo);

    const HostOptions joined = ParseHostArguments({"3", "--usb-device=1234:abcd"});
    ASSERT_TRUE(joined.usbDevice.has_value());
    EXPECT_EQ(joined.usbDevice->product, 0xabcd);
}

TEST(HostArguments, UnusableUsbIdIsAnErrorNotAGuess)
{
    EXPECT_FALSE(ParseHostArguments({"3", "--usb-device"}).error.empty());
    EXPECT_FALSE(ParseHostArguments({"3", "--usb-device", "12345:1"}).error.empty());
    EXPECT_FALSE(ParseHostArguments({"3", "--usb-device", "xyz"}).error.empty());
    EXPECT_FALSE(ParseHostArguments({"3", "--usb-device", "--demo"}).error.empty());
    EXPECT_FALSE(ParseHostArguments({"3", "--usb-device="}).error.empty());
}

TEST(ExperimentTable, IndicesWithoutAnExperimentBuildNothing)
{
    for (int index : {11, 13, -1, INT_MAX, INT_MIN, 100})
        EXPECT_EQ(FindExperiment(index), nullptr) << index;
    for (int index = 0; index <= 12; ++index) {
        if (index == 11)
            continue;
        const ExperimentEntry* entry = FindExperiment(index);
        ASSERT_NE(entry, nullptr) << index;
        EXPECT_EQ(entry->index, index);
    }
}

TEST(ExperimentTable, CircularMotionAndDampedVibrationShareOneClass)
{
    const ExperimentEntry* circular = FindExperiment(2);
    const ExperimentEntry* damped = FindExperiment(5);
    EXPECT_STREQ(circular->dialogClass, damped->dialogClass);
    EXPECT_EQ(circular->circularMode, std::optional<bool>(true));
    EXPECT_EQ(damped->circularMode, std::optional<bool>(false));
    EXPECT_STRNE(circular->title, damped->title);
    for (int index : {0, 1, 3, 4, 6, 7, 8, 9, 10, 12})
        EXPECT_FALSE(FindExperiment(index)->circularMode.has_value()) << index;
}

TEST(ExperimentWindows, ArgumentsOpenTheWindowsTheTeacherExpects)
{
    const std::pair<std::vector<std::string>, QString> cases[] = {
        {{"4x"}, QStringLiteral("单摆")},
        {{"abc"}, QStringLiteral("平抛运动(2D)")},
        {{}, QStringLiteral("平抛运动(2D)")},
        {{"12"}, QStringLiteral("校准测试软件(2D)")},
        {{"9"}, QStringLiteral("自由落体")},
        {{"2"}, QStringLiteral("匀速圆周运动")},
        {{"5"}, QStringLiteral("阻尼振动")},
        {{"10"}, QStringLiteral("球面轨道")},
    };
    for (const auto& [args, title] : cases) {
        const auto dialog = BuildExperimentDialog(ParseHostArguments(args).index);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), title);
    }
    EXPECT_EQ(BuildExperimentDialog(11), nullptr);
}

TEST(ExperimentWindows, EveryIndexOpensItsFrameAndReturnCloses)
{
    for (int index : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12}) {
        const auto dialog = BuildExperimentDialog(index);
        dialog->show();
        auto* back = zelkor::widgets::FindControl<QPushButton>(dialog.get(), 231);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->text(), QStringLiteral("返回"));
        // The calibration tool covers its screen as a normal window; the experiments are maximised.
        EXPECT_EQ(bool(dialog->windowState() & Qt::WindowMaximized), index != kCalibrationIndex) << index;
        back->click();
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), 0);
    }
}

// Indices without an experiment end before anything touches the display: with no display at all and
// the X11 platform forced, creating the application would abort, so a clean exit shows none was made.
TEST(KivorProgram, IndicesWithoutAnExperimentEndAtOnceWithoutAWindow)
{
    for (const char* arg : {"11", "13", "-1", "99999999999"}) {
        QProcess kivor;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        kivor.setProcessEnvironment(env);
        kivor.start(KivorPath(), {QString::fromLatin1(arg)});
        ASSERT_TRUE(kivor.waitForFinished(10000)) << arg;
        EXPECT_EQ(kivor.exitStatus(), QProcess::NormalExit) << arg;
        EXPECT_EQ(kivor.exitCode(), 0) << arg;
    }
}

TEST(KivorProgram, BadUsbIdIsReportedAndEnds)
{
    QProcess kivor;
    kivor.start(KivorPath(), {QStringLiteral("3"), QStringLiteral("--usb-device"), QStringLiteral("nonsense")});
    ASSERT_TRUE(kivor.waitForFinished(10000));
    EXPECT_EQ(kivor.exitCode(), 2);
    EXPECT_TRUE(kivor.readAllStandardError().contains("vvvv:pppp"));
}

TEST(KivorProgram, AnExperimentIndexKeepsItsWindowOpen)
{
    QProcess kivor;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    kivor.setProcessEnvironment(env);
    kivor.start(KivorPath(), {QStringLiteral("4"), QStringLiteral("--demo")});
    ASSERT_TRUE(kivor.waitForStarted(10000));
    EXPECT_FALSE(kivor.waitForFinished(1500)) << kivor.readAllStandardError().constData();
    kivor.kill();
    kivor.waitForFinished(10000);
}
