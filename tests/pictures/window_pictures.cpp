// Pictures of the recording windows for a person to look at, at the two screen sizes the classrooms
// have: idle, recording, with their results, and the projectile's velocity view. A tool, not a test:
// ctest leaves "...Pictures" suites out; `cmake --build build --target pictures` runs them, or
// build/tests/window_pictures with the PNGs going to $ZELKOR_SCREENSHOT_DIR (default /tmp).
#include "experiments/free_fall.h"
#include "experiments/galileo.h"
#include "experiments/projectile.h"
#include "tests/support/demo_pupil.h"
#include "tests/support/pupil.h"

#include <QApplication>
#include <QDir>

#include <cmath>

using namespace zelkor::experiments;
using zelkor::testing::Pos;
using zelkor::testing::Pupil;

namespace {

const QSize kSizes[] = {QSize(1366, 768), QSize(1024, 600)};

QString Folder()
{
    const QString folder = qEnvironmentVariable("ZELKOR_SCREENSHOT_DIR", QStringLiteral("/tmp"));
    QDir().mkpath(folder);
    return folder;
}

template <class Window>
void Shoot(Pupil<Window>& pupil, const QString& stem, const char* state)
{
    QApplication::processEvents();
    const QString path = stem + QString::fromLatin1(state) + QStringLiteral(".png");
    EXPECT_TRUE(pupil.window->grab().save(path)) << path.toStdString();
}

template <class Window>
QString Prepare(Pupil<Window>& pupil, const char* name, QSize size)
{
    pupil.window->setWindowState(Qt::WindowNoState);
    pupil.window->resize(size);
    QApplication::processEvents();
    return Folder() + QStringLiteral("/%1_%2x%3_").arg(QString::fromLatin1(name)).arg(size.width()).arg(size.height());
}

std::vector<Pos> Throw(int rest, int flying)
{
    std::vector<Pos> out(static_cast<size_t>(rest), Pos{-0.06, 0.0});
    for (int k = 0; k < flying; ++k) {
        const double t = 0.01 + 0.02 * k;
        out.push_back({1.2 * t, 4.9 * t * t});
    }
    return out;
}

}  // namespace

TEST(WindowPictures, FreeFall)
{
    for (const QSize size : kSizes) {
        Pupil<CDlgTdFreelyFall> pupil(Pos{0.0, 0.10});
        const QString stem = Prepare(pupil, "free_fall", size);
        pupil.Feed({{0.01, 0.02}});
        Shoot(pupil, stem, "idle");
        pupil.ZeroAtOrigin();
        pupil.Click(kIdStartRecording);
        std::vector<Pos> fall(10, Pos{});
        for (int k = 0; k < 15; ++k)
            fall.push_back({0.0, 4.9 * 0.0004 * k * k});
        pupil.Feed(fall);
        Shoot(pupil, stem, "recording");
        pupil.Feed({{0.0, 0.85}});
        pupil.Click(kIdComponentX);
        pupil.Click(kIdComponentY);
        pupil.Select(12, static_cast<int>(pupil.window->Records().size()));
        pupil.Click(kIdAcceleration);
        Shoot(pupil, stem, "fitted");
    }
}

TEST(WindowPictures, Projectile)
{
    for (const QSize size : kSizes) {
        Pupil<CDlgTdAcoustics> pupil(Pos{0.15, 0.15});
        const QString stem = Prepare(pupil, "projectile", size);
        pupil.Feed({{0.01, 0.02}});
        Shoot(pupil, stem, "idle");
        pupil.ZeroAtOrigin();
        pupil.Click(kIdStartRecording);
        const std::vector<Pos> all = Throw(5, 21);
        pupil.Feed({all.begin(), all.begin() + 17});
        Shoot(pupil, stem, "recording");
        pupil.Feed({all.begin() + 17, all.end()});
        pupil.Feed({{1.5, 0.3}});  // beyond 1 m: the recording ends
        pupil.Click(kIdComponentX);
        pupil.Click(kIdComponentY);
        pupil.Click(kIdParabola);
        Shoot(pupil, stem, "fitted");
        pupil.Click(kIdAcceleration);
        Shoot(pupil, stem, "velocity");
    }
}

TEST(WindowPictures, Galileo)
{
    const double angle = 12.0 * M_PI / 180.0;
    const double a = 5.0 / 7.0 * 9.8 * std::sin(angle);
    for (const QSize size : kSizes) {
        Pupil<CDlgTdGalileo> pupil(Pos{0.10, 0.10});
        const QString stem = Prepare(pupil, "galileo", size);
        pupil.Feed({{0.01, 0.02}});
        Shoot(pupil, stem, "idle");
        pupil.ZeroAtOrigin();
        zelkor::testing::ReleaseSliderAt(pupil.Control<zelkor::widgets::CReleaseSlider>(kIdFrequencySlider), 10);
        pupil.Click(kIdStartRecording);
        std::vector<Pos> roll;
        for (int k = 0; k < 60; ++k) {
            const double s = 0.5 * a * std::pow(0.02 * k, 2);
            roll.push_back({s * std::cos(angle), s * std::sin(angle)});
        }
        pupil.Feed(roll);
        Shoot(pupil, stem, "recording");
        pupil.Click(233);
        pupil.Click(kIdComponentX);
        pupil.Click(kIdComponentY);
        Shoot(pupil, stem, "fitted");
    }
}

// The same windows on the demo apparatus, with its noise and the "演示模式" mark: a throw after the
// helper's calibration point (fitted and velocity view), and a roll at 5 Hz.
TEST(WindowPictures, OnTheDemoApparatus)
{
    for (const QSize size : kSizes) {
        zelkor::testing::DemoPupil<CDlgTdAcoustics> throwing(kProjectileIndex);
        throwing.window->setWindowState(Qt::WindowNoState);
        throwing.window->resize(size);
        throwing.Wait(3.0);
        throwing.Click(kIdZero);
        throwing.WaitForPose("held at the run-up");
        throwing.AskHelper(QStringLiteral("沿桌面移到桌边后方（水平校准点）"));
        throwing.Wait(2.0);
        throwing.Click(kIdCalibrate);
        throwing.WaitForPose("held at the run-up");
        throwing.RecordUntilTheWindowStops();
        throwing.Click(kIdParabola);
        const QString stem =
            Folder() + QStringLiteral("/projectile_demo_%1x%2_").arg(size.width()).arg(size.height());
        QApplication::processEvents();
        EXPECT_TRUE(throwing.window->grab().save(stem + QStringLiteral("fitted.png")));
        throwing.Click(kIdAcceleration);
        QApplication::processEvents();
        EXPECT_TRUE(throwing.window->grab().save(stem + QStringLiteral("velocity.png")));

        zelkor::testing::DemoPupil<CDlgTdGalileo> rolling(kGalileoIndex);
        rolling.window->setWindowState(Qt::WindowNoState);
        rolling.window->resize(size);
        rolling.Wait(3.0);
        rolling.Click(kIdZero);
        zelkor::testing::ReleaseSliderAt(
            zelkor::widgets::FindControl<zelkor::widgets::CReleaseSlider>(rolling.window.get(), kIdFrequencySlider), 5);
        rolling.RecordUntilTheWindowStops();
        QApplication::processEvents();
        EXPECT_TRUE(rolling.window->grab().save(
            Folder() + QStringLiteral("/galileo_demo_%1x%2_5Hz.png").arg(size.width()).arg(size.height())));
    }
}
