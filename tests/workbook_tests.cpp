// The workbook layer: number encoding, the records and compound file it writes, reading back what it
// and other writers produce, damaged files, and a check by an independent reader.
#include "output/biff8.h"
#include "output/compound_file.h"
#include "output/workbook.h"
#include "tests/support/xlrd_reader.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include <unistd.h>

using namespace zelkor::output;
namespace fs = std::filesystem;

namespace {

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) { return Get16(p) | (static_cast<uint32_t>(Get16(p + 2)) << 16); }

// Little-endian bytes of hand-made records.
struct Bytes {
    std::vector<uint8_t> v;
    Bytes& u8(uint8_t x) { v.push_back(x); return *this; }
    Bytes& u16(uint16_t x) { return u8(static_cast<uint8_t>(x)).u8(static_cast<uint8_t>(x >> 8)); }
    Bytes& u32(uint32_t x) { return u16(static_cast<uint16_t>(x)).u16(static_cast<uint16_t>(x >> 16)); }
    Bytes& f64(double d)
    {
        const auto bits = std::bit_cast<uint64_t>(d);
        return u32(static_cast<uint32_t>(bits)).u32(static_cast<uint32_t>(bits >> 32));
    }
    Bytes& str8(std::string_view s) { for (char c : s) u8(static_cast<uint8_t>(c)); return *this; }
    Bytes& str16(std::u16string_view s) { for (char16_t c : s) u16(c); return *this; }
};

// A record stream built record by record.
struct Stream {
    std::vector<uint8_t> bytes;
    std::size_t Record(uint16_t type, const Bytes& data = {})
    {
        const std::size_t at = bytes.size();
        Bytes h;
        h.u16(type).u16(static_cast<uint16_t>(data.v.size()));
        bytes.insert(bytes.end(), h.v.begin(), h.v.end());
        bytes.insert(bytes.end(), data.v.begin(), data.v.end());
        return at;
    }
    void Bof(uint16_t type, uint16_t version = 0x0600)
    {
        Record(biff::kBof, Bytes{}.u16(version).u16(type).u16(0).u16(0).u32(0).u32(0));
    }
    void Eof() { Record(biff::kEof); }
    void Dimensions(uint32_t rows, uint16_t columns)
    {
        Record(biff::kDimensions, Bytes{}.u32(0).u32(rows).u16(0).u16(columns).u16(0));
    }
    void Number(uint16_t r, uint16_t c, double v) { Record(biff::kNumber, Bytes{}.u16(r).u16(c).u16(15).f64(v)); }
    void LabelSst(uint16_t r, uint16_t c, uint32_t i) { Record(biff::kLabelSst, Bytes{}.u16(r).u16(c).u16(15).u32(i)); }
};

// Globals with an SST of the given strings (8-bit), then the worksheets' substreams as given.
Stream GlobalsWith(const std::vector<std::string>& strings)
{
    Stream s;
    s.Bof(biff::kBofGlobals);
    Bytes sst;
    sst.u32(static_cast<uint32_t>(strings.size())).u32(static_cast<uint32_t>(strings.size()));
    for (const auto& t : strings)
        sst.u16(static_cast<uint16_t>(t.size())).u8(0).str8(t);
    s.Record(biff::kSst, sst);
    s.Eof();
    return s;
}

bool LoadStream(const std::vector<uint8_t>& stream, Workbook& wb)
{
    return wb.LoadFromBytes(BuildCompoundFile(u"Workbook", stream));
}

std::vector<uint8_t> StreamOf(const Workbook& wb)
{
    const auto stream = ReadCompoundStream(wb.SaveToBytes(), u"Workbook");
    EXPECT_TRUE(stream.has_value());
    return stream.value_or(std::vector<uint8_t>{});
}

// The length up to and including the last byte that is not zero: where a writer that stops after
// the last used byte would end the file.
std::size_t UsedLength(const std::vector<uint8_t>& image)
{
    std::size_t n = image.size();
    while (n > 0 && image[n - 1] == 0)
        --n;
    return n;
}

// The export of the experiments: header texts, then rows of numbers.
Workbook ExportOf(const std::vector<std::u16string>& headers, const std::vector<std::vector<double>>& rows)
{
    Workbook wb = Workbook::CreateNew();
    Worksheet* sheet = wb.WorksheetByName("Sheet1");
    for (uint32_t c = 0; c < headers.size(); ++c)
        sheet->SetWideText(0, c, headers[c]);
    for (uint32_t r = 0; r < rows.size(); ++r)
        for (uint32_t c = 0; c < rows[r].size(); ++c)
            sheet->SetNumber(r + 1, c, rows[r][c]);
    return wb;
}

// Every stored non-empty cell must read back with the same kind and the same bits.
void ExpectSameCells(Worksheet& expected, Worksheet& actual)
{
    for (uint32_t r = 0; r < expected.StoredRows().size(); ++r) {
        for (const auto& [c, cell] : expected.StoredRows()[r]) {
            const Cell* got = actual.FindCell(r, c);
            if (cell.Kind() == CellKind::Empty) {
                EXPECT_TRUE(got == nullptr || got->Kind() == CellKind::Empty);
                continue;
            }
            ASSERT_NE(got, nullptr) << r << "," << c;
            if (cell.Kind() == CellKind::Integer && !RkFromInteger(cell.Integer())) {
                // Too wide for the RK integer form: written, and read back, as a number.
                ASSERT_EQ(got->Kind(), CellKind::Number) << r << "," << c;
                EXPECT_EQ(got->Number(), static_cast<double>(cell.Integer()));
                continue;
            }
            ASSERT_EQ(got->Kind(), cell.Kind()) << r << "," << c;
            EXPECT_EQ(std::bit_cast<uint64_t>(got->Number()), std::bit_cast<uint64_t>(cell.Number())) << r << "," << c;
            EXPECT_EQ(got->Integer(), cell.Integer());
            EXPECT_EQ(got->Text(), cell.Text());
            EXPECT_EQ(got->WideText(), cell.WideText());
        }
    }
}

fs::path TempRoot() { return fs::temp_directory_path() / ("zelkor_workbook_" + std::to_string(::getpid())); }

struct RemoveTempRoot {
    ~RemoveTempRoot()
    {
        std::error_code ignored;
        fs::remove_all(TempRoot(), ignored);
    }
} removeTempRootAtExit;

fs::path TempDir(const std::string& name)
{
    const fs::path dir = TempRoot() / fs::u8path(name);
    fs::create_directories(dir);
    return dir;
}

std::vector<std::vector<double>> MeasurementRows(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> pos(-0.5, 1.5);
    std::vector<std::vector<double>> rows;
    for (std::size_t i = 0; i < n; ++i)
        rows.push_back({pos(rng), std::round(pos(rng) * 100) / 100, 0.02 * static_cast<double>(i)});
    return rows;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Number encoding

TEST(RkNumbers, TwoDecimalExamples)
{
    EXPECT_EQ(RkFromNumber(1.0), 0x3FF00000u);
    EXPECT_EQ(RkFromNumber(0.5), 0x40490001u);
    EXPECT_FALSE(PassesTwoDecimalTest(0.123));
    EXPECT_FALSE(RkFromNumber(0.123).has_value());
    EXPECT_EQ(RkFromNumber(-2.0), 0xC0000000u);

    Cell cell;
    SetCellFromRk(0x40490001u, cell);
    ASSERT_EQ(cell.Kind(), CellKind::Number);
    EXPECT_EQ(cell.Number(), 0.5);
}

TEST(RkNumbers, ValuesTheThirtyBitsWouldAlterGoAsNumber)
{
    // These pass the two-decimal test, but their RK form would store a different value.
    for (double v : {1.00001, 0.00005, 6000.25, 0.500004, 1234.56001}) {
        EXPECT_TRUE(PassesTwoDecimalTest(v)) << v;
        EXPECT_FALSE(RkFromNumber(v).has_value()) << v;
    }
    // Out of the 32-bit range of the test, or not finite: NUMBER, and no undefined conversion.
    for (double v : {1e6, -1e12, double(INFINITY), -double(INFINITY), double(NAN), 2147483648.0})
        EXPECT_FALSE(RkFromNumber(v).has_value()) << v;
}

TEST(RkNumbers, EveryRkWrittenReadsBackUnchanged)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> hundredths(-2000000, 2000000);
    int asRk = 0;
    for (int i = 0; i < 20000; ++i) {
        const double v = hundredths(rng) / 100.0;
        if (const auto rk = RkFromNumber(v)) {
            ++asRk;
            Cell cell;
            SetCellFromRk(*rk, cell);
            ASSERT_EQ(cell.Kind(), CellKind::Number);
            ASSERT_EQ(cell.Number(), v) << v;
        }
    }
    EXPECT_GT(asRk, 1000);  // the short form is actually used for two-decimal values
}

TEST(RkNumbers, ReadingTheFourForms)
{
    Cell cell;
    SetCellFromRk(0x0000008Fu, cell);  // integer form, n = 35, x100
    ASSERT_EQ(cell.Kind(), CellKind::Number);
    EXPECT_EQ(cell.Number(), 0.35);

    SetCellFromRk((35u << 2) | 2u, cell);
    ASSERT_EQ(cell.Kind(), CellKind::Integer);
    EXPECT_EQ(cell.Integer(), 35);

    SetCellFromRk(static_cast<uint32_t>(-7 * 4) | 2u, cell);
    ASSERT_EQ(cell.Kind(), CellKind::Integer);
    EXPECT_EQ(cell.Integer(), -7);

    SetCellFromRk(0x3FF00000u, cell);
    ASSERT_EQ(cell.Kind(), CellKind::Number);
    EXPECT_EQ(cell.Number(), 1.0);

    EXPECT_EQ(RkFromInteger(35), (35u << 2) | 2u);
    EXPECT_FALSE(RkFromInteger(1 << 29).has_value());
    EXPECT_TRUE(RkFromInteger(-(1 << 29)).has_value());
}

// ---------------------------------------------------------------------------------------------
// What is written

TEST(WorkbookWriting, NumberRkAndMulRkByRow)
{
    // Row 1: only t passes; row 2: y and t pass; row 3: all pass; row 4: one passing cell alone.
    const Workbook wb = ExportOf({u"X", u"Y", u"t"},
                                 {{0.123, 0.456, 1.0}, {0.123, 1.5, 2.0}, {0.25, 0.5, 3.0}, {0.25, 0.123, 0.789}});
    const auto stream = StreamOf(wb);
    std::map<uint16_t, std::vector<std::pair<uint16_t, uint16_t>>> cellsByRow;  // row -> (type, column)
    std::vector<uint16_t> mulRkLast;
    for (const auto& r : SplitRecords(stream)) {
        if (r.type == biff::kNumber || r.type == biff::kRk || r.type == biff::kMulRk || r.type == biff::kLabelSst) {
            cellsByRow[Get16(r.data.data())].push_back({r.type, Get16(r.data.data() + 2)});
            EXPECT_EQ(Get16(r.data.data() + 4), biff::kDefaultCellXf);  // XF of the (first) cell
            if (r.type == biff::kMulRk)
                mulRkLast.push_back(Get16(r.data.data() + r.data.size() - 2));
            if (r.type == biff::kRk && Get16(r.data.data()) == 1) {
                EXPECT_EQ(Get32(r.data.data() + 6), 0x3FF00000u);
            }
        }
    }
    using V = std::vector<std::pair<uint16_t, uint16_t>>;
    EXPECT_EQ(cellsByRow[0], (V{{biff::kLabelSst, 0}, {biff::kLabelSst, 1}, {biff::kLabelSst, 2}}));
    EXPECT_EQ(cellsByRow[1], (V{{biff::kNumber, 0}, {biff::kNumber, 1}, {biff::kRk, 2}}));
    EXPECT_EQ(cellsByRow[2], (V{{biff::kNumber, 0}, {biff::kMulRk, 1}}));
    EXPECT_EQ(cellsByRow[3], (V{{biff::kMulRk, 0}}));
    EXPECT_EQ(cellsByRow[4], (V{{biff::kRk, 0}, {biff::kNumber, 1}, {biff::kNumber, 2}}));
    EXPECT_EQ(mulRkLast, (std::vector<uint16_t>{2, 2}));
}

TEST(WorkbookWriting, GlobalsInOrderWithSheetPositionsAndSharedStrings)
{
    Workbook wb = ExportOf({u"X", u"Y", u"X"}, {{1.0, 2.0, 3.0}});
    wb.AddWorksheet(SheetName::Narrow("Second")).SetWideText(0, 0, u"Y");
    const auto stream = StreamOf(wb);
    const auto records = SplitRecords(stream);

    std::vector<uint16_t> globals;
    for (const auto& r : records) {
        globals.push_back(r.type);
        if (r.type == biff::kEof)
            break;
    }
    std::vector<uint16_t> expected{biff::kBof, biff::kWindow1};
    expected.insert(expected.end(), 4, biff::kFont);
    expected.insert(expected.end(), 21, biff::kXf);
    expected.insert(expected.end(), 6, biff::kStyle);
    expected.insert(expected.end(), {biff::kBoundSheet, biff::kBoundSheet, biff::kSst, biff::kExtSst, biff::kEof});
    EXPECT_EQ(globals, expected);

    // Each BOUNDSHEET points at its worksheet's BOF; the sheet names are 8-bit.
    std::vector<std::string> names;
    for (const auto& r : records) {
        if (r.type != biff::kBoundSheet)
            continue;
        const uint32_t at = Get32(r.data.data());
        ASSERT_LT(at + 8u, stream.size());
        EXPECT_EQ(Get16(stream.data() + at), biff::kBof);
        EXPECT_EQ(Get16(stream.data() + at + 6), biff::kBofWorksheet);
        EXPECT_EQ(r.data[7], 0);
        names.emplace_back(reinterpret_cast<const char*>(r.data.data() + 8), r.data[6]);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Sheet1", "Second"}));

    // Four text cells, two distinct strings; EXTSST's one bucket starts at the first string.
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].type == biff::kSst) {
            EXPECT_EQ(Get32(records[i].data.data()), 4u);
            EXPECT_EQ(Get32(records[i].data.data() + 4), 2u);
            const auto& ext = records[i + 1];
            ASSERT_EQ(ext.type, biff::kExtSst);
            EXPECT_EQ(Get16(ext.data.data()), 8);
            ASSERT_EQ(ext.data.size(), 10u);
            EXPECT_EQ(Get32(ext.data.data() + 2), records[i].position + 12);
            EXPECT_EQ(Get16(ext.data.data() + 6), 12);
        }
    }

    // The one cell XF sits where the format wants it.
    int xf = 0;
    for (const auto& r : records) {
        if (r.type == biff::kXf) {
            EXPECT_EQ(Get16(r.data.data() + 4), xf == 15 ? 0x0001 : 0xFFF5);
            ++xf;
        }
    }
}

TEST(WorkbookWriting, IndexDimensionsAndDbCellsPointWhereTheyShould)
{
    const Workbook wb = ExportOf({u"X", u"Y", u"t"}, MeasurementRows(100, 1));
    const auto stream = StreamOf(wb);
    const auto records = SplitRecords(stream);
    std::map<std::size_t, uint16_t> typeAt;
    for (const auto& r : records)
        typeAt[r.position] = r.type;
    auto isCell = [](uint16_t t) { return t == biff::kNumber || t == biff::kRk || t == biff::kMulRk || t == biff::kLabelSst; };

    std::size_t index = 0;
    for (; index < records.size() && records[index].type != biff::kIndex; ++index) {}
    ASSERT_LT(index, records.size());
    const auto& idx = records[index];
    EXPECT_EQ(records[index - 1].type, biff::kBof);
    EXPECT_EQ(Get32(idx.data.data() + 4), 0u);
    EXPECT_EQ(Get32(idx.data.data() + 8), 101u);
    ASSERT_EQ(idx.data.size(), 16u + 4 * 4);  // rows 0..100 make four blocks of 32

    const auto& dim = records[index + 1];
    ASSERT_EQ(dim.type, biff::kDimensions);
    EXPECT_EQ(Get32(dim.data.data()), 0u);
    EXPECT_EQ(Get32(dim.data.data() + 4), 101u);
    EXPECT_EQ(Get16(dim.data.data() + 8), 0);
    EXPECT_EQ(Get16(dim.data.data() + 10), 3);

    uint32_t expectedRow = 0;
    for (int b = 0; b < 4; ++b) {
        const uint32_t dbCell = Get32(idx.data.data() + 16 + 4 * b);
        ASSERT_EQ(typeAt[dbCell], biff::kDbCell);
        const uint16_t length = Get16(stream.data() + dbCell + 2);
        const uint8_t* d = stream.data() + dbCell + 4;
        const std::size_t firstRow = dbCell - Get32(d);
        ASSERT_EQ(typeAt[firstRow], biff::kRow);
        EXPECT_EQ(Get16(stream.data() + firstRow + 4), expectedRow);
        std::size_t cell = firstRow + 20;
        for (std::size_t k = 0; k < (length - 4u) / 2; ++k) {
            cell += Get16(d + 4 + 2 * k);
            ASSERT_TRUE(isCell(typeAt[cell]));
            EXPECT_EQ(Get16(stream.data() + cell + 4), expectedRow);  // first cell of the next row
            ++expectedRow;
        }
    }
    EXPECT_EQ(expectedRow, 101u);
    EXPECT_EQ(records[records.size() - 2].type, biff::kWindow2);
    EXPECT_EQ(records.back().type, biff::kEof);
}

TEST(CompoundFile, HeaderAndMiniStreamOfASmallWorkbook)
{
    const auto image = ExportOf({u"X", u"Y"}, {{1.0, 2.0}}).SaveToBytes();
    ASSERT_GE(image.size(), 512u);
    EXPECT_EQ(image.size() % 512, 0u);
    const uint8_t* h = image.data();
    EXPECT_EQ(std::memcmp(h, kCfbSignature, 8), 0);
    EXPECT_EQ(Get16(h + 24), 0x003E);
    EXPECT_EQ(Get16(h + 26), 3);
    EXPECT_EQ(Get16(h + 28), 0xFFFE);
    EXPECT_EQ(Get16(h + 30), 9);
    EXPECT_EQ(Get16(h + 32), 6);
    EXPECT_EQ(Get32(h + 40), 0u);
    EXPECT_EQ(Get32(h + 56), 4096u);
    EXPECT_EQ(Get32(h + 72), 0u);  // no DIFAT sector needed
    EXPECT_NE(Get32(h + 60), kCfbEndOfChain);  // a mini FAT exists: the stream is small
    const uint32_t fatSector = Get32(h + 76);
    const uint8_t* fat = h + 512 * (fatSector + 1);
    EXPECT_EQ(Get32(fat + 4 * fatSector), kCfbFatSect);

    const uint8_t* dir = h + 512 * (Get32(h + 48) + 1);
    EXPECT_EQ(dir[66], 5);  // root
    EXPECT_EQ(dir[67], 1);  // black
    EXPECT_EQ(Get32(dir + 76), 1u);
    const uint8_t* ws = dir + 128;
    EXPECT_EQ(ws[66], 2);
    EXPECT_EQ(Get16(ws + 64), 18);  // "Workbook" and its terminator
    const uint32_t size = Get32(ws + 120);
    EXPECT_LT(size, 4096u);
    EXPECT_EQ(Get32(dir + 120), (size + 63) / 64 * 64);  // the mini stream holds exactly its sectors
    EXPECT_EQ(Get32(ws + 116), 0u);
}

TEST(CompoundFile, LargeStreamsUseSectorsAndTheDifat)
{
    for (std::size_t size : {std::size_t{4095}, std::size_t{4096}, std::size_t{70000}, std::size_t{8u << 20}}) {
        std::vector<uint8_t> content(size);
        for (std::size_t i = 0; i < size; ++i)
            content[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
        const auto image = BuildCompoundFile(u"Workbook", content);
        const uint8_t* h = image.data();
        if (size >= 4096) {
            EXPECT_EQ(Get32(h + 60), kCfbEndOfChain) << size;
        }
        if (size == (8u << 20)) {
            EXPECT_GT(Get32(h + 44), 109u);  // more FAT sectors than the header lists
            EXPECT_GT(Get32(h + 72), 0u);
        }
        const auto back = ReadCompoundStream(image, u"WORKBOOK");
        ASSERT_TRUE(back.has_value()) << size;
        EXPECT_TRUE(*back == content) << size;
        EXPECT_FALSE(ReadCompoundStream(image, u"Book").has_value());
    }
}

// A file may end after its last used byte, inside its last sector: that sector reads as if padded
// with zeros. Dropping a used byte is not mended that way.
TEST(CompoundFile, AFileEndingInsideItsLastSectorReads)
{
    for (std::size_t size : {std::size_t{100}, std::size_t{4095}, std::size_t{4097}, std::size_t{70000}}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> content(size);
        for (std::size_t i = 0; i < size; ++i)
            content[i] = static_cast<uint8_t>(1 + i % 251);
        const auto image = BuildCompoundFile(u"Workbook", content);
        const std::size_t used = UsedLength(image);
        ASSERT_NE(used % 512, 0u) << "the stream should end inside a sector";
        for (const std::size_t n : {used, used + 1, (used + image.size()) / 2}) {
            const auto back = ReadCompoundStream(std::span(image).first(n), u"Workbook");
            ASSERT_TRUE(back.has_value()) << n;
            EXPECT_TRUE(*back == content) << n;
        }
        const auto damaged = ReadCompoundStream(std::span(image).first(used - 1), u"Workbook");
        EXPECT_TRUE(!damaged || *damaged != content);
    }

    // A whole workbook, small (mini stream) and large, imports with every cell.
    for (const std::size_t rows : {std::size_t{3}, std::size_t{400}}) {
        const Workbook exported = ExportOf({u"X", u"Y", u"t"}, MeasurementRows(rows, 3));
        auto image = exported.SaveToBytes();
        image.resize(UsedLength(image));
        ASSERT_NE(image.size() % 512, 0u);
        Workbook wb;
        ASSERT_TRUE(wb.LoadFromBytes(image)) << rows;
        ExpectSameCells(*const_cast<Workbook&>(exported).FirstWorksheet(), *wb.FirstWorksheet());
    }
}

// ---------------------------------------------------------------------------------------------
// Round trips

TEST(WorkbookRoundTrip, EveryKindOfCellThroughAUnicodePath)
{
    Workbook wb = ExportOf({u"X", u"Y", u"时间 t(s)"}, MeasurementRows(500, 3));
    Worksheet* sheet = wb.FirstWorksheet();
    sheet->GetCell(600, 0)->SetInteger(42);
    sheet->GetCell(600, 1)->SetInteger(-(1 << 29));
    sheet->GetCell(600, 2)->SetInteger(1 << 30);  // beyond the RK integer form
    sheet->GetCell(600, 3)->SetText("caf\xE9");
    sheet->GetCell(600, 5)->SetWideText(u"\U0001F600 ok");
    sheet->GetCell(601, 255)->SetNumber(-0.0);
    sheet->GetCell(601, 7)->SetNumber(1e300);
    sheet->GetCell(602, 0)->SetText("caf\xE9");  // the same string again shares its entry

    const fs::path file = TempDir("数据 ü") / ExportFileName(2013, 4, 9, 8, 5, 30);
    {
        std::ofstream old(file, std::ios::binary);  // an older, longer file of that name is replaced
        old << std::string(200000, 'x');
    }
    ASSERT_TRUE(wb.SaveAs(file));
    EXPECT_EQ(fs::file_size(file), wb.SaveToBytes().size());

    Workbook back;
    ASSERT_TRUE(back.Load(file));
    ASSERT_EQ(back.WorksheetCount(), 1u);
    Worksheet* read = back.WorksheetByName("Sheet1");
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->RowCount(), 603u);
    EXPECT_EQ(read->ColumnCount(), 256u);
    ExpectSameCells(*sheet, *read);
}

TEST(WorkbookRoundTrip, LongStringsGoOnInContinueRecords)
{
    Workbook wb = Workbook::CreateNew();
    Worksheet* sheet = wb.FirstWorksheet();
    for (uint32_t i = 0; i < 12; ++i) {
        std::u16string wide(3001 + i * 700, u'a');
        for (std::size_t k = 0; k < wide.size(); ++k)
            wide[k] = static_cast<char16_t>(0x4E00 + (k * 7 + i) % 5000);
        sheet->SetWideText(i, 0, wide);
        sheet->GetCell(i, 1)->SetText(std::string(5000 + i * 999, static_cast<char>('A' + i)));
    }
    sheet->GetCell(20, 0)->SetWideText(std::u16string(40000, u'z'));  // cut to the longest a cell holds
    const auto stream = StreamOf(wb);
    int continues = 0;
    for (const auto& r : SplitRecords(stream)) {
        EXPECT_LE(r.data.size(), biff::kMaxRecordData);
        continues += r.type == biff::kContinue;
    }
    EXPECT_GT(continues, 5);

    Workbook back;
    ASSERT_TRUE(back.LoadFromBytes(wb.SaveToBytes()));
    Worksheet* read = back.FirstWorksheet();
    for (uint32_t i = 0; i < 12; ++i) {
        ASSERT_EQ(read->FindCell(i, 0)->WideText(), sheet->FindCell(i, 0)->WideText()) << i;
        ASSERT_EQ(read->FindCell(i, 1)->Text(), sheet->FindCell(i, 1)->Text()) << i;
    }
    EXPECT_EQ(read->FindCell(20, 0)->WideText(), std::u16string(32767, u'z'));
}

TEST(WorkbookRoundTrip, EmptyWorkbookAndEmptySheet)
{
    Workbook wb = Workbook::CreateNew();
    Workbook back;
    ASSERT_TRUE(back.LoadFromBytes(wb.SaveToBytes()));
    EXPECT_EQ(back.FirstWorksheet()->RowCount(), 0u);
    EXPECT_FALSE(back.LoadFromBytes(Workbook{}.SaveToBytes()));  // no worksheet at all
}

// ---------------------------------------------------------------------------------------------
// Reading files of other writers

TEST(WorkbookReading, EveryCellRecordKind)
{
    Stream s = GlobalsWith({"1.5"});
    s.Bof(biff::kBofWorksheet);
    s.Dimensions(3, 8);
    s.Number(1, 0, 0.123);
    s.Record(biff::kRk, Bytes{}.u16(1).u16(1).u16(15).u32(0x8F));
    s.Record(biff::kMulRk, Bytes{}.u16(1).u16(2).u16(15).u32(0x3FF00000).u16(15).u32((5u << 2) | 2).u16(3));
    s.Record(biff::kBoolErr, Bytes{}.u16(1).u16(4).u16(15).u8(1).u8(0));
    s.Record(biff::kBoolErr, Bytes{}.u16(1).u16(5).u16(15).u8(0x07).u8(1));  // #DIV/0!
    s.LabelSst(1, 6, 0);                                                     // a number typed as text
    s.Record(biff::kFormula, Bytes{}.u16(2).u16(0).u16(15).f64(9.0).u16(0).u32(0).u16(0));
    s.Record(biff::kBlank, Bytes{}.u16(2).u16(1).u16(15));
    s.Record(biff::kMulBlank, Bytes{}.u16(2).u16(2).u16(15).u16(15).u16(3));
    s.Record(0x1234, Bytes{}.u32(0xDEADBEEF).u32(1));  // unknown: passed over
    s.Record(biff::kBoolErr, Bytes{}.u16(2).u16(4).u16(15).u8(0).u8(0));
    s.Eof();
    Workbook wb;
    ASSERT_TRUE(LoadStream(s.bytes, wb));
    Worksheet* sheet = wb.FirstWorksheet();
    EXPECT_EQ(sheet->RowCount(), 3u);
    EXPECT_EQ(sheet->ColumnCount(), 8u);
    auto kind = [&](uint32_t r, uint32_t c) { return sheet->GetCell(r, c)->Kind(); };
    auto number = [&](uint32_t r, uint32_t c) { return NumberOfCell(sheet->GetCell(r, c)); };
    EXPECT_EQ(number(1, 0), 0.123);
    EXPECT_EQ(number(1, 1), 0.35);
    EXPECT_EQ(kind(1, 2), CellKind::Number);
    EXPECT_EQ(number(1, 2), 1.0);
    EXPECT_EQ(kind(1, 3), CellKind::Integer);
    EXPECT_EQ(number(1, 3), 5.0);
    EXPECT_EQ(kind(1, 4), CellKind::Integer);
    EXPECT_EQ(number(1, 4), 1.0);
    EXPECT_EQ(kind(2, 4), CellKind::Integer);
    EXPECT_EQ(number(2, 4), 0.0);
    EXPECT_EQ(kind(1, 5), CellKind::Empty);
    EXPECT_EQ(kind(1, 6), CellKind::Text);
    EXPECT_EQ(sheet->GetCell(1, 6)->Text(), "1.5");
    EXPECT_EQ(number(1, 6), 0.0);
    for (uint32_t c = 0; c < 4; ++c)
        EXPECT_EQ(kind(2, c), CellKind::Empty) << c;  // formula, blank, multiple blanks
}

TEST(WorkbookReading, SharedStringsAcrossContinueRecords)
{
    Stream s;
    s.Bof(biff::kBofGlobals);
    // String 0 starts 8-bit in the SST and goes on as UTF-16 in the CONTINUE; string 1 is rich
    // text with an extension block, which are passed over; string 2 starts in a second CONTINUE.
    s.Record(biff::kSst, Bytes{}.u32(3).u32(3).u16(5).u8(0).str8("ab"));
    s.Record(biff::kContinue, Bytes{}.u8(1).str16(u"中文Z").u16(2).u8(0x0D).u16(1).u32(3).str16(u"xy").u32(0));
    s.Record(biff::kContinue, Bytes{}.u8(0).u8(0).u8(0).u16(3).u8(0).str8("end"));
    s.Eof();
    s.Bof(biff::kBofWorksheet);
    s.LabelSst(0, 0, 0);
    s.LabelSst(0, 1, 1);
    s.LabelSst(0, 2, 2);
    s.LabelSst(0, 3, 3);  // beyond the table: stays empty
    s.Eof();
    Workbook wb;
    ASSERT_TRUE(LoadStream(s.bytes, wb));
    Worksheet* sheet = wb.FirstWorksheet();
    EXPECT_EQ(sheet->FindCell(0, 0)->WideText(), u"ab中文Z");
    EXPECT_EQ(sheet->FindCell(0, 1)->WideText(), u"xy");
    ASSERT_EQ(sheet->FindCell(0, 2)->Kind(), CellKind::Text);
    EXPECT_EQ(sheet->FindCell(0, 2)->Text(), "end");
    EXPECT_EQ(sheet->FindCell(0, 3), nullptr);
}

TEST(WorkbookReading, ImportRules)
{
    // A two-column file read for three columns: the grid grows, the new cells read 0.
    Workbook galileo;
    ASSERT_TRUE(galileo.LoadFromBytes(ExportOf({u"X", u"Y"}, {{0.1, 0.2}, {0.3, 0.4}}).SaveToBytes()));
    Worksheet* sheet = galileo.FirstWorksheet();
    ASSERT_EQ(sheet->RowCount(), 3u);
    EXPECT_EQ(sheet->ColumnCount(), 2u);
    double sum = 0;
    for (uint32_t r = 1; r < sheet->RowCount(); ++r)
        for (uint32_t c = 0; c < 3; ++c)
            sum += NumberOfCell(sheet->GetCell(r, c));
    EXPECT_DOUBLE_EQ(sum, 1.0);
    EXPECT_EQ(sheet->ColumnCount(), 3u);
    EXPECT_EQ(sheet->GetCell(1, 2)->Kind(), CellKind::Empty);
    EXPECT_EQ(NumberOfCell(sheet->GetCell(0, 0)), 0.0);  // header text

    // Header only: one row, so no data rows.
    Workbook header;
    ASSERT_TRUE(header.LoadFromBytes(ExportOf({u"X", u"Y", u"t"}, {}).SaveToBytes()));
    EXPECT_EQ(header.FirstWorksheet()->RowCount(), 1u);

    // Sheets after the first one are not what an import reads.
    Stream s = GlobalsWith({});
    s.Bof(biff::kBofWorksheet);
    s.Dimensions(2, 1);
    s.Number(1, 0, 7.0);
    s.Bof(0x0020);  // an embedded chart with its own substream
    s.Number(1, 0, 99.0);
    s.Eof();
    s.Eof();
    s.Bof(biff::kBofWorksheet);
    s.Dimensions(5, 1);
    s.Number(1, 0, 8.0);
    s.Eof();
    Workbook two;
    ASSERT_TRUE(LoadStream(s.bytes, two));
    ASSERT_EQ(two.WorksheetCount(), 2u);
    EXPECT_EQ(two.FirstWorksheet()->RowCount(), 2u);
    EXPECT_EQ(NumberOfCell(two.FirstWorksheet()->FindCell(1, 0)), 7.0);
}

TEST(WorkbookReading, CellsOutsideTheDeclaredSizeAreKept)
{
    Stream s = GlobalsWith({});
    s.Bof(biff::kBofWorksheet);
    s.Dimensions(1, 1);
    s.Number(4, 2, 1.25);
    s.Number(70000 & 0xFFFF, 300, 2.0);  // column beyond the limit: no cell
    s.Eof();
    Workbook wb;
    ASSERT_TRUE(LoadStream(s.bytes, wb));
    EXPECT_EQ(wb.FirstWorksheet()->RowCount(), 5u);
    EXPECT_EQ(wb.FirstWorksheet()->ColumnCount(), 3u);
    EXPECT_EQ(NumberOfCell(wb.FirstWorksheet()->FindCell(4, 2)), 1.25);
}

TEST(WorkbookReading, FilesThatFail)
{
    Workbook wb;
    EXPECT_FALSE(wb.Load(TempDir("missing") / "none.xls"));
    EXPECT_FALSE(wb.Load(TempDir("a directory")));
    const std::vector<uint8_t> text{'h', 'e', 'l', 'l', 'o'};
    EXPECT_FALSE(wb.LoadFromBytes(text));

    const auto stream = StreamOf(ExportOf({u"X"}, {{1.0}}));
    EXPECT_FALSE(wb.LoadFromBytes(BuildCompoundFile(u"Book", stream)));  // an older workbook
    EXPECT_TRUE(wb.LoadFromBytes(BuildCompoundFile(u"Workbook", stream)));

    Stream biff5;
    biff5.Bof(biff::kBofGlobals, 0x0500);
    biff5.Eof();
    biff5.Bof(biff::kBofWorksheet, 0x0500);
    biff5.Eof();
    EXPECT_FALSE(LoadStream(biff5.bytes, wb));

    Stream noSheet = GlobalsWith({"a"});
    EXPECT_FALSE(LoadStream(noSheet.bytes, wb));
    EXPECT_EQ(wb.WorksheetCount(), 0u);

    Stream cut = GlobalsWith({});
    cut.Bof(biff::kBofWorksheet);
    cut.Number(1, 0, 1.0);  // no EOF
    EXPECT_FALSE(LoadStream(cut.bytes, wb));
}

TEST(WorkbookReading, DamagedFilesNeverReadOutsideTheData)
{
    // Cut anywhere: no rows, unless the cut only drops the zeros after the last used byte.
    const auto valid = ExportOf({u"X", u"Y", u"t"}, MeasurementRows(60, 5)).SaveToBytes();
    Workbook whole;
    ASSERT_TRUE(whole.LoadFromBytes(valid));
    const std::size_t used = UsedLength(valid);
    for (std::size_t n = 0; n < valid.size(); ++n) {
        Workbook wb;
        const bool ok = wb.LoadFromBytes(std::span(valid).first(n));
        if (ok && n >= used)
            ExpectSameCells(*whole.FirstWorksheet(), *wb.FirstWorksheet());
        else
            EXPECT_TRUE(!ok || wb.FirstWorksheet()->RowCount() <= 1) << n;
    }

    std::mt19937 rng(11);
    const auto bigger = ExportOf({u"X", u"Y", u"t"}, MeasurementRows(400, 6)).SaveToBytes();
    int loaded = 0;
    for (int round = 0; round < 3000; ++round) {
        auto damaged = round % 2 ? valid : bigger;
        const int flips = 1 + static_cast<int>(rng() % 6);
        for (int f = 0; f < flips; ++f) {
            // Aim most flips at the structures rather than at the cell values.
            const std::size_t limit = rng() % 3 == 0 ? damaged.size() : std::min<std::size_t>(damaged.size(), 2048);
            damaged[rng() % limit] ^= static_cast<uint8_t>(1u << (rng() % 8));
        }
        Workbook wb;
        if (!wb.LoadFromBytes(damaged))
            continue;
        ++loaded;
        Worksheet* sheet = wb.FirstWorksheet();
        ASSERT_NE(sheet, nullptr);
        ASSERT_LE(sheet->RowCount(), kMaxRows);
        ASSERT_LE(sheet->ColumnCount(), kMaxColumns);
        double sum = 0;
        for (uint32_t r = 1; r < std::min<uint32_t>(sheet->RowCount(), 1000); ++r)
            for (uint32_t c = 0; c < 3; ++c)
                sum += NumberOfCell(sheet->GetCell(r, c));
        (void)sum;
        Workbook again;  // whatever loads can be saved and loaded again, unchanged
        ASSERT_TRUE(again.LoadFromBytes(wb.SaveToBytes()));
        ExpectSameCells(*sheet, *again.FirstWorksheet());
    }
    EXPECT_GT(loaded, 0);
}

// ---------------------------------------------------------------------------------------------
// The grid

TEST(Worksheet, LimitsAndEnlarging)
{
    Worksheet sheet(SheetName::Narrow("S"));
    EXPECT_EQ(sheet.RowCount(), 0u);
    EXPECT_EQ(sheet.GetCell(kMaxRows, 0), nullptr);
    EXPECT_EQ(sheet.GetCell(0, kMaxColumns), nullptr);
    EXPECT_EQ(sheet.RowCount(), 0u);
    Cell* last = sheet.GetCell(kMaxRows - 1, kMaxColumns - 1);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->Kind(), CellKind::Empty);
    EXPECT_EQ(sheet.RowCount(), kMaxRows);
    EXPECT_EQ(sheet.ColumnCount(), kMaxColumns);

    // A cell handed out stays put while others are added around it.
    Cell* a = sheet.GetCell(3, 5);
    a->SetNumber(2.5);
    for (uint32_t c = 0; c < 40; ++c)
        sheet.GetCell(3, c);
    for (uint32_t r = 0; r < 2000; ++r)
        sheet.GetCell(r, 1);
    EXPECT_EQ(a->Number(), 2.5);
    EXPECT_EQ(sheet.GetCell(3, 5), a);
}

TEST(Worksheet, NumberOfACell)
{
    Cell cell;
    EXPECT_EQ(NumberOfCell(nullptr), 0.0);
    EXPECT_EQ(NumberOfCell(&cell), 0.0);
    cell.SetInteger(-12);
    EXPECT_EQ(NumberOfCell(&cell), -12.0);
    cell.SetNumber(0.25);
    EXPECT_EQ(NumberOfCell(&cell), 0.25);
    cell.SetText("3");
    EXPECT_EQ(NumberOfCell(&cell), 0.0);
    cell.SetWideText(u"3");
    EXPECT_EQ(NumberOfCell(&cell), 0.0);
}

TEST(Workbook, NewWorkbookAndNames)
{
    Workbook wb = Workbook::CreateNew();
    ASSERT_EQ(wb.WorksheetCount(), 1u);
    wb.AddWorksheet(SheetName::Wide(u"Wide"));
    EXPECT_NE(wb.WorksheetByName("Sheet1"), nullptr);
    EXPECT_EQ(wb.WorksheetByName("Wide"), nullptr);  // only 8-bit names compare
    EXPECT_EQ(wb.WorksheetByName("sheet1"), nullptr);

    Workbook back;
    ASSERT_TRUE(back.LoadFromBytes(wb.SaveToBytes()));
    ASSERT_EQ(back.WorksheetCount(), 2u);
    EXPECT_EQ(back.WorksheetAt(1)->Name().utf16, u"Wide");
    EXPECT_TRUE(back.WorksheetAt(1)->Name().wide);
}

TEST(Workbook, ExportFileName)
{
    EXPECT_EQ(ExportFileName(2013, 4, 9, 8, 5, 30), "2013.4.9(08h05m30s).xls");
    EXPECT_EQ(ExportFileName(2024, 12, 31, 23, 59, 0), "2024.12.31(23h59m00s).xls");
}

// ---------------------------------------------------------------------------------------------
// An independent reader

namespace {

std::string Hex16(std::u16string_view s)
{
    std::string out;
    char buf[8];
    for (char16_t c : s) {
        std::snprintf(buf, sizeof buf, "%02x%02x", c & 0xFF, c >> 8);
        out += buf;
    }
    return out;
}

}  // namespace

TEST(IndependentReader, XlrdSeesEveryCell)
{
    if (!zelkor::testing::XlrdAvailable())
        GTEST_SKIP() << "python3-xlrd is not installed";

    for (std::size_t rowsCount : {std::size_t{8}, std::size_t{700}}) {  // mini stream and sectors
        Workbook wb = ExportOf({u"X", u"Y", u"时间"}, MeasurementRows(rowsCount, 9));
        Worksheet* first = wb.FirstWorksheet();
        first->GetCell(static_cast<uint32_t>(rowsCount) + 2, 0)->SetInteger(123456);
        first->GetCell(static_cast<uint32_t>(rowsCount) + 2, 1)->SetInteger(1 << 30);
        first->GetCell(static_cast<uint32_t>(rowsCount) + 2, 4)->SetText("plain");
        Worksheet& second = wb.AddWorksheet(SheetName::Narrow("Sheet2"));
        second.SetNumber(0, 0, 0.5);
        second.SetNumber(3, 2, -1e-7);

        const fs::path file = TempDir("xlrd") / ("check" + std::to_string(rowsCount) + ".xls");
        ASSERT_TRUE(wb.SaveAs(file));
        const auto read = zelkor::testing::ReadWithXlrd(ZELKOR_XLRD_SCRIPT, file.string());
        ASSERT_EQ(read.status, 0) << read.output << read.warnings;
        EXPECT_EQ(read.warnings, "");

        std::istringstream in(read.output);
        std::size_t sheets = 0;
        in >> sheets;
        ASSERT_EQ(sheets, 2u);
        for (std::size_t s = 0; s < sheets; ++s) {
            Worksheet* expected = wb.WorksheetAt(s);
            std::string name;
            uint32_t rows = 0, columns = 0;
            in >> name >> rows >> columns;
            EXPECT_EQ(name, Hex16(std::u16string(expected->Name().narrow.begin(), expected->Name().narrow.end())));
            std::size_t expectedCells = 0;
            for (const auto& row : expected->StoredRows())
                for (const auto& [c, cell] : row)
                    expectedCells += cell.Kind() != CellKind::Empty;
            std::size_t seen = 0;
            std::string line;
            std::getline(in, line);
            while (seen < expectedCells && std::getline(in, line)) {
                std::istringstream l(line);
                uint32_t r = 0, c = 0;
                std::string kind, value;
                l >> r >> c >> kind >> value;
                const Cell* cell = expected->FindCell(r, c);
                ASSERT_NE(cell, nullptr) << line;
                switch (cell->Kind()) {
                case CellKind::Number:
                case CellKind::Integer:
                    ASSERT_EQ(kind, "n") << line;
                    EXPECT_EQ(std::strtod(value.c_str(), nullptr), NumberOfCell(cell)) << line;
                    break;
                case CellKind::WideText:
                    ASSERT_EQ(kind, "t") << line;
                    EXPECT_EQ(value, Hex16(cell->WideText())) << line;
                    break;
                case CellKind::Text:
                    ASSERT_EQ(kind, "t") << line;
                    EXPECT_EQ(value, Hex16(std::u16string(cell->Text().begin(), cell->Text().end()))) << line;
                    break;
                case CellKind::Empty:
                    ADD_FAILURE() << line;
                }
                ++seen;
            }
            EXPECT_EQ(seen, expectedCells);
        }
    }
}
