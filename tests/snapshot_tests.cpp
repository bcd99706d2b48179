// Snapshot images: the writers' files decoded back by Qt's own readers (and their headers read by
// hand), the extension rule, failures, and the camera command driven through its save dialog.
#include "output/image_writers.h"
#include "output/snapshot.h"
#include "tests/support/when_shown.h"

#include <QApplication>
#include <QFileDialog>
#include <QImage>
#include <QImageReader>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <map>

namespace {

using namespace zelkor::output;
namespace fs = std::filesystem;

const QColor kQuadrant[4] = {QColor(230, 20, 30), QColor(20, 200, 40), QColor(30, 40, 220), QColor(250, 250, 250)};

// Top-left, top-right, bottom-left, bottom-right in the colours above.
RgbaImage Quadrants(int w, int h)
{
    RgbaImage img = RgbaImage::Filled(w, h, 0, 0, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QColor& c = kQuadrant[(y >= h / 2 ? 2 : 0) + (x >= w / 2 ? 1 : 0)];
            std::uint8_t* p = img.Row(y) + 4 * x;
            p[0] = static_cast<std::uint8_t>(c.red());
            p[1] = static_cast<std::uint8_t>(c.green());
            p[2] = static_cast<std::uint8_t>(c.blue());
        }
    return img;
}

RgbaImage Noise(int w, int h)
{
    RgbaImage img = RgbaImage::Filled(w, h, 0, 0, 0);
    std::uint32_t s = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < 3 * w; ++x) img.Row(y)[x / 3 * 4 + x % 3] = static_cast<std::uint8_t>((s = s * 1103515245u + 12345u) >> 24);
    return img;
}

std::vector<std::uint8_t> ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
unsigned Le16(const std::vector<std::uint8_t>& b, std::size_t at) { return b.at(at) | b.at(at + 1) << 8; }
std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) { return Le16(b, at) | std::uint32_t{Le16(b, at + 2)} << 16; }

void ExpectQuadrants(const QImage& img, int tolerance)
{
    ASSERT_FALSE(img.isNull());
    const int w = img.width(), h = img.height();
    const QPoint centres[4] = {{w / 4, h / 4}, {3 * w / 4, h / 4}, {w / 4, 3 * h / 4}, {3 * w / 4, 3 * h / 4}};
    for (int i = 0; i < 4; ++i) {
        const QColor got = img.pixelColor(centres[i]);
        EXPECT_NEAR(got.red(), kQuadrant[i].red(), tolerance) << "quadrant " << i;
        EXPECT_NEAR(got.green(), kQuadrant[i].green(), tolerance) << "quadrant " << i;
        EXPECT_NEAR(got.blue(), kQuadrant[i].blue(), tolerance) << "quadrant " << i;
    }
}

// The quantisation tables of a JPEG file, in file (zig-zag) order, by table number.
std::map<int, std::vector<int>> JpegTables(const std::vector<std::uint8_t>& f)
{
    std::map<int, std::vector<int>> tables;
    std::size_t i = 2;
    while (i + 4 <= f.size() && f[i] == 0xFF && f[i + 1] != 0xDA) {
        const std::size_t len = std::size_t{f[i + 2]} << 8 | f[i + 3];
        if (f[i + 1] == 0xDB)
            for (std::size_t t = i + 4; t + 65 <= i + 2 + len; t += 65)
                tables[f[t] & 0x0F] = std::vector<int>(f.begin() + static_cast<long>(t) + 1, f.begin() + static_cast<long>(t) + 65);
        i += 2 + len;
    }
    return tables;
}

// The example tables of the JPEG standard (Annex K) scaled for quality 90 (factor 200 - 2 * 90 = 20 %),
// listed in zig-zag order as a file holds them.
std::vector<int> ExpectedTable(bool chroma)
{
    static const int luma[64] = {16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55,
                                 14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62,
                                 18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
                                 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
    static const int zigzag[64] = {0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5,
                                   12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6, 7, 14, 21, 28,
                                   35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                   58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
    static const int chromaTop[4][4] = {{17, 18, 24, 47}, {18, 21, 26, 66}, {24, 26, 56, 99}, {47, 66, 99, 99}};
    std::vector<int> out;
    for (int k : zigzag) {
        const int r = k / 8, c = k % 8;
        const int base = chroma ? (r < 4 && c < 4 ? chromaTop[r][c] : 99) : luma[k];
        out.push_back(std::clamp((base * 20 + 50) / 100, 1, 255));
    }
    return out;
}

void ExpectJpegQuality90(const fs::path& p)
{
    const auto f = ReadAll(p);
    ASSERT_GE(f.size(), 4u);
    EXPECT_EQ(f[0], 0xFF);
    EXPECT_EQ(f[1], 0xD8);
    const auto tables = JpegTables(f);
    ASSERT_EQ(tables.size(), 2u);
    EXPECT_EQ(tables.at(0), ExpectedTable(false));
    EXPECT_EQ(tables.at(1), ExpectedTable(true));
}

class Writers : public ::testing::Test {
protected:
    QTemporaryDir dir;
    fs::path At(const char* name) const { return fs::path(dir.path().toStdString()) / name; }
    static QImage Load(const fs::path& p) { return QImage(QString::fromStdString(p.string())); }
};

TEST(FormatFromFileName, FollowsTheTextAfterTheLastDotOfThePath)
{
    EXPECT_EQ(FormatFromFileName("a.bmp"), ImageFormat::Bmp);
    EXPECT_EQ(FormatFromFileName("/x/a.PNG"), ImageFormat::Png);
    for (const char* name : {"a.jpg", "a.JPEG", "a.jpe", "a.jfif"}) EXPECT_EQ(FormatFromFileName(name), ImageFormat::Jpeg) << name;
    EXPECT_EQ(FormatFromFileName("a.Ico"), ImageFormat::Icon);
    EXPECT_EQ(FormatFromFileName("a.cur"), ImageFormat::Cursor);
    EXPECT_EQ(FormatFromFileName("a.pngx"), ImageFormat::Png);  // only the first three characters count
    EXPECT_EQ(FormatFromFileName("图片.tar.bmp"), ImageFormat::Bmp);
    for (const char* name : {"a.gif", "a", "a.", "a.pn", "a.jp", "a.tif"}) EXPECT_EQ(FormatFromFileName(name), ImageFormat::None) << name;
    // The rule reads the whole path: a folder's dot decides when the file name has none.
    EXPECT_EQ(FormatFromFileName("/tmp/v1.png/a"), ImageFormat::Png);
    EXPECT_EQ(FormatFromFileName("/tmp/my.folder/a"), ImageFormat::None);
}

TEST_F(Writers, BmpIs24BitBottomUpWithPaddedRows)
{
    const RgbaImage img = Quadrants(61, 47);  // 183 bytes a row, padded to 184
    ASSERT_TRUE(WriteBmp(img, At("q.bmp")).ok);
    const auto f = ReadAll(At("q.bmp"));
    ASSERT_EQ(f.size(), 54u + 184u * 47u);
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    EXPECT_EQ(Le32(f, 2), f.size());
    EXPECT_EQ(Le32(f, 10), 54u);
    EXPECT_EQ(Le32(f, 14), 40u);
    EXPECT_EQ(Le32(f, 18), 61u);
    EXPECT_EQ(Le32(f, 22), 47u);  // positive: bottom-up
    EXPECT_EQ(Le16(f, 28), 24u);
    // First stored row is the bottom one: bottom-left quadrant, blue-green-red order.
    EXPECT_EQ(f[54], 220);
    EXPECT_EQ(f[55], 40);
    EXPECT_EQ(f[56], 30);
    const QImage back = Load(At("q.bmp"));
    ASSERT_EQ(back.size(), QSize(61, 47));
    for (int y = 0; y < 47; ++y)
        for (int x = 0; x < 61; ++x)
            ASSERT_EQ(back.pixel(x, y), qRgb(img.Row(y)[4 * x], img.Row(y)[4 * x + 1], img.Row(y)[4 * x + 2])) << x << "," << y;
}

TEST_F(Writers, PngKeepsEveryPixelAndAlphaOnlyWhenNeeded)
{
    const RgbaImage img = Quadrants(50, 30);
    ASSERT_TRUE(WritePng(img, At("q.png")).ok);
    QImage back = Load(At("q.png"));
    ASSERT_EQ(back.size(), QSize(50, 30));
    EXPECT_FALSE(back.hasAlphaChannel());
    EXPECT_EQ(ToRgbaImage(back).bytes, img.bytes);

    RgbaImage translucent = img;
    translucent.Row(3)[4 * 7 + 3] = 100;
    ASSERT_TRUE(WritePng(translucent, At("t.png")).ok);
    back = Load(At("t.png"));
    EXPECT_TRUE(back.hasAlphaChannel());
    EXPECT_EQ(ToRgbaImage(back).bytes, translucent.bytes);
}

TEST_F(Writers, JpegIsQuality90)
{
    ASSERT_TRUE(WriteJpeg(Quadrants(64, 48), At("q.jpg")).ok);
    ExpectJpegQuality90(At("q.jpg"));
    const QImage back = Load(At("q.jpg"));
    ASSERT_EQ(back.size(), QSize(64, 48));
    ExpectQuadrants(back, 12);
}

TEST_F(Writers, IconsAndCursorsHoldAtMost256Pixels)
{
    ASSERT_TRUE(WriteIcon(Quadrants(1024, 768), At("big.ico")).ok);
    auto f = ReadAll(At("big.ico"));
    ASSERT_GE(f.size(), 62u);
    EXPECT_EQ(Le16(f, 2), 1u);
    EXPECT_EQ(Le16(f, 4), 1u);
    EXPECT_EQ(f[6], 0);  // 256 wide
    EXPECT_EQ(f[7], 192);
    EXPECT_EQ(Le32(f, 14), f.size() - 22);
    const QImage back = Load(At("big.ico"));
    ASSERT_EQ(back.size(), QSize(256, 192));
    ExpectQuadrants(back, 0);

    RgbaImage small = Quadrants(40, 30);
    small.Row(0)[3] = 0;  // one transparent pixel: set in the AND mask
    ASSERT_TRUE(WriteIcon(small, At("small.cur"), true).ok);
    f = ReadAll(At("small.cur"));
    EXPECT_EQ(Le16(f, 2), 2u);
    EXPECT_EQ(f[6], 40);
    EXPECT_EQ(f[7], 30);
    EXPECT_EQ(Le16(f, 10), 0u);  // hotspot at the top-left pixel
    EXPECT_EQ(Le16(f, 12), 0u);
    const std::size_t topMaskRow = 22 + 40 + 40 * 4 * 30 + 29 * 8;
    EXPECT_EQ(f.at(topMaskRow), 0x80);
    EXPECT_EQ(f.size(), topMaskRow + 8);
    std::vector<std::uint8_t> asIcon = f;
    asIcon[2] = 1;  // the same bits as an icon, for Qt's icon reader
    asIcon[10] = 1;
    asIcon[12] = 32;
    std::ofstream(At("small.ico"), std::ios::binary).write(reinterpret_cast<const char*>(asIcon.data()), static_cast<long>(asIcon.size()));
    const QImage icon = Load(At("small.ico"));
    ASSERT_EQ(icon.size(), QSize(40, 30));
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);
    EXPECT_EQ(icon.pixel(1, 0), qRgb(230, 20, 30));
}

TEST(ScaleDownToFit, KeepsTheAspectRatioAndWeighsByAlpha)
{
    EXPECT_EQ(ScaleDownToFit(Quadrants(300, 1000), 256).width, 77);
    EXPECT_EQ(ScaleDownToFit(Quadrants(5000, 1), 256).height, 1);
    RgbaImage pair = RgbaImage::Filled(512, 1, 200, 10, 10);
    for (int x = 0; x < 512; x += 2) pair.Row(0)[4 * x + 3] = 0;
    const RgbaImage half = ScaleDownToFit(pair, 256);
    ASSERT_EQ(half.width, 256);
    EXPECT_EQ(half.bytes[0], 200);  // not darkened by the transparent neighbours
    EXPECT_EQ(half.bytes[3], 128);
}

// Lowers the file size limit for the writes inside, so they fail part-way like a full disk.
struct FileSizeLimit {
    rlimit old{};
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit lower = old;
        lower.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old); }
};

TEST_F(Writers, FailuresSayWhyAndLeaveNoPartialFile)
{
    const RgbaImage noise = Noise(256, 256);
    const ImageFormat formats[] = {ImageFormat::Bmp, ImageFormat::Png, ImageFormat::Jpeg, ImageFormat::Icon};
    for (const ImageFormat format : formats) {
        const fs::path target = At("partial");
        std::ofstream(target) << "an older file";
        WriteResult r;
        {
            FileSizeLimit limit(2000);
            r = WriteImage(noise, target, format);
        }
        EXPECT_FALSE(r.ok) << static_cast<int>(format);
        EXPECT_FALSE(r.error.empty());
        EXPECT_FALSE(fs::exists(target)) << static_cast<int>(format);

        r = WriteImage(noise, "/dev/full", format);  // a device: reported, not removed
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(fs::exists("/dev/full"));
        if (format == ImageFormat::Png) {
            EXPECT_NE(r.error.find("Write Error"), std::string::npos) << r.error;
        }
        if (format == ImageFormat::Jpeg) {
            EXPECT_NE(r.error.find("write error"), std::string::npos) << r.error;
        }

        r = WriteImage(noise, At("no such folder/a.img"), format);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find("no such folder/a.img"), std::string::npos) << r.error;

        EXPECT_FALSE(WriteImage(RgbaImage{}, At("empty"), format).ok);
        EXPECT_FALSE(fs::exists(At("empty")));
    }
}

// ---- the camera command -------------------------------------------------------------------------

class QuadrantWindow : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const int w = width() / 2, h = height() / 2;
        p.fillRect(0, 0, w, h, kQuadrant[0]);
        p.fillRect(w, 0, width() - w, h, kQuadrant[1]);
        p.fillRect(0, h, w, height() - h, kQuadrant[2]);
        p.fillRect(w, h, width() - w, height() - h, kQuadrant[3]);
    }
};

// Records the text of every message box shown while it lives, and answers it.
struct BoxCatcher {
    QStringList texts;
    QTimer timer;
    BoxCatcher()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    texts << box->text();
                    box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->reject();
                }
        });
        timer.start(10);
    }
};

class Camera : public Writers {
protected:
    QuadrantWindow window;
    void SetUp() override
    {
        window.resize(64, 48);
        window.show();
    }
    ChooseSnapshotFile Typed(const char* name)
    {
        return [this, name](QWidget* parent) {
            EXPECT_EQ(parent, &window);
            return dir.filePath(QString::fromUtf8(name));
        };
    }
};

TEST_F(Camera, FormatFollowsTheExtension)
{
    BoxCatcher boxes;
    TakeSnapshot(&window, Typed("a.PNG"));
    const auto png = ReadAll(At("a.PNG"));
    ASSERT_GE(png.size(), 8u);
    EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
    ExpectQuadrants(Load(At("a.PNG")), 0);
    EXPECT_EQ(Load(At("a.PNG")).size(), QSize(64, 48));

    for (const char* name : {"a.jpeg", "a.jfif"}) {
        TakeSnapshot(&window, Typed(name));
        ExpectJpegQuality90(At(name));
        ExpectQuadrants(QImageReader(QString::fromStdString(At(name).string()), "jpeg").read(), 12);
    }

    TakeSnapshot(&window, Typed("a.gif"));
    TakeSnapshot(&window, [](QWidget*) { return QString(); });  // cancelled
    EXPECT_FALSE(fs::exists(At("a.gif")));
    EXPECT_EQ(std::distance(fs::directory_iterator(At("")), fs::directory_iterator()), 3);
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join("|").toStdString();
}

TEST_F(Camera, UnwritableNameShowsTheErrorAndTheWindowCarriesOn)
{
    BoxCatcher boxes;
    TakeSnapshot(&window, Typed("missing/a.bmp"));
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_TRUE(boxes.texts[0].contains(dir.filePath("missing/a.bmp"))) << boxes.texts[0].toStdString();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    TakeSnapshot(&window, Typed("b.bmp"));
    EXPECT_EQ(boxes.texts.size(), 1);
    ExpectQuadrants(Load(At("b.bmp")), 0);
}

// Drives the real save dialog: checks how it is set up, chooses `filter`, types `name` and accepts.
void TypeInSaveDialog(const QString& folder, const QString& filter, const QString& name, bool* seen)
{
    zelkor::testing::WhenShown<QFileDialog>(
        [=](QFileDialog* d) {
            EXPECT_EQ(d->windowTitle(), QStringLiteral("保存实验界面快照"));
            EXPECT_EQ(d->nameFilters(), SnapshotNameFilters());
            EXPECT_EQ(SnapshotNameFilters().value(2), QStringLiteral("PNG文件 (*.png)"));
            EXPECT_EQ(d->selectedNameFilter(), QStringLiteral("BMP文件 (*.bmp)"));
            EXPECT_EQ(d->defaultSuffix(), QStringLiteral("bmp"));
            EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptSave);
            d->setDirectory(folder);
            if (!filter.isEmpty()) d->selectNameFilter(filter);
            auto* edit = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (!edit) {
                ADD_FAILURE() << "no file name field";
                d->reject();
                return;
            }
            edit->setText(name);
            static_cast<QDialog*>(d)->accept();  // QFileDialog::accept, as the Save button does
        },
        seen);
}

TEST_F(Camera, SaveDialogAppendsBmpAndIgnoresTheChosenType)
{
    bool seen = false;
    TypeInSaveDialog(dir.path(), {}, QStringLiteral("a"), &seen);
    TakeSnapshot(&window);
    ASSERT_TRUE(seen);
    EXPECT_EQ(ReadAll(At("a.bmp")).at(0), 'B');
    ExpectQuadrants(Load(At("a.bmp")), 0);

    seen = false;
    TypeInSaveDialog(dir.path(), QStringLiteral("PNG文件 (*.png)"), QStringLiteral("c.bmp"), &seen);
    TakeSnapshot(&window);
    ASSERT_TRUE(seen);
    EXPECT_EQ(ReadAll(At("c.bmp")).at(0), 'B');
    EXPECT_EQ(std::distance(fs::directory_iterator(At("")), fs::directory_iterator()), 2);
}

TEST_F(Camera, SaveDialogAsksBeforeReplacingAFile)
{
    std::ofstream(At("old.bmp")) << "old";
    bool seen = false, asked = false;
    zelkor::testing::WhenShown<QFileDialog>(
        [&](QFileDialog* d) {
            d->setDirectory(dir.path());
            d->selectFile(QStringLiteral("old.bmp"));
            zelkor::testing::WhenShown<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes) ? box->button(QMessageBox::Yes)->click() : box->reject(); }, &asked);
            static_cast<QDialog*>(d)->accept();  // QFileDialog::accept, as the Save button does
        },
        &seen);
    TakeSnapshot(&window);
    ASSERT_TRUE(seen);
    EXPECT_TRUE(asked);
    EXPECT_EQ(Load(At("old.bmp")).size(), QSize(64, 48));
}

}  // namespace
