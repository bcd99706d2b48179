// The markup scan and run placement, without a toolkit: every malformed form, the font command's size
// field, math splitting, and where each run lands with which font.
#include "widgets/markup_layout.h"
#include "widgets/markup_scan.h"

#include <gtest/gtest.h>

#include <climits>

using namespace zelkor::markup;

namespace {

MarkupCommand Cmd(CommandKind k, std::u16string a) { return {k, std::move(a)}; }

// Deterministic metrics: every character is half the height wide, plus 1 in italic so tests can tell
// fonts apart by width; pictures are as wide as their number and 8 high.
class FakeMetrics : public RunMetrics {
public:
    Extent MeasureText(const FontState& f, std::u16string_view s) override
    {
        const int per = f.height / 2 + (f.italic ? 1 : 0);
        return {static_cast<int>(s.size()) * per, f.height};
    }
    Extent MeasureBitmap(int id) override { return id == 7 ? Extent{30, 8} : Extent{}; }
};

}  // namespace

TEST(MarkupScan, WellFormedCommandsInOrderWithSpacesKept)
{
    EXPECT_EQ(ScanMarkup(u"\\font{黑体,26}\\text{水平位移}\\font{Times New Roman,26}\\math{X}\\text{:}"),
              (std::vector<MarkupCommand>{Cmd(CommandKind::Font, u"黑体,26"), Cmd(CommandKind::Text, u"水平位移"),
                                          Cmd(CommandKind::Font, u"Times New Roman,26"),
                                          Cmd(CommandKind::Math, u"X"), Cmd(CommandKind::Text, u":"),
                                          Cmd(CommandKind::Plain, u"")}));
    EXPECT_EQ(ScanMarkup(u"\\math{ f }\\bmp{12}"),
              (std::vector<MarkupCommand>{Cmd(CommandKind::Math, u" f "), Cmd(CommandKind::Bitmap, u"12"),
                                          Cmd(CommandKind::Plain, u"")}));
    // "{" and a backslash inside an argument are ordinary characters.
    EXPECT_EQ(ScanMarkup(u"\\text{a{b\\c}"),
              (std::vector<MarkupCommand>{Cmd(CommandKind::Text, u"a{b\\c"), Cmd(CommandKind::Plain, u"")}));
}

TEST(MarkupScan, TextOutsideCommandsIsDroppedExceptAfterTheLast)
{
    EXPECT_EQ(ScanMarkup(u"lead\\text{a}gap\\text{b}tail"),
              (std::vector<MarkupCommand>{Cmd(CommandKind::Text, u"a"), Cmd(CommandKind::Text, u"b"),
                                          Cmd(CommandKind::Plain, u"tail")}));
    EXPECT_EQ(ScanMarkup(u"no commands"), (std::vector<MarkupCommand>{Cmd(CommandKind::Plain, u"no commands")}));
    EXPECT_EQ(ScanMarkup(u""), (std::vector<MarkupCommand>{Cmd(CommandKind::Plain, u"")}));
}

TEST(MarkupScan, MalformedMarkupEndsInOnePlainRun)
{
    // Unknown keyword (case and spaces count): its argument, the "}" and all the rest, uninterpreted.
    EXPECT_EQ(ScanMarkup(u"\\text{a}\\Text{b}\\math{c}"),
              (std::vector<MarkupCommand>{Cmd(CommandKind::Text, u"a"), Cmd(CommandKind::Plain, u"b}\\math{c}")}));
    EXPECT_EQ(ScanMarkup(u"\\ text{b}x"), (std::vector<MarkupCommand>{Cmd(CommandKind::Plain, u"b}x")}));
    EXPECT_EQ(ScanMarkup(u"\\text {b}"), (std::vector<MarkupCommand>{Cmd(CommandKind::Plain, u"b}")}));
    // No closing brace: the argument and the rest.
    EXPECT_EQ(ScanMarkup(u"\\text{a}\\math{x\\text{y"),
              (std::vector<MarkupCommand>{Cmd(CommandKind::Text, u"a"), Cmd(CommandKind::Plain, u"x\\text{y")}));
    // Backslash without a later "{": the text after the backslash.
    EXPECT_EQ(ScanMarkup(u"\\text{a}x\\rest}"),
              (std::vector<MarkupCommand>{Cmd(CommandKind::Text, u"a"), Cmd(CommandKind::Plain, u"rest}")}));
    EXPECT_EQ(ScanMarkup(u"abc\\"), (std::vector<MarkupCommand>{Cmd(CommandKind::Plain, u"")}));
    // Empty keyword is unknown too.
    EXPECT_EQ(ScanMarkup(u"\\{x}y"), (std::vector<MarkupCommand>{Cmd(CommandKind::Plain, u"x}y")}));
    // A header cell knows "text" and "math" only.
    EXPECT_EQ(ScanMarkup(u"\\math{X}\\font{a,9}\\text{b}", Keywords::HeaderCell),
              (std::vector<MarkupCommand>{Cmd(CommandKind::Math, u"X"), Cmd(CommandKind::Plain, u"a,9}\\text{b}")}));
    EXPECT_EQ(ScanMarkup(u"\\bmp{1}", Keywords::HeaderCell), (std::vector<MarkupCommand>{Cmd(CommandKind::Plain, u"1}")}));
}

TEST(MarkupFont, SizeFieldRules)
{
    EXPECT_EQ(ParseFontArgument(u"Times New Roman"), (FontChange{u"Times New Roman", kWesternCharSet, false, 0}));
    EXPECT_EQ(ParseFontArgument(u"宋体,24"), (FontChange{u"宋体", kChineseCharSet, false, 24}));
    EXPECT_EQ(ParseFontArgument(u"黑体"), (FontChange{u"黑体", kChineseCharSet, false, 0}));
    EXPECT_EQ(ParseFontArgument(u"Arial,i"), (FontChange{u"Arial", kWesternCharSet, true, 0}));
    EXPECT_EQ(ParseFontArgument(u"Arial,0"), (FontChange{u"Arial", kWesternCharSet, false, 0}));
    EXPECT_EQ(ParseFontArgument(u"Arial,26i"), (FontChange{u"Arial", kWesternCharSet, true, 26}));
    EXPECT_EQ(ParseFontArgument(u"Arial,i26"), (FontChange{u"Arial", kWesternCharSet, true, 0}));
    EXPECT_EQ(ParseFontArgument(u"Arial, 18px"), (FontChange{u"Arial", kWesternCharSet, false, 18}));
    EXPECT_EQ(ParseFontArgument(u"Arial,-5"), (FontChange{u"Arial", kWesternCharSet, false, 0}));
    // Only the first comma separates; the face is everything before it.
    EXPECT_EQ(ParseFontArgument(u",12,3"), (FontChange{u"", kWesternCharSet, false, 12}));
    EXPECT_EQ(ReadLeadingInt(u"99999999999999999999"), INT_MAX);
    EXPECT_EQ(ReadLeadingInt(u"-99999999999999999999"), INT_MIN);
    EXPECT_EQ(ReadLeadingInt(u"+7x"), 7);
}

TEST(MarkupMath, SplitsAtFirstCaretElseFirstUnderscore)
{
    EXPECT_EQ(SplitMath(u"E_k"), (MathParts{u"E", u"k", ScriptKind::Subscript}));
    EXPECT_EQ(SplitMath(u"a_b^c_d"), (MathParts{u"a_b", u"c_d", ScriptKind::Superscript}));
    EXPECT_EQ(SplitMath(u"x^2^3"), (MathParts{u"x", u"2^3", ScriptKind::Superscript}));
    EXPECT_EQ(SplitMath(u"X"), (MathParts{u"X", u"", ScriptKind::None}));
    EXPECT_EQ(SplitMath(u"_"), (MathParts{u"", u"", ScriptKind::Subscript}));
}

TEST(MarkupBitmap, IdIsTheTruncatedNumber)
{
    EXPECT_EQ(ParseBitmapId(u"103"), 103);
    EXPECT_EQ(ParseBitmapId(u" 12.9"), 12);
    EXPECT_EQ(ParseBitmapId(u"-0.5"), 0);
    EXPECT_EQ(ParseBitmapId(u"-3"), -1);
    EXPECT_EQ(ParseBitmapId(u"abc"), -1);
    EXPECT_EQ(ParseBitmapId(u"99999999999"), -1);
}

TEST(MarkupBoxLayout, CaptionWithFontSwitchesIsTopAlignedFromTheOrigin)
{
    FakeMetrics m;
    FontState state;
    const BoxLayout l = LayoutTextBox(
        u"\\font{黑体,26}\\text{水平位移}\\font{Times New Roman,26}\\math{X}\\text{:}", state, 45, 7, m);
    ASSERT_EQ(l.runs.size(), 4u);  // the trailing empty plain run included
    const PlacedRun& cjk = l.runs[0];
    EXPECT_EQ(cjk.font.face, u"黑体");
    EXPECT_EQ(cjk.font.charSet, kChineseCharSet);
    EXPECT_EQ(cjk.font.height, 26);
    EXPECT_EQ(cjk.x, 45);
    EXPECT_EQ(cjk.width, 4 * 13);
    const PlacedRun& x = l.runs[1];
    EXPECT_EQ(x.role, RunRole::MathBase);
    EXPECT_TRUE(x.font.italic);
    EXPECT_EQ(x.font.face, u"Times New Roman");
    EXPECT_EQ(x.font.charSet, kWesternCharSet);
    EXPECT_EQ(x.x, 45 + 52);
    EXPECT_EQ(x.width, 14);
    const PlacedRun& colon = l.runs[2];
    EXPECT_FALSE(colon.font.italic);
    EXPECT_EQ(colon.x, 45 + 52 + 14);
    for (const PlacedRun& r : l.runs)
        EXPECT_EQ(r.y, 7);
    EXPECT_EQ(l.width, 52 + 14 + 13);
    EXPECT_EQ(l.height, 26);
    EXPECT_EQ(state.face, u"Times New Roman");
}

TEST(MarkupBoxLayout, ScriptsSitLowerAndSmallerAndUpright)
{
    FakeMetrics m;
    FontState state;
    state.height = 24;
    BoxLayout l = LayoutTextBox(u"\\math{E_k}\\text{ / J}", state, 0, 0, m);
    ASSERT_EQ(l.runs.size(), 4u);
    EXPECT_EQ(l.runs[0].text, u"E");
    const PlacedRun& k = l.runs[1];
    EXPECT_EQ(k.role, RunRole::MathScript);
    EXPECT_EQ(k.text, u"k");
    EXPECT_FALSE(k.font.italic);
    EXPECT_EQ(k.font.height, 14);  // trunc(0.6 * 24)
    EXPECT_EQ(k.x, 13);            // after the italic E
    EXPECT_EQ(k.y, 12);            // half the E's height lower
    EXPECT_EQ(l.runs[2].x, 13 + 7);
    EXPECT_EQ(l.runs[2].text, u" / J");
    EXPECT_EQ(l.height, 24);

    l = LayoutTextBox(u"\\math{x^2_1}", state, 0, 0, m);
    EXPECT_EQ(l.runs[1].text, u"2_1");
    EXPECT_EQ(l.runs[1].y, 4);  // 24 / 6
    EXPECT_EQ(l.width, 13 + 3 * 7);
}

TEST(MarkupBoxLayout, FontStatePersistsAndItalicNeverSwitchesOff)
{
    FakeMetrics m;
    FontState state;
    LayoutTextBox(u"\\font{宋体,24i}\\text{下落高度}", state, 0, 0, m);
    EXPECT_EQ(state, (FontState{u"宋体", 24, 400, true, kChineseCharSet}));
    // Next markup without a font command: drawn in what the last one left, italic included.
    BoxLayout l = LayoutTextBox(u"\\math{X}\\text{(m)}", state, 0, 0, m);
    EXPECT_EQ(l.runs[1].font, (FontState{u"宋体", 24, 400, true, kChineseCharSet}));
    // A face change keeps height and italic; the hint follows the new face; "0" keeps the height.
    l = LayoutTextBox(u"\\font{Times New Roman,0}\\text{a}", state, 0, 0, m);
    EXPECT_EQ(l.runs[0].font, (FontState{u"Times New Roman", 24, 400, true, kWesternCharSet}));
}

TEST(MarkupBoxLayout, PictureRunsMoveThePenDownByAQuarter)
{
    FakeMetrics m;
    FontState state;
    const BoxLayout l = LayoutTextBox(u"\\bmp{7}\\text{a}\\bmp{8}\\text{b}", state, 2, 3, m);
    ASSERT_EQ(l.runs.size(), 5u);
    EXPECT_EQ(l.runs[0].role, RunRole::Picture);
    EXPECT_EQ(l.runs[0].bitmapId, 7);
    EXPECT_EQ(l.runs[1].x, 32);
    EXPECT_EQ(l.runs[1].y, 5);  // 3 + 8 / 4
    // An unknown picture is a run of size zero that moves nothing.
    EXPECT_EQ(l.runs[2].width, 0);
    EXPECT_EQ(l.runs[3].x, 32 + 5);
    EXPECT_EQ(l.runs[3].y, 5);
    EXPECT_EQ(l.height, 10);
}

TEST(MarkupCellLayout, LabelIsCentredByTheMeasureText)
{
    FakeMetrics m;
    const FontState cell{u"Times New Roman", 20, 700, false, kWesternCharSet};
    const Rect cellRect{2, 2, 94, 28};  // 92 x 26 after the margin
    CellLayout l = LayoutGridCell(u"\\math{X}\\text{(m)}", cell, true, u"X(m)", cellRect,
                                  {HAlign::Center, VAlign::Top}, m);
    // Measure text: 4 * 10 = 40 wide, 20 high.
    EXPECT_EQ(l.labelRect, (Rect{2 + 26, 2 + 3, 2 + 26 + 40, 2 + 3 + 20}));
    ASSERT_GE(l.runs.size(), 2u);
    EXPECT_EQ(l.runs[0].x, 28);
    EXPECT_EQ(l.runs[0].y, 5);
    EXPECT_TRUE(l.runs[0].font.italic);
    EXPECT_EQ(l.runs[0].width, 11);
    // "(m)" is centred in what is left of the label rectangle (29 wide) and upright.
    EXPECT_FALSE(l.runs[1].font.italic);
    EXPECT_EQ(l.runs[1].x, 39 + (29 - 30) / 2);

    // Without a measure text the label starts at the cell's horizontal centre.
    l = LayoutGridCell(u"\\math{X}\\text{(m)}", cell, true, u"", cellRect, {HAlign::Center, VAlign::Top}, m);
    EXPECT_EQ(l.runs[0].x, 2 + 46);
}

TEST(MarkupCellLayout, ScriptsAndPlainText)
{
    FakeMetrics m;
    const FontState cell{u"Times New Roman", 20, 700, false, kWesternCharSet};
    const Rect r{0, 0, 100, 30};
    CellLayout l = LayoutGridCell(u"\\math{E_p}\\text{ / J}", cell, false, u"Ep / J", r, {HAlign::Center, VAlign::Top}, m);
    ASSERT_GE(l.runs.size(), 3u);
    EXPECT_FALSE(l.runs[0].font.italic);  // math-italic flag off
    EXPECT_EQ(l.runs[1].font.height, 16);  // trunc(0.8 * 20)
    EXPECT_EQ(l.runs[1].y, l.runs[0].y + 10);
    EXPECT_EQ(l.runs[2].x, 38 + (42 - 40) / 2);  // " / J" centred in the 42 px left of the label

    l = LayoutGridCell(u"x^2", cell, true, u"", r, {HAlign::Center, VAlign::Top}, m);  // plain: no commands
    ASSERT_EQ(l.runs.size(), 1u);
    EXPECT_EQ(l.runs[0].text, u"x^2");
    EXPECT_EQ(l.runs[0].x, 50 + (0 - 30) / 2);

    l = LayoutGridCell(u"\\math{a^b}", cell, true, u"ab", r, {HAlign::Left, VAlign::Top}, m);
    EXPECT_EQ(l.runs[1].y, l.runs[0].y);  // superscript shares the top in a cell
    // Font and picture commands are no keywords in a cell: the scan ends there and the rest is drawn as
    // it stands, in the cell's font.
    l = LayoutGridCell(u"\\text{a}\\font{宋体,40}\\bmp{7}\\text{b}", cell, true, u"a", r, {HAlign::Left, VAlign::Top}, m);
    ASSERT_EQ(l.runs.size(), 2u);
    EXPECT_EQ(l.runs[0].text, u"a");
    EXPECT_EQ(l.runs[1].text, u"宋体,40}\\bmp{7}\\text{b}");
    EXPECT_EQ(l.runs[1].font, cell);
    l = LayoutGridCell(u"\\bmp{7}\\math{X}", cell, true, u"", r, {HAlign::Left, VAlign::Top}, m);
    ASSERT_EQ(l.runs.size(), 1u);
    EXPECT_EQ(l.runs[0].text, u"7}\\math{X}");
}
