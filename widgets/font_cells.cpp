#include "font_cells.h"

#include <QFontMetrics>
#include <QHash>
#include <QStringList>

#include <algorithm>
#include <tuple>

namespace zelkor::widgets {
namespace {

struct FontKey {
    QString face;
    int cellHeight;
    int weight;
    bool italic;
    int charSet;
    bool operator==(const FontKey& o) const
    {
        return std::tie(face, cellHeight, weight, italic, charSet) ==
               std::tie(o.face, o.cellHeight, o.weight, o.italic, o.charSet);
    }
};

size_t qHash(const FontKey& k, size_t seed = 0)
{
    return ::qHashMulti(seed, k.face, k.cellHeight, k.weight, k.italic, k.charSet);
}

QFont MakeFont(const QString& face, int pixelSize, int weight, bool italic, int charSet)
{
    QFont font(face);
    if (charSet == kChineseCharSet)
        font.setFamilies({face, QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(std::max(1, pixelSize));
    // QFont::Weight uses the same 100..900 scale as the weights the windows pass.
    font.setWeight(static_cast<QFont::Weight>(std::clamp(weight, 1, 1000)));
    font.setItalic(italic);
    font.setUnderline(false);
    font.setStrikeOut(false);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

int CellHeightOf(const QFont& font) { return QFontMetrics(font).height(); }

}  // namespace

QFont FontForCellHeight(const QString& face, int cellHeight, bool bold, bool italic)
{
    return FontForCellHeight(face, cellHeight, bold ? 700 : 400, italic, kWesternCharSet);
}

QFont FontForCellHeight(const QString& face, int cellHeight, int weight, bool italic, int charSet)
{
    static QHash<FontKey, QFont> cache;
    const int target = std::clamp(cellHeight, 1, kMaxCellHeight);
    const FontKey key{face, target, weight, italic, charSet};
    if (auto it = cache.constFind(key); it != cache.constEnd())
        return *it;

    // Cell height grows with the pixel size; find the largest size whose cell is not taller than the
    // target. The cell of a pixel size is never smaller than about 0.5 of it, so 2 * target bounds it.
    int lo = 1;
    int hi = 2 * target + 2;
    while (lo < hi) {
        const int mid = lo + (hi - lo + 1) / 2;
        if (CellHeightOf(MakeFont(face, mid, weight, italic, charSet)) <= target)
            lo = mid;
        else
            hi = mid - 1;
    }
    QFont font = MakeFont(face, lo, weight, italic, charSet);
    if (cache.size() >= 512)  // faces come from markup; keep the cache bounded
        cache.clear();
    cache.insert(key, font);
    return font;
}

}  // namespace zelkor::widgets
