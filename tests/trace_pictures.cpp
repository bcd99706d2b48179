// Pictures of the trace windows for a person to look at: idle, recording, and after picks with their
// results, at the two screen sizes of the classrooms. A tool, not a test: it is built but not run by
// ctest. Usage: build/tests/trace_pictures [folder] (default /tmp).
#include "experiments/circular_motion.h"
#include "experiments/single_pendulum.h"
#include "tests/support/window_pupil.h"

#include <QApplication>
#include <QDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace zelkor;
using namespace zelkor::experiments;
using zelkor::testing::SensorPos;
using zelkor::testing::WindowPupil;

namespace {

QString Folder()
{
    const QString folder = qEnvironmentVariable("ZELKOR_SCREENSHOT_DIR", QStringLiteral("/tmp"));
    QDir().mkpath(folder);
    return folder;
}

template <class Pupil>
void Save(Pupil& p, const QString& name)
{
    // The samples are fed faster than they come from a sensor: the picture is taken once what follows
    // them at its own pace (the rolling trace, the scroll bars) has caught up, as a person would see it.
    QTest::qWait(300);  // the bars follow within 225 ms of a burst
    ASSERT_TRUE(p.window->grab().save(Folder() + QLatin1Char('/') + name + QStringLiteral(".png"))) << name.toStdString();
}

template <class Pupil>
void Resize(Pupil& p, QSize size)
{
    p.window->setWindowState(Qt::WindowNoState);
    p.window->resize(size);
    QApplication::processEvents();
}

std::vector<SensorPos> Path(int from, int count, const std::function<SensorPos(double)>& at)
{
    std::vector<SensorPos> out;
    for (int k = from; k < from + count; ++k)
        out.push_back(at(k * 0.02));
    return out;
}

const std::vector<QSize> kSizes = {QSize(1366, 768), QSize(1024, 600)};

}  // namespace

TEST(TracePictures, SinglePendulum)
{
    const double T = 2 * std::numbers::pi * std::sqrt(0.5 / 9.8);
    auto bob = [T](double t) {
        const double theta = 0.2 * std::cos(2 * std::numbers::pi * t / T) * std::exp(-t / 120);
        return SensorPos{0.5 * std::sin(theta), 0.5 * std::cos(theta)};
    };
    for (const QSize size : kSizes) {
        WindowPupil<CDlgTdSinglePendulum> p({});
        Resize(p, size);
        const QString stem = QStringLiteral("pendulum_%1x%2_").arg(size.width()).arg(size.height());
        Save(p, stem + QStringLiteral("idle"));
        p.Start();
        p.Feed({{0.0, 0.5}});
        p.Click(kIdTraceZero);
        p.Click(kIdPendulumRecord);
        p.Feed(Path(1, 600, bob));
        Save(p, stem + QStringLiteral("recording"));
        p.Click(acquisition::kIdStop);
        p.Click(kIdMeasurePeriod);
        p.Pick(kIdPendulumTrace, 3.0, 11.5);
        p.Click(kIdMeasureLength);
        p.Pick(kIdPendulumTrace, 3.0, 11.5);
        Save(p, stem + QStringLiteral("results"));
    }
}

TEST(TracePictures, CircularMotionAndDampedVibration)
{
    auto turning = [](double t) {
        return SensorPos{0.15 * std::cos(std::numbers::pi * t), 0.40 + 0.15 * std::sin(std::numbers::pi * t)};
    };
    auto vibrating = [](double t) {
        return SensorPos{0.10 * std::exp(-t / 4) * std::cos(2 * std::numbers::pi * t), 0.40};
    };
    for (const bool circular : {true, false}) {
        for (const QSize size : kSizes) {
            WindowPupil<CDlgTdCircularMotior> p({}, circular);
            Resize(p, size);
            const QString stem = QStringLiteral("%1_%2x%3_")
                                     .arg(circular ? QStringLiteral("circular") : QStringLiteral("damped"))
                                     .arg(size.width())
                                     .arg(size.height());
            Save(p, stem + QStringLiteral("idle"));
            p.Start();
            p.Feed({{0.0, 0.40}});
            p.Click(kIdTraceZero);
            p.Click(kIdCircularRecord);
            p.Feed(Path(1, circular ? 1000 : 400, circular ? turning : vibrating));
            Save(p, stem + QStringLiteral("recording"));
            p.Click(acquisition::kIdStop);
            if (circular) {
                p.Click(kIdMeasureRadius);
                p.Pick(kIdCircularTrace, 17.5, 19.5);
                p.Click(kIdMeasureAngularVelocity);
                p.Pick(kIdCircularTrace, 19.5, 6.0);
            }
            Save(p, stem + QStringLiteral("results"));
        }
    }
}
