// The launcher: menu geometry, its pictures, the single-instance lock, the host command and the
// menu window driven by mouse events.
#include "launcher/host_starter.h"
#include "launcher/launcher_app.h"
#include "launcher/menu_dialog.h"
#include "launcher/menu_layout.h"
#include "launcher/png_decode.h"
#include "launcher/single_instance.h"
#include "tests/support/when_shown.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QMessageBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

using namespace zelkor::launcher;
using zelkor::testing::WhenShown;

namespace {

const QColor kBackground(88, 76, 142);

int Hit(MenuSize screen, MenuPoint click)
{
    const MenuLayout& layout = LayoutForScreenHeight(screen.height);
    return HitTest(layout, CentredOrigin(screen, layout.pictureSize), click);
}

QAbstractButton* ButtonById(QWidget* parent, int id)
{
    for (auto* b : parent->findChildren<QAbstractButton*>()) {
        if (b->property("ctrlId").toInt() == id) return b;
    }
    return nullptr;
}

void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::NoButton)
{
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    QMouseEvent event(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &event);
}

void Click(QWidget* w, QPoint pos, Qt::MouseButton button = Qt::LeftButton)
{
    SendMouse(w, QEvent::MouseButtonPress, pos, button);
    SendMouse(w, QEvent::MouseButtonRelease, pos, button);
}

QPoint Centre(const HotRect& r, MenuPoint origin)
{
    return {origin.x + (r.left + r.right) / 2, origin.y + (r.top + r.bottom) / 2};
}

// Closes any window the launcher left open after a while, so a failing test returns instead of
// hanging. Lives as long as the test.
class StrayWindowGuard {
public:
    StrayWindowGuard()
    {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) d->done(0);
            }
        });
        timer_.start(3000);
    }

private:
    QTimer timer_;
};

void WriteScript(const QString& path, const QByteArray& body)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n" + body);
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QStringList ReadLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

}  // namespace

// --- geometry -------------------------------------------------------------------------------------

TEST(MenuLayout, PictureFollowsScreenHeight)
{
    EXPECT_EQ(LayoutForScreenHeight(600).pictureId, 148);
    EXPECT_EQ(LayoutForScreenHeight(767).pictureId, 148);
    EXPECT_EQ(LayoutForScreenHeight(768).pictureId, 149);
    EXPECT_EQ(LayoutForScreenHeight(1080).pictureId, 149);
    EXPECT_EQ(SmallLayout().pictureSize, (MenuSize{800, 600}));
    EXPECT_EQ(LargeLayout().pictureSize, (MenuSize{1024, 768}));
}

TEST(MenuLayout, OriginCentresWithTruncatingDivision)
{
    EXPECT_EQ(CentredOrigin({1366, 768}, LargeLayout().pictureSize), (MenuPoint{171, 0}));
    EXPECT_EQ(CentredOrigin({1024, 600}, SmallLayout().pictureSize), (MenuPoint{112, 0}));
    EXPECT_EQ(CentredOrigin({800, 600}, SmallLayout().pictureSize), (MenuPoint{0, 0}));
    EXPECT_EQ(CentredOrigin({1023, 767}, SmallLayout().pictureSize), (MenuPoint{111, 83}));
    // A picture larger than the area: toward zero, not toward minus infinity.
    EXPECT_EQ(CentredOrigin({799, 599}, LargeLayout().pictureSize), (MenuPoint{-112, -84}));
}

TEST(MenuLayout, WideScreenHitsEntryZeroInsideItsHalfOpenRectangle)
{
    const MenuSize screen{1366, 768};
    EXPECT_EQ(Hit(screen, {235, 223}), 0);
    EXPECT_EQ(Hit(screen, {337, 246}), 0);
    EXPECT_EQ(Hit(screen, {234, 230}), -1);
    EXPECT_EQ(Hit(screen, {338, 230}), -1);
    EXPECT_EQ(Hit(screen, {300, 222}), -1);
    EXPECT_EQ(Hit(screen, {300, 247}), -1);
}

TEST(MenuLayout, SmallScreenEdgesAndGaps)
{
    const MenuSize screen{800, 600};
    EXPECT_EQ(Hit(screen, {51, 175}), 0);
    EXPECT_EQ(Hit(screen, {130, 175}), -1);
    EXPECT_EQ(Hit(screen, {129, 192}), 0);
    EXPECT_EQ(Hit(screen, {129, 193}), -1);
    // Between entries 0 and 1, between columns, and above the band.
    EXPECT_EQ(Hit(screen, {60, 198}), -1);
    EXPECT_EQ(Hit(screen, {230, 180}), -1);
    EXPECT_EQ(Hit(screen, {100, 100}), -1);
    EXPECT_EQ(Hit({1024, 600}, {112 + 296, 174}), 4);
    EXPECT_EQ(Hit({1024, 600}, {296, 174}), -1);
}

TEST(MenuLayout, FirstRectangleInIndexOrderWins)
{
    MenuLayout overlapping = SmallLayout();
    overlapping.hot[3] = {0, 0, 100, 100};
    overlapping.hot[7] = {50, 50, 150, 150};
    EXPECT_EQ(HitTest(overlapping, {0, 0}, {60, 60}), 3);
    EXPECT_EQ(HitTest(overlapping, {0, 0}, {120, 120}), 7);
}

// --- PNG decoding and the committed pictures ------------------------------------------------------

TEST(PngDecode, DecodesPixelsExactlyAndRefusesBrokenData)
{
    QImage src(3, 2, QImage::Format_RGBA8888);
    src.setPixelColor(0, 0, QColor(255, 0, 0, 255));
    src.setPixelColor(1, 0, QColor(0, 255, 0, 128));
    src.setPixelColor(2, 0, QColor(0, 0, 255, 0));
    src.setPixelColor(0, 1, QColor(10, 20, 30, 255));
    src.setPixelColor(1, 1, QColor(200, 100, 50, 255));
    src.setPixelColor(2, 1, QColor(1, 2, 3, 255));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(src.save(&buffer, "PNG"));
    auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(png.constData()), static_cast<std::size_t>(png.size()));

    const auto img = DecodePng(bytes);
    ASSERT_TRUE(img.has_value());
    ASSERT_EQ(img->width, 3);
    ASSERT_EQ(img->height, 2);
    ASSERT_EQ(img->pixels.size(), 3u * 2u * 4u);
    const std::vector<std::uint8_t> expectRow1{10, 20, 30, 255, 200, 100, 50, 255, 1, 2, 3, 255};
    EXPECT_EQ(std::vector<std::uint8_t>(img->pixels.begin() + 12, img->pixels.end()), expectRow1);
    EXPECT_EQ(img->pixels[0], 255);
    EXPECT_EQ(img->pixels[7], 128);

    EXPECT_FALSE(DecodePng({}).has_value());
    EXPECT_FALSE(DecodePng(bytes.first(bytes.size() / 2)).has_value());
    const std::vector<std::uint8_t> junk(200, 0x5a);
    EXPECT_FALSE(DecodePng(junk).has_value());
    EXPECT_TRUE(LoadPngResource(QStringLiteral(":/png/no-such.png")).isNull());
}

TEST(MenuArt, ResourcesDecodeAtTheirSizes)
{
    EXPECT_EQ(LoadPngResource(":/png/148.png").size(), QSize(800, 600));
    EXPECT_EQ(LoadPngResource(":/png/149.png").size(), QSize(1024, 768));
    EXPECT_EQ(LoadPngResource(":/bitmap/103.png").size(), QSize(16, 16));
    EXPECT_EQ(LoadPngResource(":/bitmap/104.png").size(), QSize(16, 16));
    EXPECT_FALSE(LoadPngResource(":/icon/128.png").isNull());
}

// The labels are the only dark ink in the band's middle: all of it must lie inside the hot rectangles, and
// every rectangle must hold a label, or a click would not land on what the pupil sees.
TEST(MenuArt, LabelInkLiesInsideTheHotRectangles)
{
    const QColor ink(52, 40, 104);
    for (const MenuLayout* layout : {&SmallLayout(), &LargeLayout()}) {
        const QImage picture = LoadPngResource(QStringLiteral(":/png/%1.png").arg(layout->pictureId));
        ASSERT_FALSE(picture.isNull());
        // Around the rectangles, clear of the band's rounded, shadowed edge.
        HotRect area = layout->hot[0];
        for (const HotRect& r : layout->hot) {
            area = {std::min(area.left, r.left), std::min(area.top, r.top), std::max(area.right, r.right),
                    std::max(area.bottom, r.bottom)};
        }
        std::array<int, kEntryCount> inside{};
        int outside = 0;
        for (int y = area.top - 16; y < area.bottom + 16; ++y) {
            for (int x = area.left - 16; x < area.right + 16; ++x) {
                const QColor c = picture.pixelColor(x, y);
                const int diff = std::max({std::abs(c.red() - ink.red()), std::abs(c.green() - ink.green()),
                                           std::abs(c.blue() - ink.blue())});
                if (diff > 24) continue;
                const int hit = HitTest(*layout, {0, 0}, {x, y});
                if (hit < 0) {
                    ++outside;
                } else {
                    ++inside[static_cast<std::size_t>(hit)];
                }
            }
        }
        EXPECT_EQ(outside, 0) << "picture " << layout->pictureId;
        for (int i = 0; i < kEntryCount; ++i) {
            EXPECT_GT(inside[static_cast<std::size_t>(i)], 40) << "picture " << layout->pictureId << " entry " << i;
        }
    }
}

// --- single instance ------------------------------------------------------------------------------

TEST(SingleInstance, SecondLockFailsUntilTheFirstIsReleased)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto first = std::make_unique<SingleInstanceLock>(dir.path());
    EXPECT_EQ(first->TryAcquire(), SingleInstanceLock::Result::Acquired);
    SingleInstanceLock second(dir.path());
    EXPECT_EQ(second.TryAcquire(), SingleInstanceLock::Result::HeldByOther);
    EXPECT_EQ(second.FilePath(), QDir(dir.path()).filePath("Zelkor2d.lock"));
    first.reset();
    EXPECT_EQ(second.TryAcquire(), SingleInstanceLock::Result::Acquired);

    SingleInstanceLock nowhere(dir.filePath("missing/folder"));
    EXPECT_EQ(nowhere.TryAcquire(), SingleInstanceLock::Result::Unavailable);
}

TEST(SingleInstance, LockOfAProcessThatIsGoneIsTakenOver)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = QDir(dir.path()).filePath("Zelkor2d.lock");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A launcher that dies holding the lock: no unlock, no destructors.
        auto* lock = new QLockFile(path);
        _exit(lock->tryLock(0) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ASSERT_TRUE(QFile::exists(path));

    SingleInstanceLock lock(dir.path());
    EXPECT_EQ(lock.TryAcquire(), SingleInstanceLock::Result::Acquired);
}

TEST(SingleInstance, LongHeldLockOfALiveProcessIsNotTakenOver)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SingleInstanceLock first(dir.path());
    ASSERT_EQ(first.TryAcquire(), SingleInstanceLock::Result::Acquired);
    // Age the lock file well beyond QLockFile's default stale time.
    QFile file(first.FilePath());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    file.close();
    SingleInstanceLock second(dir.path());
    EXPECT_EQ(second.TryAcquire(), SingleInstanceLock::Result::HeldByOther);
}

TEST(LauncherStart, SecondInstanceSaysSoAndLeavesTheFirstAlone)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SingleInstanceLock first(dir.path());
    ASSERT_EQ(first.TryAcquire(), SingleInstanceLock::Result::Acquired);

    bool seen = false;
    QString text, title;
    WhenShown<QMessageBox>([&](QMessageBox* box) {
        text = box->text();
        title = box->windowTitle();
        if (auto* ok = box->button(QMessageBox::Ok)) ok->click();
    }, &seen);
    StrayWindowGuard guard;
    EXPECT_EQ(RunLauncher({}, dir.path(), dir.path()), 0);
    EXPECT_TRUE(seen);
    EXPECT_EQ(text, QString::fromUtf8("程序已在运行中!"));
    EXPECT_EQ(title, QStringLiteral("Zelkor2d"));
    SingleInstanceLock third(dir.path());
    EXPECT_EQ(third.TryAcquire(), SingleInstanceLock::Result::HeldByOther);
}

TEST(LauncherStart, FirstInstanceHoldsTheLockWhileTheMenuIsOpen)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    bool seen = false;
    SingleInstanceLock::Result whileOpen = SingleInstanceLock::Result::Acquired;
    QString title;
    WhenShown<CZelkor2dDlg>([&](CZelkor2dDlg* dlg) {
        title = dlg->windowTitle();
        SingleInstanceLock other(dir.path());
        whileOpen = other.TryAcquire();
        if (auto* close = ButtonById(dlg, 228)) close->click();
    }, &seen);
    StrayWindowGuard guard;
    EXPECT_EQ(RunLauncher({}, dir.path(), dir.path()), 0);
    EXPECT_TRUE(seen);
    EXPECT_EQ(title, QStringLiteral("Zelkor 2D"));
    EXPECT_EQ(whileOpen, SingleInstanceLock::Result::HeldByOther);
    SingleInstanceLock after(dir.path());
    EXPECT_EQ(after.TryAcquire(), SingleInstanceLock::Result::Acquired);
}

// --- arguments and the host command ---------------------------------------------------------------

TEST(LauncherArguments, DemoAndUsbDeviceAreTakenBadIdsRefused)
{
    auto a = ParseLauncherArguments({"--demo", "--usb-device", "1a2B:00ff"});
    EXPECT_TRUE(a.error.empty());
    EXPECT_TRUE(a.host.demo);
    EXPECT_EQ(a.host.usbDevice, QStringLiteral("1a2B:00ff"));

    a = ParseLauncherArguments({"--usb-device=1234:abcd", "-platform", "xcb"});
    EXPECT_TRUE(a.error.empty());
    EXPECT_FALSE(a.host.demo);
    EXPECT_EQ(a.host.usbDevice, QStringLiteral("1234:abcd"));

    EXPECT_FALSE(ParseLauncherArguments({"--usb-device"}).error.empty());
    EXPECT_FALSE(ParseLauncherArguments({"--usb-device", "12345:abcd"}).error.empty());
    EXPECT_FALSE(ParseLauncherArguments({"--usb-device", "12g4:abcd"}).error.empty());
    EXPECT_FALSE(ParseLauncherArguments({"--usb-device", "1234-abcd"}).error.empty());
    EXPECT_FALSE(ParseLauncherArguments({"--usb-device="}).error.empty());
}

TEST(HostCommand, IndexFirstThenTheOptionsPassedOn)
{
    HostCommand c = BuildHostCommand("/opt/lab kit/bin", 4, {});
    EXPECT_EQ(c.program, QStringLiteral("/opt/lab kit/bin/kivor"));
    EXPECT_EQ(c.arguments, QStringList{"4"});
    c = BuildHostCommand("/opt/bin", 9, {true, "1234:abcd"});
    EXPECT_EQ(c.arguments, (QStringList{"9", "--demo", "--usb-device", "1234:abcd"}));
    // No folder: the working folder, never a search of PATH.
    EXPECT_EQ(BuildHostCommand("", 0, {}).program, QStringLiteral("./kivor"));
}

TEST(HostCommand, FolderWithSpacesStartsTheHostWithTheIndexAndWaitsForIt)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString folder = tmp.filePath("with spaces");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString out = tmp.filePath("args.txt");
    // The arguments are written only after a pause, so an early return would find no file.
    WriteScript(QDir(folder).filePath("kivor"),
                "sleep 0.3\nfor a in \"$@\"; do echo \"$a\"; done > \"" + out.toUtf8() + "\"\n");

    EXPECT_TRUE(RunHostAndWait(BuildHostCommand(folder, 4, {true, {}})));
    EXPECT_EQ(ReadLines(out), (QStringList{"4", "--demo"}));
}

TEST(HostCommand, HostThatCannotStartReturnsAtOnce)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(RunHostAndWait(BuildHostCommand(tmp.filePath("nothing here"), 0, {})));
    // Present but not executable.
    QFile f(tmp.filePath("kivor"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a program");
    f.close();
    EXPECT_FALSE(RunHostAndWait(BuildHostCommand(tmp.path(), 0, {})));
    EXPECT_LT(clock.elapsed(), 3000);
}

// --- the menu window ------------------------------------------------------------------------------

namespace {

struct StarterLog {
    std::vector<int> indices;
    std::vector<bool> visibleDuringRun;
};

}  // namespace

// The test platform has four screens (1366 x 768, 1024 x 768, 1024 x 600, 800 x 600) side by side.
QScreen* ScreenOfSize(QSize size)
{
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->size() == size) return screen;
    }
    return nullptr;
}

// On that screen, `offset` from its corner, with that client area.
void PlaceOn(QWidget& window, QScreen* screen, QSize client, QPoint offset = {})
{
    window.setScreen(screen);
    window.setGeometry(QRect(screen->geometry().topLeft() + offset, client));
}

class MenuWindow : public ::testing::Test {
protected:
    // On the screen of `screenSize`, covering it unless a smaller client area is given.
    void Open(QSize screenSize, QSize client = {}, QPoint offset = {})
    {
        QScreen* screen = ScreenOfSize(screenSize);
        ASSERT_NE(screen, nullptr) << "the test platform has no such screen";
        dlg = std::make_unique<CZelkor2dDlg>([this](int index) {
            log.indices.push_back(index);
            log.visibleDuringRun.push_back(dlg->isVisible());
            return true;
        });
        PlaceOn(*dlg, screen, client.isEmpty() ? screenSize : client, offset);
        dlg->show();
        QCoreApplication::processEvents();
        ASSERT_EQ(dlg->screen(), screen);
    }
    QImage Render(const char* file)
    {
        QImage shot = dlg->grab().toImage();
        // Kept for a person to look at only when asked for; tests never share a fixed path.
        const QString folder = qEnvironmentVariable("ZELKOR_SCREENSHOT_DIR");
        if (!folder.isEmpty())
            shot.save(folder + QLatin1Char('/') + QString::fromLatin1(file));
        return shot;
    }

    StarterLog log;
    std::unique_ptr<CZelkor2dDlg> dlg;
};

TEST_F(MenuWindow, PaintsThePictureAtTheOriginAndTheButtonsTopRight)
{
    struct Case {
        QSize size;
        int picture;
        const char* file;
    };
    for (const Case& c : {Case{{1024, 768}, 149, "launcher-1024x768.png"}, Case{{800, 600}, 148, "launcher-800x600.png"},
                          Case{{1024, 600}, 148, "launcher-1024x600.png"}}) {
        SCOPED_TRACE(c.file);
        Open(c.size);
        EXPECT_EQ(dlg->Layout().pictureId, c.picture);
        ASSERT_TRUE(dlg->HasPicture());
        const QImage shot = Render(c.file);
        ASSERT_EQ(shot.size(), c.size);
        const QImage picture = LoadPngResource(QStringLiteral(":/png/%1.png").arg(c.picture));
        const MenuPoint o = dlg->PictureOrigin();
        EXPECT_EQ(o, CentredOrigin({c.size.width(), c.size.height()}, {picture.width(), picture.height()}));
        // Inside the band, on a label and in the dot grid.
        for (const QPoint p : {QPoint(300, 260), QPoint(200, 200), QPoint(400, 500), QPoint(60, 180)}) {
            EXPECT_EQ(shot.pixelColor(o.x + p.x(), o.y + p.y()).rgb(), picture.pixelColor(p).rgb()) << p.x() << "," << p.y();
        }
        if (o.x > 0) {
            EXPECT_EQ(shot.pixelColor(o.x / 2, c.size.height() - 5).rgb(), kBackground.rgb());
        }

        QAbstractButton* close = ButtonById(dlg.get(), 228);
        QAbstractButton* minimise = ButtonById(dlg.get(), 227);
        ASSERT_TRUE(close && minimise);
        EXPECT_EQ(close->geometry(), QRect(c.size.width() - 16 - 10, 10, 16, 16));
        EXPECT_EQ(minimise->geometry(), QRect(c.size.width() - 16 - 10 - 16, 10, 16, 16));
        // The cross is drawn: white pixels on the background colour.
        EXPECT_EQ(shot.pixelColor(close->geometry().topLeft() + QPoint(0, 0)).rgb(), kBackground.rgb());
        EXPECT_EQ(shot.pixelColor(close->geometry().center()).rgb(), QColor(Qt::white).rgb());
        dlg.reset();
    }
}

TEST_F(MenuWindow, HandCursorOnlyOverEntries)
{
    Open({1366, 768});
    const MenuPoint o = dlg->PictureOrigin();
    ASSERT_EQ(o, (MenuPoint{171, 0}));
    SendMouse(dlg.get(), QEvent::MouseMove, Centre(dlg->Layout().hot[5], o));
    EXPECT_EQ(dlg->cursor().shape(), Qt::PointingHandCursor);
    SendMouse(dlg.get(), QEvent::MouseMove, {235 + 10, 255});  // between entries 0 and 1
    EXPECT_EQ(dlg->cursor().shape(), Qt::ArrowCursor);
    SendMouse(dlg.get(), QEvent::MouseMove, {235, 223});
    EXPECT_EQ(dlg->cursor().shape(), Qt::PointingHandCursor);
    SendMouse(dlg.get(), QEvent::MouseMove, {338, 223});
    EXPECT_EQ(dlg->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(MenuWindow, ClickOnAnEntryHidesTheMenuWhileTheHostRuns)
{
    Open({800, 600});
    Click(dlg.get(), {51, 175});
    Click(dlg.get(), {130, 175});                                      // just right of entry 0
    Click(dlg.get(), Centre(dlg->Layout().hot[6], {0, 0}), Qt::RightButton);
    Click(dlg.get(), Centre(dlg->Layout().hot[9], {0, 0}));
    EXPECT_EQ(log.indices, (std::vector<int>{0, 9}));
    EXPECT_EQ(log.visibleDuringRun, (std::vector<bool>{false, false}));
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(MenuWindow, HostThatCannotStartBringsTheMenuBackAtOnce)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    bool started = true;
    CZelkor2dDlg menu([&](int index) {
        started = RunHostAndWait(BuildHostCommand(tmp.filePath("missing"), index, {}));
        return started;
    });
    PlaceOn(menu, ScreenOfSize({800, 600}), {800, 600});
    menu.show();
    QElapsedTimer clock;
    clock.start();
    Click(&menu, {60, 180});
    EXPECT_FALSE(started);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_TRUE(menu.isVisible());
}

TEST_F(MenuWindow, TopRightButtonsAndDesktopCloseEndItButNotEscape)
{
    Open({800, 600});
    std::vector<int> results;
    QObject::connect(dlg.get(), &QDialog::finished, [&](int r) { results.push_back(r); });
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(dlg.get(), &escape);
    EXPECT_TRUE(results.empty()) << "a stray Escape ended the menu";
    EXPECT_TRUE(dlg->isVisible());
    ButtonById(dlg.get(), 228)->click();
    EXPECT_EQ(results, std::vector<int>{0});
    EXPECT_FALSE(dlg->isVisible());

    Open({800, 600});
    results.clear();
    QObject::connect(dlg.get(), &QDialog::finished, [&](int r) { results.push_back(r); });
    dlg->close();
    EXPECT_EQ(results, std::vector<int>{1});
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_TRUE(log.indices.empty());

    Open({800, 600});
    ButtonById(dlg.get(), 227)->click();
    EXPECT_TRUE(dlg->windowState() & Qt::WindowMinimized);
}

// Where the window manager keeps part of the screen (a panel), the client area is smaller than the
// screen: the picture still follows the screen, and every entry is hit where it is painted.
TEST_F(MenuWindow, WindowSmallerThanItsScreenIsHitWhereItIsPainted)
{
    Open({1366, 768}, {1200, 700}, {30, 40});
    EXPECT_EQ(dlg->Layout().pictureId, 149);
    const MenuPoint o = dlg->PictureOrigin();
    EXPECT_EQ(o, (MenuPoint{88, -34}));
    const QImage shot = dlg->grab().toImage();
    const QImage picture = LoadPngResource(QStringLiteral(":/png/149.png"));
    std::vector<int> expected;
    for (int i = 0; i < kEntryCount; ++i) {
        const HotRect& r = dlg->Layout().hot[static_cast<std::size_t>(i)];
        // The painted label: the picture's own pixels at the rectangle's corner and centre.
        for (const QPoint p : {QPoint(r.left, r.top), QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2)}) {
            EXPECT_EQ(shot.pixelColor(o.x + p.x(), o.y + p.y()).rgb(), picture.pixelColor(p).rgb()) << "entry " << i;
        }
        SendMouse(dlg.get(), QEvent::MouseMove, Centre(r, o));
        EXPECT_EQ(dlg->cursor().shape(), Qt::PointingHandCursor) << "entry " << i;
        Click(dlg.get(), Centre(r, o));
        Click(dlg.get(), {o.x + r.right, o.y + r.top});  // just right of the rectangle: nothing
        expected.push_back(i);
    }
    EXPECT_EQ(log.indices, expected);
}

// The picture comes from the window's own screen, whichever is the primary one, and changes with it.
TEST_F(MenuWindow, PictureFollowsTheWindowsOwnScreen)
{
    struct Case {
        QSize screen;
        int picture;
        MenuPoint origin;
    };
    const Case cases[] = {{{1366, 768}, 149, {171, 0}}, {{1024, 768}, 149, {0, 0}},
                          {{1024, 600}, 148, {112, 0}}, {{800, 600}, 148, {0, 0}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.screen.width());
        Open(c.screen);
        EXPECT_EQ(dlg->Layout().pictureId, c.picture);
        EXPECT_EQ(dlg->PictureOrigin(), c.origin);
        const HotRect& entry9 = dlg->Layout().hot[9];
        Click(dlg.get(), {c.origin.x + entry9.left, c.origin.y + entry9.top});
        EXPECT_EQ(log.indices.back(), 9);
        dlg.reset();
    }

    // Moved from the 1024 x 600 screen to the 1366 x 768 one.
    Open({1024, 600});
    ASSERT_EQ(dlg->Layout().pictureId, 148);
    PlaceOn(*dlg, ScreenOfSize({1366, 768}), {1366, 768});
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg->Layout().pictureId, 149);
    EXPECT_EQ(dlg->PictureOrigin(), (MenuPoint{171, 0}));
    log.indices.clear();
    Click(dlg.get(), {235, 223});
    EXPECT_EQ(log.indices, std::vector<int>{0});
    EXPECT_EQ(dlg->grab().toImage().pixelColor(171 + 300, 260).rgb(),
              LoadPngResource(QStringLiteral(":/png/149.png")).pixelColor(300, 260).rgb());
}
