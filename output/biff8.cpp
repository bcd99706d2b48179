#include "output/biff8.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>

namespace zelkor::output {

namespace {

using namespace biff;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

double GetDouble(const uint8_t* p)
{
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = (bits << 8) | p[i];
    return std::bit_cast<double>(bits);
}

uint32_t UpperHalf(double v) { return static_cast<uint32_t>(std::bit_cast<uint64_t>(v) >> 32); }

double DoubleFromUpperHalf(uint32_t upper) { return std::bit_cast<double>(static_cast<uint64_t>(upper) << 32); }

// ---------------------------------------------------------------------------------------------
// Writing

class RecordWriter {
public:
    std::vector<uint8_t>& Bytes() { return out_; }
    std::size_t Position() const { return out_.size(); }

    std::size_t Begin(uint16_t type)
    {
        const std::size_t at = out_.size();
        U16(type);
        U16(0);
        return at;
    }
    void End(std::size_t at)
    {
        const std::size_t length = out_.size() - at - 4;
        out_[at + 2] = static_cast<uint8_t>(length);
        out_[at + 3] = static_cast<uint8_t>(length >> 8);
    }

    void U8(uint8_t v) { out_.push_back(v); }
    void U16(uint16_t v)
    {
        out_.push_back(static_cast<uint8_t>(v));
        out_.push_back(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void F64(double v)
    {
        const uint64_t bits = std::bit_cast<uint64_t>(v);
        for (int i = 0; i < 8; ++i)
            out_.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    }
    void Patch32(std::size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            out_[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }

private:
    std::vector<uint8_t> out_;
};

void WriteBof(RecordWriter& w, uint16_t type)
{
    const auto at = w.Begin(kBof);
    w.U16(0x0600);
    w.U16(type);
    w.U16(6560);
    w.U16(1997);
    w.U32(0x0000C0C9);
    w.U32(0x00000306);
    w.End(at);
}

void WriteEof(RecordWriter& w) { w.End(w.Begin(kEof)); }

// One entry of the shared string table: 8-bit or UTF-16 characters.
struct SharedString {
    bool wide = false;
    std::u16string chars;
};

// Longest string a cell holds; longer texts are cut there.
constexpr std::size_t kMaxStringChars = 32767;

std::u16string LimitLength(std::u16string s)
{
    if (s.size() > kMaxStringChars) {
        std::size_t n = kMaxStringChars;
        if (s[n - 1] >= 0xD800 && s[n - 1] <= 0xDBFF)  // keep surrogate pairs whole
            --n;
        s.resize(n);
    }
    return s;
}

class SharedStrings {
public:
    uint32_t Add(const Cell& cell)
    {
        ++references_;
        SharedString s;
        if (cell.Kind() == CellKind::WideText) {
            s.wide = true;
            s.chars = LimitLength(cell.WideText());
        } else {
            const std::string& t = cell.Text();
            s.chars.assign(t.begin(), t.end());
            for (auto& c : s.chars)
                c = static_cast<char16_t>(c & 0xFF);
            s.chars = LimitLength(std::move(s.chars));
        }
        // Equal strings of the same kind share one entry.
        std::string key(1, s.wide ? 'W' : 'N');
        key.append(reinterpret_cast<const char*>(s.chars.data()), s.chars.size() * sizeof(char16_t));
        const auto [it, inserted] = index_.try_emplace(std::move(key), static_cast<uint32_t>(strings_.size()));
        if (inserted)
            strings_.push_back(std::move(s));
        return it->second;
    }

    uint32_t References() const { return references_; }
    const std::vector<SharedString>& Strings() const { return strings_; }

private:
    uint32_t references_ = 0;
    std::vector<SharedString> strings_;
    std::unordered_map<std::string, uint32_t> index_;
};

struct BucketStart {
    uint32_t streamPosition;
    uint16_t recordOffset;
};

// SST, split over CONTINUE records: a string header never splits, and characters that go on in a
// new record are preceded there by the byte that gives their width.
std::vector<BucketStart> WriteSst(RecordWriter& w, const SharedStrings& sst, uint16_t bucketSize)
{
    std::vector<BucketStart> buckets;
    std::size_t record = w.Begin(kSst);
    w.U32(sst.References());
    w.U32(static_cast<uint32_t>(sst.Strings().size()));
    std::size_t used = 8;
    auto nextRecord = [&] {
        w.End(record);
        record = w.Begin(kContinue);
        used = 0;
    };
    const auto& strings = sst.Strings();
    for (std::size_t i = 0; i < strings.size(); ++i) {
        const SharedString& s = strings[i];
        const std::size_t unit = s.wide ? 2 : 1;
        if (used + 3 + (s.chars.empty() ? 0 : unit) > kMaxRecordData)
            nextRecord();
        if (i % bucketSize == 0)
            buckets.push_back({static_cast<uint32_t>(w.Position()), static_cast<uint16_t>(w.Position() - record)});
        w.U16(static_cast<uint16_t>(s.chars.size()));
        w.U8(s.wide ? 1 : 0);
        used += 3;
        std::size_t done = 0;
        while (done < s.chars.size()) {
            std::size_t room = (kMaxRecordData - used) / unit;
            if (room == 0) {
                nextRecord();
                w.U8(s.wide ? 1 : 0);
                used = 1;
                continue;
            }
            const std::size_t take = std::min(room, s.chars.size() - done);
            for (std::size_t k = 0; k < take; ++k) {
                const char16_t c = s.chars[done + k];
                if (s.wide)
                    w.U16(c);
                else
                    w.U8(static_cast<uint8_t>(c));
            }
            used += take * unit;
            done += take;
        }
    }
    w.End(record);
    return buckets;
}

void WriteExtSst(RecordWriter& w, uint16_t bucketSize, const std::vector<BucketStart>& buckets)
{
    const auto at = w.Begin(kExtSst);
    w.U16(bucketSize);
    for (const auto& b : buckets) {
        w.U32(b.streamPosition);
        w.U16(b.recordOffset);
        w.U16(0);
    }
    w.End(at);
}

void WriteGlobalsHead(RecordWriter& w)
{
    WriteBof(w, kBofGlobals);

    auto at = w.Begin(kWindow1);
    for (uint16_t v : std::initializer_list<uint16_t>{120, 120, 15135, 9300, 0x0038, 0, 0, 1, 600})
        w.U16(v);
    w.End(at);

    for (int i = 0; i < 4; ++i) {
        at = w.Begin(kFont);
        w.U16(200);     // height in twentieths of a point
        w.U16(0);       // options
        w.U16(0x7FFF);  // colour index: automatic
        w.U16(400);     // weight
        w.U16(0);       // escapement
        w.U8(0);        // underline
        w.U8(0);        // family
        w.U8(0);        // character set
        w.U8(0);
        const std::u16string_view name = u"Arial";
        w.U8(static_cast<uint8_t>(name.size()));
        w.U8(1);  // UTF-16
        for (char16_t c : name)
            w.U16(c);
        w.End(at);
    }

    // Fifteen style XFs, the default cell XF at index 15 (the format requires one there), and
    // five more style XFs.
    for (int i = 0; i < 21; ++i) {
        at = w.Begin(kXf);
        w.U16(0);                                           // font
        w.U16(0);                                           // number format
        w.U16(i == kDefaultCellXf ? uint16_t{0x0001} : uint16_t{0xFFF5});  // locked; cell XF / style XF
        w.U8(0x20);                                         // bottom-aligned, general
        w.U8(0);                                            // rotation
        w.U8(0);                                            // text properties
        w.U8(0);                                            // used attributes
        w.U32(0);                                           // border lines
        w.U32(0x00000000);                                  // border colours
        w.U16(0x20C0);                                      // pattern colours: automatic
        w.End(at);
    }

    for (int i = 0; i < 6; ++i) {
        at = w.Begin(kStyle);
        w.U16(0x8000);  // built-in style on XF 0
        w.U8(0);        // Normal
        w.U8(0xFF);     // no outline level
        w.End(at);
    }
}

// Longest sheet name a spreadsheet program accepts.
constexpr std::size_t kMaxSheetNameChars = 31;

// Returns the position of the BOUNDSHEET's stream-position field.
std::size_t WriteBoundSheet(RecordWriter& w, const SheetName& name)
{
    const auto at = w.Begin(kBoundSheet);
    const std::size_t positionField = w.Position();
    w.U32(0);
    w.U8(0);  // visible
    w.U8(0);  // worksheet
    if (name.wide) {
        const std::size_t n = std::min(name.utf16.size(), kMaxSheetNameChars);
        w.U8(static_cast<uint8_t>(n));
        w.U8(1);
        for (std::size_t i = 0; i < n; ++i)
            w.U16(name.utf16[i]);
    } else {
        const std::size_t n = std::min(name.narrow.size(), kMaxSheetNameChars);
        w.U8(static_cast<uint8_t>(n));
        w.U8(0);
        for (std::size_t i = 0; i < n; ++i)
            w.U8(static_cast<uint8_t>(name.narrow[i]));
    }
    w.End(at);
    return positionField;
}

// How one non-empty cell goes into the file.
struct CellOut {
    uint16_t column;
    enum class As { Label, Rk, Number } as;
    uint32_t value;  // SST index or RK value
    double number;
};

struct SheetOut {
    std::vector<uint8_t> bytes;
    std::vector<std::size_t> dbCellFields;  // positions in `bytes` of INDEX's DBCELL pointers
    std::vector<uint32_t> dbCellPositions;  // relative to the sheet's BOF
};

SheetOut WriteWorksheet(const Worksheet& sheet, SharedStrings& sst)
{
    // Classify every non-empty cell, row by row.
    std::vector<std::pair<uint32_t, std::vector<CellOut>>> rows;
    uint32_t firstColumn = kMaxColumns;
    uint32_t lastColumn = 0;
    const auto stored = sheet.StoredRows();
    for (uint32_t r = 0; r < stored.size(); ++r) {
        std::vector<CellOut> cells;
        for (const auto& [column, cell] : stored[r]) {
            switch (cell.Kind()) {
            case CellKind::Empty:
                continue;
            case CellKind::Text:
            case CellKind::WideText:
                cells.push_back({column, CellOut::As::Label, sst.Add(cell), 0.0});
                break;
            case CellKind::Integer:
                if (const auto rk = RkFromInteger(cell.Integer()))
                    cells.push_back({column, CellOut::As::Rk, *rk, 0.0});
                else
                    cells.push_back({column, CellOut::As::Number, 0, static_cast<double>(cell.Integer())});
                break;
            case CellKind::Number:
                if (const auto rk = RkFromNumber(cell.Number()))
                    cells.push_back({column, CellOut::As::Rk, *rk, 0.0});
                else
                    cells.push_back({column, CellOut::As::Number, 0, cell.Number()});
                break;
            }
            firstColumn = std::min<uint32_t>(firstColumn, column);
            lastColumn = std::max<uint32_t>(lastColumn, column);
        }
        if (!cells.empty())
            rows.emplace_back(r, std::move(cells));
    }

    SheetOut out;
    RecordWriter w;
    WriteBof(w, kBofWorksheet);

    const uint32_t firstRow = rows.empty() ? 0 : rows.front().first;
    const uint32_t rowEnd = rows.empty() ? 0 : rows.back().first + 1;
    const uint32_t firstBlock = firstRow / 32;
    const uint32_t blockCount = rows.empty() ? 0 : (rowEnd - 1) / 32 - firstBlock + 1;

    auto at = w.Begin(kIndex);
    w.U32(0);
    w.U32(firstRow);
    w.U32(rowEnd);
    w.U32(0);  // no DEFCOLWIDTH record
    for (uint32_t b = 0; b < blockCount; ++b) {
        out.dbCellFields.push_back(w.Position());
        w.U32(0);
    }
    w.End(at);

    at = w.Begin(kDimensions);
    w.U32(firstRow);
    w.U32(rowEnd);
    w.U16(static_cast<uint16_t>(rows.empty() ? 0 : firstColumn));
    w.U16(static_cast<uint16_t>(rows.empty() ? 0 : lastColumn + 1));
    w.U16(0);
    w.End(at);

    std::size_t next = 0;
    for (uint32_t b = 0; b < blockCount; ++b) {
        const uint32_t blockEnd = (firstBlock + b + 1) * 32;
        std::size_t blockFirst = next;
        while (next < rows.size() && rows[next].first < blockEnd)
            ++next;
        const std::size_t firstRowRecord = w.Position();
        for (std::size_t i = blockFirst; i < next; ++i) {
            const auto& cells = rows[i].second;
            at = w.Begin(kRow);
            w.U16(static_cast<uint16_t>(rows[i].first));
            w.U16(cells.front().column);
            w.U16(static_cast<uint16_t>(cells.back().column + 1));
            w.U16(255);     // height in twips
            w.U16(0);
            w.U16(0);
            w.U16(0x0100);  // no option set; the byte above them is fixed at 1
            w.U16(0);
            w.End(at);
        }
        std::vector<std::size_t> firstCellOfRow;
        for (std::size_t i = blockFirst; i < next; ++i) {
            const uint16_t row = static_cast<uint16_t>(rows[i].first);
            const auto& cells = rows[i].second;
            firstCellOfRow.push_back(w.Position());
            for (std::size_t c = 0; c < cells.size();) {
                const CellOut& cell = cells[c];
                if (cell.as == CellOut::As::Rk) {
                    std::size_t run = c + 1;
                    while (run < cells.size() && cells[run].as == CellOut::As::Rk &&
                           cells[run].column == cells[run - 1].column + 1)
                        ++run;
                    if (run - c >= 2) {
                        at = w.Begin(kMulRk);
                        w.U16(row);
                        w.U16(cell.column);
                        for (std::size_t k = c; k < run; ++k) {
                            w.U16(kDefaultCellXf);
                            w.U32(cells[k].value);
                        }
                        w.U16(cells[run - 1].column);
                        w.End(at);
                        c = run;
                        continue;
                    }
                }
                // RK, NUMBER and LABELSST share their start: row, column, cell format.
                const uint16_t kind = cell.as == CellOut::As::Rk       ? kRk
                                      : cell.as == CellOut::As::Number ? kNumber
                                                                       : kLabelSst;
                at = w.Begin(kind);
                w.U16(row);
                w.U16(cell.column);
                w.U16(kDefaultCellXf);
                if (cell.as == CellOut::As::Number)
                    w.F64(cell.number);
                else
                    w.U32(cell.value);
                w.End(at);
                ++c;
            }
        }
        // DBCELL: back to the first ROW, then from the end of that ROW to the first cell of the
        // first row, and from each row's first cell to the next one's.
        const std::size_t dbCell = w.Position();
        out.dbCellPositions.push_back(static_cast<uint32_t>(dbCell));
        at = w.Begin(kDbCell);
        const bool empty = blockFirst == next;
        w.U32(empty ? 0 : static_cast<uint32_t>(dbCell - firstRowRecord));
        for (std::size_t i = 0; i < firstCellOfRow.size(); ++i) {
            const std::size_t from = i == 0 ? firstRowRecord + 20 : firstCellOfRow[i - 1];
            w.U16(static_cast<uint16_t>(firstCellOfRow[i] - from));
        }
        w.End(at);
    }

    at = w.Begin(kWindow2);
    w.U16(0x06B6);
    w.U16(0);   // top row
    w.U16(0);   // left column
    w.U16(64);  // grid line colour index
    w.U16(0);
    w.U16(0);   // zoom in page break preview
    w.U16(0);   // zoom in normal view
    w.U16(0);
    w.U16(0);
    w.End(at);
    WriteEof(w);
    out.bytes = std::move(w.Bytes());
    return out;
}

// ---------------------------------------------------------------------------------------------
// Reading

// What the grids of one load may cost: a whole sheet's row table and then some, plus a multiple of the
// stream that every cell record fits in (the densest, MULRK, holds a cell in six bytes).
constexpr std::size_t kGridBudgetBase = 16u << 20;
constexpr std::size_t kGridBudgetPerByte = 16;
// A stored cell: the map node holding it, with the allocator's overhead.
constexpr std::size_t kCellCost = sizeof(Cell) + 48;

// Reads the data of a record and the CONTINUE records after it as one sequence, taking each
// CONTINUE record from the cursor only when the data before it are used up.
class ContinuedReader {
public:
    ContinuedReader(std::span<const uint8_t> first, BiffRecordCursor rest) : segment_(first), rest_(rest) {}

    bool Byte(uint8_t& v)
    {
        if (!SkipEmpty())
            return false;
        v = segment_[offset_++];
        return true;
    }
    bool U16(uint16_t& v)
    {
        uint8_t a = 0, b = 0;
        if (!Byte(a) || !Byte(b))
            return false;
        v = static_cast<uint16_t>(a | (b << 8));
        return true;
    }
    bool U32(uint32_t& v)
    {
        uint16_t a = 0, b = 0;
        if (!U16(a) || !U16(b))
            return false;
        v = a | (static_cast<uint32_t>(b) << 16);
        return true;
    }
    bool Skip(uint64_t n)
    {
        while (n > 0) {
            if (!SkipEmpty())
                return false;
            const std::size_t take = static_cast<std::size_t>(std::min<uint64_t>(n, segment_.size() - offset_));
            offset_ += take;
            n -= take;
        }
        return true;
    }
    // `count` characters whose width may change where they go on in a new record.
    bool Chars(std::size_t count, bool wide, std::u16string& out, bool& anyWide)
    {
        while (count > 0) {
            if (offset_ == segment_.size()) {
                if (!NextSegment() || segment_.empty())
                    return false;
                const uint8_t flags = segment_[offset_++];
                wide = (flags & 1) != 0;
                continue;
            }
            const std::size_t unit = wide ? 2 : 1;
            const std::size_t available = (segment_.size() - offset_) / unit;
            if (available == 0)
                return false;
            const std::size_t take = std::min(available, count);
            for (std::size_t k = 0; k < take; ++k) {
                const uint8_t* p = segment_.data() + offset_ + k * unit;
                out.push_back(wide ? static_cast<char16_t>(p[0] | (p[1] << 8)) : static_cast<char16_t>(p[0]));
            }
            anyWide = anyWide || wide;
            offset_ += take * unit;
            count -= take;
        }
        return true;
    }

private:
    bool NextSegment()
    {
        const auto next = rest_.Next();
        if (!next || next->type != kContinue)
            return false;
        segment_ = next->data;
        offset_ = 0;
        return true;
    }
    bool SkipEmpty()
    {
        while (offset_ == segment_.size()) {
            if (!NextSegment())
                return false;
        }
        return true;
    }

    std::span<const uint8_t> segment_;
    std::size_t offset_ = 0;
    BiffRecordCursor rest_;
};

// The shared strings of a file. Only strings with characters are kept, each once, and cells share
// them: a file of empty strings, or of many cells naming one long string, costs no memory per string
// or per cell beyond the cell itself.
class StoredStrings {
public:
    void Add(uint32_t index, bool wide, std::u16string chars)
    {
        Entry e{index, {}, {}};
        if (wide) {
            e.wide = std::make_shared<const std::u16string>(std::move(chars));
        } else {
            std::string narrow(chars.size(), '\0');
            for (std::size_t k = 0; k < narrow.size(); ++k)
                narrow[k] = static_cast<char>(static_cast<uint8_t>(chars[k]));
            e.narrow = std::make_shared<const std::string>(std::move(narrow));
        }
        strings_.push_back(std::move(e));
    }
    void SetCount(uint32_t n) { count_ = n; }

    // False for an index the table does not hold; strings are added in index order.
    bool Apply(uint32_t index, Cell& cell) const
    {
        if (index >= count_)
            return false;
        const auto it = std::lower_bound(strings_.begin(), strings_.end(), index,
                                         [](const Entry& e, uint32_t i) { return e.index < i; });
        if (it == strings_.end() || it->index != index)
            cell.SetText(EmptyText());
        else if (it->wide)
            cell.SetWideText(it->wide);
        else
            cell.SetText(it->narrow);
        return true;
    }

private:
    static const std::shared_ptr<const std::string>& EmptyText()
    {
        static const auto empty = std::make_shared<const std::string>();
        return empty;
    }
    struct Entry {
        uint32_t index;
        std::shared_ptr<const std::string> narrow;
        std::shared_ptr<const std::u16string> wide;
    };
    std::vector<Entry> strings_;
    uint32_t count_ = 0;  // strings read, empty ones included
};

// `after` stands just after the SST record.
StoredStrings ReadSst(const BiffRecord& sstRecord, BiffRecordCursor after)
{
    ContinuedReader in(sstRecord.data, after);
    StoredStrings strings;
    uint32_t total = 0, unique = 0;
    if (!in.U32(total) || !in.U32(unique))
        return strings;
    // Strings that the data cut short are left out; their LABELSST cells stay empty.
    uint32_t i = 0;
    for (; i < unique; ++i) {
        uint16_t count = 0;
        uint8_t flags = 0;
        uint16_t runs = 0;
        uint32_t extLength = 0;
        if (!in.U16(count) || !in.Byte(flags))
            break;
        if ((flags & 0x08) && !in.U16(runs))
            break;
        if ((flags & 0x04) && !in.U32(extLength))
            break;
        std::u16string chars;
        bool anyWide = false;
        if (!in.Chars(count, (flags & 1) != 0, chars, anyWide))
            break;
        if (!in.Skip(uint64_t{runs} * 4 + extLength))
            break;
        if (!chars.empty())
            strings.Add(i, anyWide, std::move(chars));
    }
    strings.SetCount(i);
    return strings;
}

void ReadCellRecord(const BiffRecord& r, Worksheet& sheet, const StoredStrings& sst)
{
    const auto d = r.data;
    switch (r.type) {
    case kNumber:
        if (d.size() >= 14) {
            if (Cell* c = sheet.GetCell(Get16(d.data()), Get16(d.data() + 2)))
                c->SetNumber(GetDouble(d.data() + 6));
        }
        break;
    case kRk:
        if (d.size() >= 10) {
            if (Cell* c = sheet.GetCell(Get16(d.data()), Get16(d.data() + 2)))
                SetCellFromRk(Get32(d.data() + 6), *c);
        }
        break;
    case kMulRk:
        if (d.size() >= 12) {
            const uint16_t row = Get16(d.data());
            const uint32_t first = Get16(d.data() + 2);
            const std::size_t count = (d.size() - 6) / 6;
            for (std::size_t k = 0; k < count; ++k) {
                if (Cell* c = sheet.GetCell(row, static_cast<uint32_t>(first + k)))
                    SetCellFromRk(Get32(d.data() + 4 + 6 * k + 2), *c);
            }
        }
        break;
    case kBoolErr:
        if (d.size() >= 8 && d[7] == 0) {
            if (Cell* c = sheet.GetCell(Get16(d.data()), Get16(d.data() + 2)))
                c->SetInteger(d[6] != 0 ? 1 : 0);
        }
        break;
    case kLabelSst:
        if (d.size() >= 10) {
            const uint32_t index = Get32(d.data() + 6);
            Cell probe;
            if (sst.Apply(index, probe)) {
                if (Cell* c = sheet.GetCell(Get16(d.data()), Get16(d.data() + 2)))
                    *c = std::move(probe);
            }
        }
        break;
    case kDimensions:
        if (d.size() >= 14) {
            const uint32_t rows = std::min(Get32(d.data() + 4), kMaxRows);
            const uint32_t columns = std::min<uint32_t>(Get16(d.data() + 10), kMaxColumns);
            sheet.DeclareSize(rows, columns);
        }
        break;
    default:
        break;  // FORMULA, BLANK, MULBLANK and everything else leave the cell empty
    }
}

SheetName ReadSheetName(std::span<const uint8_t> d)
{
    // lbPlyPos (4), state (1), type (1), then the name: count, width flag, characters.
    if (d.size() < 8)
        return {};
    const std::size_t count = d[6];
    const bool wide = (d[7] & 1) != 0;
    const std::size_t available = (d.size() - 8) / (wide ? 2 : 1);
    const std::size_t n = std::min(count, available);
    if (wide) {
        std::u16string name;
        for (std::size_t i = 0; i < n; ++i)
            name.push_back(static_cast<char16_t>(Get16(d.data() + 8 + 2 * i)));
        return SheetName::Wide(std::move(name));
    }
    return SheetName::Narrow(std::string(reinterpret_cast<const char*>(d.data() + 8), n));
}

}  // namespace

bool PassesTwoDecimalTest(double v)
{
    // Both products must fit a 32-bit integer before they are truncated.
    constexpr double kLimit = 2147483648.0;
    const double hundred = v * 100.0;
    const double tenThousand = v * 10000.0;
    if (!std::isfinite(tenThousand) || !(std::fabs(tenThousand) < kLimit))
        return false;
    const int64_t a = static_cast<int32_t>(hundred);
    const int64_t b = static_cast<int32_t>(tenThousand);
    return a * 100 == b;
}

std::optional<uint32_t> RkFromNumber(double v)
{
    if (!PassesTwoDecimalTest(v))
        return std::nullopt;
    uint32_t rk = 0;
    if (static_cast<int64_t>(static_cast<int32_t>(v)) * 100 == static_cast<int32_t>(v * 100.0))
        rk = UpperHalf(v) & ~3u;
    else
        rk = (UpperHalf(v * 100.0) & ~3u) | 1u;
    // Only 30 bits of the double survive, so many passing values would come back altered (1.00001
    // or 6000.25, for instance); those go as NUMBER. The value must come back unchanged whether a
    // reader divides by 100 or multiplies by 0.01.
    const double base = DoubleFromUpperHalf(rk & ~3u);
    if (rk & 1u) {
        if (base / 100.0 != v || base * 0.01 != v)
            return std::nullopt;
    } else if (base != v) {
        return std::nullopt;
    }
    return rk;
}

std::optional<uint32_t> RkFromInteger(int32_t n)
{
    if (n < -(1 << 29) || n >= (1 << 29))
        return std::nullopt;
    return (static_cast<uint32_t>(n) << 2) | 2u;
}

void SetCellFromRk(uint32_t rk, Cell& cell)
{
    const bool times100 = (rk & 1u) != 0;
    if (rk & 2u) {
        const int32_t n = static_cast<int32_t>(rk) >> 2;
        if (times100)
            cell.SetNumber(static_cast<double>(n) / 100.0);
        else
            cell.SetInteger(n);
        return;
    }
    const double v = DoubleFromUpperHalf(rk & ~3u);
    cell.SetNumber(times100 ? v / 100.0 : v);
}

std::optional<BiffRecord> BiffRecordCursor::Next()
{
    if (stream_.size() - at_ < 4)
        return std::nullopt;
    const uint16_t type = Get16(stream_.data() + at_);
    const uint16_t length = Get16(stream_.data() + at_ + 2);
    if (stream_.size() - at_ - 4 < length)
        return std::nullopt;
    const BiffRecord record{type, at_, stream_.subspan(at_ + 4, length)};
    at_ += 4 + std::size_t{length};
    return record;
}

std::vector<BiffRecord> SplitRecords(std::span<const uint8_t> stream, bool* complete)
{
    std::vector<BiffRecord> records;
    BiffRecordCursor cursor(stream);
    while (auto record = cursor.Next())
        records.push_back(*record);
    if (complete)
        *complete = cursor.AtEnd();
    return records;
}

std::vector<uint8_t> WriteWorkbookStream(const Workbook& workbook)
{
    SharedStrings sst;
    std::vector<SheetOut> sheets;
    for (std::size_t i = 0; i < workbook.WorksheetCount(); ++i)
        sheets.push_back(WriteWorksheet(*workbook.WorksheetAt(i), sst));

    RecordWriter globals;
    WriteGlobalsHead(globals);
    std::vector<std::size_t> positionFields;
    for (std::size_t i = 0; i < workbook.WorksheetCount(); ++i)
        positionFields.push_back(WriteBoundSheet(globals, workbook.WorksheetAt(i)->Name()));
    const auto unique = static_cast<uint32_t>(sst.Strings().size());
    const auto bucketSize = static_cast<uint16_t>(std::max<uint32_t>(unique / 128 + 1, 8));
    const auto buckets = WriteSst(globals, sst, bucketSize);
    WriteExtSst(globals, bucketSize, buckets);
    WriteEof(globals);

    std::size_t base = globals.Position();
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        globals.Patch32(positionFields[i], static_cast<uint32_t>(base));
        base += sheets[i].bytes.size();
    }
    std::vector<uint8_t> stream = std::move(globals.Bytes());
    for (auto& sheet : sheets) {
        const std::size_t sheetBase = stream.size();
        for (std::size_t b = 0; b < sheet.dbCellFields.size(); ++b) {
            const uint32_t position = static_cast<uint32_t>(sheetBase + sheet.dbCellPositions[b]);
            for (int k = 0; k < 4; ++k)
                sheet.bytes[sheet.dbCellFields[b] + k] = static_cast<uint8_t>(position >> (8 * k));
        }
        stream.insert(stream.end(), sheet.bytes.begin(), sheet.bytes.end());
    }
    return stream;
}

bool ReadWorkbookStream(std::span<const uint8_t> stream, Workbook& workbook)
{
    BiffRecordCursor records(stream);
    const auto first = records.Next();
    if (!first || first->type != kBof || first->data.size() < 4 || Get16(first->data.data()) != 0x0600 ||
        Get16(first->data.data() + 2) != kBofGlobals)
        return false;

    // Globals: the BOUNDSHEET records, which tell where each sheet's BOF lies, and the shared strings.
    // A name is read only for a sheet that exists, so a run of BOUNDSHEET records costs the position
    // of each record, not a name.
    std::vector<uint32_t> boundSheets;
    auto bofPositionOf = [&](uint32_t record) { return Get32(stream.data() + record + 4); };
    StoredStrings sst;
    bool globalsEnd = false;
    while (const auto r = records.Next()) {
        if (r->type == kEof) {
            globalsEnd = true;
            break;
        }
        if (r->type == kBoundSheet && r->data.size() >= 4)
            boundSheets.push_back(static_cast<uint32_t>(r->position));
        else if (r->type == kSst)
            sst = ReadSst(*r, records);
    }
    if (!globalsEnd)
        return false;
    // The first BOUNDSHEET of a position names it.
    std::stable_sort(boundSheets.begin(), boundSheets.end(),
                     [&](uint32_t a, uint32_t b) { return bofPositionOf(a) < bofPositionOf(b); });
    auto nameAt = [&](std::size_t bofPosition) {
        const auto it = std::lower_bound(boundSheets.begin(), boundSheets.end(), bofPosition,
                                         [&](uint32_t record, std::size_t p) { return bofPositionOf(record) < p; });
        if (it == boundSheets.end() || bofPositionOf(*it) != bofPosition)
            return SheetName{};
        return ReadSheetName(BiffRecordCursor(stream.subspan(*it)).Next()->data);
    };

    // The grids may take memory only in proportion to the stream: a worksheet whose one cell lies in
    // its last row costs a row table of the whole sheet, and a stream of such sheets is refused
    // rather than read into gigabytes.
    const std::size_t gridBudget = kGridBudgetBase + kGridBudgetPerByte * stream.size();
    std::size_t gridCost = 0;
    bool anySheet = false;
    while (const auto bof = records.Next()) {
        if (bof->type != kBof)
            continue;  // padding or stray records between substreams
        const bool isWorksheet = bof->data.size() >= 4 && Get16(bof->data.data() + 2) == kBofWorksheet;
        Worksheet* sheet = nullptr;
        if (isWorksheet) {
            sheet = &workbook.AddWorksheet(nameAt(bof->position));
            gridCost += sizeof(Worksheet);
            anySheet = true;
        }
        // Substreams nest (a chart inside a worksheet); only the worksheet's own level counts.
        for (int depth = 1; depth > 0;) {
            const auto r = records.Next();
            if (!r)
                return false;  // cut short
            if (r->type == kBof)
                ++depth;
            else if (r->type == kEof)
                --depth;
            else if (depth == 1 && sheet != nullptr) {
                const std::size_t rowsBefore = sheet->StoredRows().size();
                const std::size_t cellsBefore = sheet->StoredCellCount();
                ReadCellRecord(*r, *sheet, sst);
                gridCost += (sheet->StoredRows().size() - rowsBefore) * sizeof(Worksheet::RowCells) +
                            (sheet->StoredCellCount() - cellsBefore) * kCellCost;
                if (gridCost > gridBudget)
                    return false;
            }
        }
    }
    return anySheet;
}

}  // namespace zelkor::output
