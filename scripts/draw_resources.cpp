// Draws the launcher's pictures, the frame's bitmaps and icons into resources/ (first argument: the
// resources folder), and the desktop menu's icon at the hicolor theme's sizes (second argument, optional:
// the folder of the packaging icons).
// Built and run by the zelkor_draw_resources target; the output PNGs are committed.
#include "launcher/menu_layout.h"

#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <cstdio>

using zelkor::launcher::EntryColumn;
using zelkor::launcher::EntryLabels;
using zelkor::launcher::HotRect;
using zelkor::launcher::kEntryCount;
using zelkor::launcher::MenuLayout;

namespace {

const QColor kBackground(88, 76, 142);
const QColor kBand(246, 243, 252);
const QColor kBandEdge(225, 218, 245);
const QColor kInk(52, 40, 104);
const QColor kPin(240, 112, 94);
const QColor kPale(222, 216, 244);
const QString kSans = QStringLiteral("Noto Sans CJK SC");

QFont SansFont(qreal pixelSize, bool bold)
{
    QFont font(kSans);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixelSize))));
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// Draws `text` with its ink's left edge at x and its ink centred on centreY.
void DrawInkCentred(QPainter& p, const QString& text, qreal x, qreal centreY)
{
    const QRectF ink = QFontMetricsF(p.font()).tightBoundingRect(text);
    p.drawText(QPointF(x - ink.left(), centreY - ink.top() - ink.height() / 2.0), text);
}

// The logo: a transmitter dot sending waves down to two receivers on a base bar.
void DrawLogo(QPainter& p, const QRectF& box, const QColor& tile, const QColor& line, const QColor& accent)
{
    const qreal s = box.width();
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(box, s * 0.22, s * 0.22);

    const QPointF tx(box.center().x(), box.top() + s * 0.30);
    QPen wave(line, std::max(1.2, s * 0.055), Qt::SolidLine, Qt::RoundCap);
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 3; ++i) {
        const qreal r = s * (0.10 + 0.11 * i);
        QColor c = line;
        c.setAlphaF(static_cast<float>(1.0 - 0.22 * (i - 1)));
        wave.setColor(c);
        p.setPen(wave);
        p.drawArc(QRectF(tx.x() - r, tx.y() - r, 2 * r, 2 * r), -45 * 16, -90 * 16);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(accent);
    p.drawEllipse(tx, s * 0.075, s * 0.075);

    const qreal barY = box.top() + s * 0.76;
    p.setBrush(line);
    p.drawRoundedRect(QRectF(box.left() + s * 0.16, barY, s * 0.68, s * 0.07), s * 0.035, s * 0.035);
    for (const qreal fx : {0.30, 0.70}) {
        const QPointF rx(box.left() + s * fx, barY - s * 0.02);
        p.setBrush(line);
        p.drawEllipse(rx, s * 0.075, s * 0.075);
        p.setBrush(tile);
        p.drawEllipse(rx, s * 0.03, s * 0.03);
    }
    p.restore();
}

// A map pin whose head is centred at (x, centreY), `h` pixels tall.
void DrawPin(QPainter& p, qreal x, qreal centreY, qreal h)
{
    const qreal r = h * 0.36;
    const QPointF head(x, centreY - h * 0.12);
    QPainterPath path;
    path.moveTo(x, head.y() + h * 0.62);
    path.lineTo(x - r * 0.78, head.y() + r * 0.62);
    path.arcTo(QRectF(head.x() - r, head.y() - r, 2 * r, 2 * r), 218, -256);
    path.closeSubpath();
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(kPin);
    p.drawPath(path);
    p.setBrush(kBand);
    p.drawEllipse(head, r * 0.42, r * 0.42);
    p.restore();
}

// Largest pixel size at which every label's ink fits its hot rectangle from its column's text start.
int FitLabelSize(const MenuLayout& layout, const std::array<int, 3>& columnX)
{
    for (int size = 60; size > 6; --size) {
        const QFontMetricsF fm(SansFont(size, false));
        bool fits = true;
        for (int i = 0; i < kEntryCount && fits; ++i) {
            const HotRect& r = layout.hot[static_cast<std::size_t>(i)];
            const QRectF ink = fm.tightBoundingRect(QString::fromUtf8(EntryLabels()[static_cast<std::size_t>(i)]));
            const qreal room = r.right - columnX[static_cast<std::size_t>(EntryColumn(i))] - 1;
            fits = ink.height() <= r.bottom - r.top - 2 && ink.width() <= room;
        }
        if (fits) return size;
    }
    return 6;
}

QImage DrawMenu(const MenuLayout& layout)
{
    const int w = layout.pictureSize.width;
    const int h = layout.pictureSize.height;
    const qreal k = w / 1024.0;
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(kBackground);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // Where the band and its columns go follows from the hot rectangles.
    int top = h, bottom = 0, lowest = h;
    std::array<int, 3> columnX{0, 0, 0};      // text start: right of every left edge in the column
    std::array<int, 3> columnRight{0, 0, 0};
    for (int i = 0; i < kEntryCount; ++i) {
        const HotRect& r = layout.hot[static_cast<std::size_t>(i)];
        const auto c = static_cast<std::size_t>(EntryColumn(i));
        top = std::min(top, r.top);
        bottom = std::max(bottom, r.bottom);
        lowest = std::min(lowest, r.bottom - r.top);
        columnX[c] = std::max(columnX[c], r.left + 1);
        columnRight[c] = std::max(columnRight[c], r.right);
    }
    const qreal pad = 36 * k;
    const QRectF band(24 * k, top - pad, w - 48 * k, bottom - top + 2 * pad);

    // Header: logo, title, a line beneath.
    const qreal logoSide = 84 * k;
    const QRectF logo(band.left() + 22 * k, (band.top() - logoSide) / 2.0 - 4 * k, logoSide, logoSide);
    DrawLogo(p, logo, QColor(255, 255, 255), kBackground, kPin);
    const qreal textX = logo.right() + 26 * k;
    p.setPen(Qt::white);
    p.setFont(SansFont(44 * k, true));
    DrawInkCentred(p, QStringLiteral("二维超声运动实验系统"), textX, logo.top() + logoSide * 0.36);
    p.setPen(kPale);
    p.setFont(SansFont(19 * k, false));
    DrawInkCentred(p, QStringLiteral("Zelkor 2D  ·  课堂物理实验"), textX + 2 * k, logo.top() + logoSide * 0.84);

    // The band with a soft shadow.
    p.setPen(Qt::NoPen);
    for (int i = 3; i >= 1; --i) {
        p.setBrush(QColor(40, 30, 80, 28));
        p.drawRoundedRect(band.translated(0, i * 2 * k), 18 * k, 18 * k);
    }
    p.setBrush(kBand);
    p.setPen(QPen(kBandEdge, 1.0));
    p.drawRoundedRect(band, 18 * k, 18 * k);

    // Column separators, midway between one column's text and the next one's pins.
    const qreal pinGap = 20 * k;
    QPen sep(kBandEdge, 2 * k, Qt::DotLine, Qt::RoundCap);
    p.setPen(sep);
    for (std::size_t c = 0; c + 1 < 3; ++c) {
        const qreal x = std::round((columnRight[c] + columnX[c + 1] - pinGap * 1.6) / 2.0);
        p.drawLine(QPointF(x, band.top() + 22 * k), QPointF(x, band.bottom() - 22 * k));
    }

    // Entries: a pin before each label, the label inside its hot rectangle.
    const int labelSize = FitLabelSize(layout, columnX);
    p.setFont(SansFont(labelSize, false));
    for (int i = 0; i < kEntryCount; ++i) {
        const HotRect& r = layout.hot[static_cast<std::size_t>(i)];
        const qreal x = columnX[static_cast<std::size_t>(EntryColumn(i))];
        const qreal cy = (r.top + r.bottom) / 2.0;
        DrawPin(p, x - pinGap * 0.75, cy, lowest * 1.05);
        p.setPen(kInk);
        DrawInkCentred(p, QString::fromUtf8(EntryLabels()[static_cast<std::size_t>(i)]), x, cy);
    }

    // The hint, right-aligned below the band, with a small arrow.
    const QString hint = QStringLiteral("选择实验，点击进入");
    p.setFont(SansFont(21 * k, false));
    const QRectF hintInk = QFontMetricsF(p.font()).tightBoundingRect(hint);
    const qreal hintY = band.bottom() + 36 * k;
    const qreal arrowW = 12 * k;
    const qreal hintRight = band.right() - 16 * k;
    p.setPen(Qt::white);
    DrawInkCentred(p, hint, hintRight - arrowW - 10 * k - hintInk.width(), hintY);
    QPainterPath arrow;
    arrow.moveTo(hintRight - arrowW, hintY - arrowW * 0.6);
    arrow.lineTo(hintRight, hintY);
    arrow.lineTo(hintRight - arrowW, hintY + arrowW * 0.6);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kPin);
    p.drawPath(arrow);

    // Grid of dots, brightest round the middle, and a stroboscopic throw across it.
    const qreal gridTop = hintY + 34 * k;
    const qreal gridBottom = h - 26 * k;
    const qreal step = 24 * k;
    const QPointF centre(w / 2.0, (gridTop + gridBottom) / 2.0);
    const qreal reach = std::hypot(band.width() / 2.0, (gridBottom - gridTop) / 2.0);
    for (qreal y = gridTop; y <= gridBottom + 0.1; y += step) {
        for (qreal x = band.left() + step / 2; x <= band.right(); x += step) {
            const qreal d = std::hypot(x - centre.x(), y - centre.y()) / reach;
            QColor dot(200, 192, 238);
            dot.setAlphaF(static_cast<float>(std::clamp(0.55 - 0.45 * d, 0.08, 0.55)));
            p.setBrush(dot);
            p.drawEllipse(QPointF(x, y), 2.0 * k, 2.0 * k);
        }
    }
    const qreal x0 = band.left() + 80 * k;
    const qreal y0 = gridTop + 40 * k;
    const qreal span = band.width() - 220 * k;
    const qreal drop = gridBottom - y0 - 30 * k;
    auto throwAt = [&](qreal t) { return QPointF(x0 + span * t, y0 + drop * t * t); };
    QPainterPath path;
    path.moveTo(throwAt(0));
    for (int i = 1; i <= 60; ++i) path.lineTo(throwAt(i / 60.0));
    QPen dash(QColor(255, 255, 255, 110), 2 * k, Qt::DashLine, Qt::RoundCap);
    p.setPen(dash);
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.setPen(Qt::NoPen);
    for (int i = 0; i <= 6; ++i) {
        const qreal t = i / 6.0;
        QColor ball = i == 6 ? kPin : QColor(255, 255, 255);
        ball.setAlphaF(i == 6 ? 1.0f : 0.35f + 0.1f * static_cast<float>(i));
        p.setBrush(ball);
        p.drawEllipse(throwAt(t), 9 * k, 9 * k);
    }
    return img;
}

QImage DrawButtonBitmap(bool cross)
{
    QImage img(16, 16, QImage::Format_RGB32);
    img.fill(kBackground);
    QPainter p(&img);
    if (cross) {
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
    } else {
        p.fillRect(QRect(3, 11, 10, 2), Qt::white);
    }
    return img;
}

QImage DrawIcon(int side)
{
    QImage img(side, side, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal m = side / 16.0;
    DrawLogo(p, QRectF(m, m, side - 2 * m, side - 2 * m), kBackground, QColor(255, 255, 255), kPin);
    return img;
}

// The experiment window's banner: a yellow band fading to white towards the right, the logo at its
// left end; the window draws its title over it from x = 120.
QImage DrawBanner()
{
    QImage img(970, 43, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fade(0, 0, img.width(), 0);
    fade.setColorAt(0.0, QColor(255, 211, 46));
    fade.setColorAt(0.35, QColor(255, 228, 120));
    fade.setColorAt(1.0, QColor(255, 255, 255));
    p.fillRect(img.rect(), fade);
    QLinearGradient edge(0, 0, img.width(), 0);  // a thin darker rule along the bottom, fading with it
    edge.setColorAt(0.0, QColor(226, 170, 20));
    edge.setColorAt(1.0, QColor(255, 255, 255));
    p.fillRect(QRect(0, img.height() - 2, img.width(), 2), edge);

    DrawLogo(p, QRectF(8, 5, 33, 33), kBackground, QColor(255, 255, 255), kPin);
    p.setPen(kInk);
    p.setFont(SansFont(13, true));
    DrawInkCentred(p, QStringLiteral("Zelkor"), 48, 15.5);
    p.setPen(kBackground);
    p.setFont(SansFont(11, false));
    DrawInkCentred(p, QStringLiteral("2D 实验"), 48, 30);
    return img;
}

// The snapshot button's icon: a camera with a lens and a flash window.
QImage DrawCamera()
{
    QImage img(32, 32, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    QPainterPath body;
    body.addRoundedRect(QRectF(2, 9, 28, 19), 3.5, 3.5);
    body.addRoundedRect(QRectF(10, 5, 12, 6), 1.5, 1.5);  // the prism housing on top
    body.setFillRule(Qt::WindingFill);
    p.drawPath(body.simplified());
    p.setBrush(QColor(255, 255, 255));
    p.drawEllipse(QPointF(16, 18.5), 7.2, 7.2);
    p.setBrush(kBackground);
    p.drawEllipse(QPointF(16, 18.5), 5.4, 5.4);
    p.setBrush(QColor(150, 140, 205));
    p.drawEllipse(QPointF(16, 18.5), 2.6, 2.6);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(QPointF(14.2, 16.7), 1.1, 1.1);  // a glint on the lens
    p.setBrush(kPin);
    p.drawRoundedRect(QRectF(4.5, 11.5, 4, 2.5), 0.8, 0.8);  // the flash
    return img;
}

// The energy chart's vertical axis title (167 x 25): an italic E, then Ep, Ek and E, each followed by
// a swatch of its curve's colour (red, blue, black).
QImage DrawEnergyLegend()
{
    QImage img(167, 25, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont main(QStringLiteral("Liberation Serif"));
    main.setPixelSize(19);
    main.setItalic(true);
    main.setHintingPreference(QFont::PreferNoHinting);
    QFont script(main);
    script.setPixelSize(12);
    script.setItalic(false);
    const qreal baseline = 18;
    p.setPen(Qt::black);
    p.setFont(main);
    p.drawText(QPointF(2, baseline), QStringLiteral("E"));
    struct Entry {
        const char* index;  // empty: the total
        QColor colour;
    };
    qreal x = 26;
    for (const Entry& e : {Entry{"p", QColor(255, 0, 0)}, Entry{"k", QColor(0, 0, 255)}, Entry{"", QColor(0, 0, 0)}}) {
        p.setPen(Qt::black);
        p.setFont(main);
        p.drawText(QPointF(x, baseline), QStringLiteral("E"));
        x += QFontMetricsF(main).horizontalAdvance(QStringLiteral("E"));
        if (*e.index) {
            p.setFont(script);
            p.drawText(QPointF(x, baseline + 3), QString::fromLatin1(e.index));
            x += QFontMetricsF(script).horizontalAdvance(QString::fromLatin1(e.index));
        }
        x += 3;
        p.fillRect(QRectF(x, 11, 20, 4), e.colour);
        x += 28;
    }
    return img;
}

bool Save(const QImage& img, const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!img.save(path, "PNG", 0)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <resources folder> [<desktop icons folder>]\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    bool ok = true;
    ok &= Save(DrawMenu(zelkor::launcher::SmallLayout()), out.filePath(QStringLiteral("png/148.png")));
    ok &= Save(DrawMenu(zelkor::launcher::LargeLayout()), out.filePath(QStringLiteral("png/149.png")));
    ok &= Save(DrawButtonBitmap(false), out.filePath(QStringLiteral("bitmap/103.png")));
    ok &= Save(DrawButtonBitmap(true), out.filePath(QStringLiteral("bitmap/104.png")));
    ok &= Save(DrawIcon(48), out.filePath(QStringLiteral("icon/128.png")));
    ok &= Save(DrawIcon(32), out.filePath(QStringLiteral("icon/128-32.png")));
    ok &= Save(DrawBanner(), out.filePath(QStringLiteral("bitmap/130.png")));
    ok &= Save(DrawCamera(), out.filePath(QStringLiteral("icon/139.png")));
    ok &= Save(DrawEnergyLegend(), out.filePath(QStringLiteral("bitmap/147.png")));
    if (argc > 2) {
        const QDir icons(QString::fromLocal8Bit(argv[2]));
        for (const int side : {16, 22, 24, 32, 48, 64, 128, 256})
            ok &= Save(DrawIcon(side), icons.filePath(QStringLiteral("%1x%1/zelkor2d.png").arg(side)));
    }
    return ok ? 0 : 1;
}
