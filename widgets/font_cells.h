#pragma once
// Fonts by face and character-cell height. The windows ask for fonts as "face, cell height in pixels"
// (ascent plus descent, internal leading included), not in points. Qt sizes fonts by the em, so the
// pixel size is searched for until QFontMetrics::height() equals the requested cell height.

#include <QFont>
#include <QString>

namespace zelkor::widgets {

// Character-set hints the windows pass along with a face name.
inline constexpr int kWesternCharSet = 0;
inline constexpr int kChineseCharSet = 134;  // GB2312

// Largest cell height honoured; larger requests are clamped so that absurd sizes cannot exhaust memory.
inline constexpr int kMaxCellHeight = 1000;

// A font of the given face whose cell height is cellHeight pixels (clamped to 1..kMaxCellHeight).
// When no pixel size gives exactly that height (the CJK faces' cells grow in steps of up to two pixels),
// the largest one that stays below it is used.
// Results are cached; call from the user-interface thread.
QFont FontForCellHeight(const QString& face, int cellHeight, bool bold = false, bool italic = false);

// As above, with an explicit weight (400 normal, 700 bold, as the windows give it) and a character-set
// hint: with kChineseCharSet a Simplified Chinese face is put behind the requested one, so that glyphs the
// face lacks come from a Simplified Chinese font rather than from whichever CJK font the system prefers.
QFont FontForCellHeight(const QString& face, int cellHeight, int weight, bool italic, int charSet);

}  // namespace zelkor::widgets
