// The memory a hostile workbook can make the loader take: every allocation of this test program is
// counted, so the peak during a load can be compared with the size of the file.
#include "output/compound_file.h"
#include "output/workbook.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <functional>
#include <string>
#include <vector>

namespace {

std::atomic<std::size_t> g_live{0};
std::atomic<std::size_t> g_peak{0};
constexpr std::size_t kHeader = alignof(std::max_align_t);

}  // namespace

void* operator new(std::size_t size)
{
    auto* base = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (base == nullptr)
        throw std::bad_alloc();
    *reinterpret_cast<std::size_t*>(base) = size;
    const std::size_t live = g_live.fetch_add(size) + size;
    std::size_t peak = g_peak.load();
    while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
    }
    return base + kHeader;
}

void operator delete(void* p) noexcept
{
    if (p == nullptr)
        return;
    auto* base = static_cast<unsigned char*>(p) - kHeader;
    g_live.fetch_sub(*reinterpret_cast<std::size_t*>(base));
    std::free(base);
}

void* operator new[](std::size_t size) { return ::operator new(size); }
// The library's temporary buffers (std::stable_sort) come from the nothrow forms; they must be
// counted, and freed by the delete above, too.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }
void operator delete(void* p, const std::nothrow_t&) noexcept { ::operator delete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { ::operator delete(p); }
void operator delete[](void* p) noexcept { ::operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { ::operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { ::operator delete(p); }

namespace {

using Bytes = std::vector<uint8_t>;

void Record(Bytes& s, uint16_t type, const Bytes& data = {})
{
    s.insert(s.end(), {static_cast<uint8_t>(type), static_cast<uint8_t>(type >> 8), static_cast<uint8_t>(data.size()),
                       static_cast<uint8_t>(data.size() >> 8)});
    s.insert(s.end(), data.begin(), data.end());
}

Bytes Bof(uint16_t substream)
{
    Bytes data(16, 0);
    data[1] = 0x06;  // version 0x0600
    data[2] = static_cast<uint8_t>(substream);
    return data;
}

// Four bytes of stream per record: as many records as a file can hold.
void EmptyRecords(Bytes& s, uint16_t type, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        Record(s, type);
}

}  // namespace

TEST(WorkbookMemory, RunsOfEmptyRecordsCostNoMemoryPerRecord)
{
    constexpr std::size_t kRecords = 1u << 20;  // a 4 MB stream
    struct Case {
        const char* name;
        bool inSst;
    };
    for (const Case& c : {Case{"in a worksheet", false}, Case{"continuing the shared strings", true}}) {
        SCOPED_TRACE(c.name);
        Bytes stream;
        Record(stream, 0x0809, Bof(0x0005));
        if (c.inSst) {
            Record(stream, 0x00FC, {0, 0, 1, 0, 0, 0, 1, 0});  // a million strings announced
            EmptyRecords(stream, 0x003C, kRecords);
        }
        Record(stream, 0x000A);
        Record(stream, 0x0809, Bof(0x0010));
        if (!c.inSst)
            EmptyRecords(stream, 0x0001, kRecords);
        Record(stream, 0x000A);
        const Bytes image = zelkor::output::BuildCompoundFile(u"Workbook", stream);
        stream = Bytes();

        zelkor::output::Workbook wb;
        const std::size_t before = g_live.load();
        g_peak.store(before);
        EXPECT_TRUE(wb.LoadFromBytes(image));
        const std::size_t taken = g_peak.load() - before;
        // The stream is copied out of the file once; anything per record would be several times more.
        EXPECT_LT(taken, 2 * image.size()) << taken << " bytes taken for a file of " << image.size();
    }
}

namespace {

void Put16(Bytes& b, uint16_t v) { b.insert(b.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}); }
void Put32(Bytes& b, uint32_t v) { Put16(b, static_cast<uint16_t>(v)); Put16(b, static_cast<uint16_t>(v >> 16)); }
void Patch32(Bytes& b, std::size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Data longer than a record holds goes on in CONTINUE records.
void RecordContinued(Bytes& s, uint16_t type, const Bytes& data)
{
    constexpr std::size_t kMax = 8224;
    for (std::size_t at = 0; at == 0 || at < data.size(); at += kMax) {
        const Bytes part(data.begin() + static_cast<std::ptrdiff_t>(at),
                         data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), at + kMax)));
        Record(s, at == 0 ? type : 0x003C, part);
    }
}

// Globals with these records before their EOF, then the worksheets' bodies, each in BOF ... EOF.
Bytes Workbook(const std::function<void(Bytes&)>& globals, const std::vector<Bytes>& sheets)
{
    Bytes s;
    Record(s, 0x0809, Bof(0x0005));
    globals(s);
    Record(s, 0x000A);
    for (const Bytes& body : sheets) {
        Record(s, 0x0809, Bof(0x0010));
        s.insert(s.end(), body.begin(), body.end());
        Record(s, 0x000A);
    }
    return zelkor::output::BuildCompoundFile(u"Workbook", s);
}

Bytes CellRecord(uint16_t type, uint16_t row, uint16_t column, const Bytes& value)
{
    Bytes d;
    Put16(d, row);
    Put16(d, column);
    Put16(d, 15);
    d.insert(d.end(), value.begin(), value.end());
    Bytes r;
    Record(r, type, d);
    return r;
}

Bytes Sheet(std::size_t cells, const std::function<Bytes(std::size_t)>& cell)
{
    Bytes body;
    for (std::size_t i = 0; i < cells; ++i) {
        const Bytes r = cell(i);
        body.insert(body.end(), r.begin(), r.end());
    }
    return body;
}

// Offsets in the compound file BuildCompoundFile writes: the header, then sector n at 512 (n + 1).
uint32_t Get32At(const Bytes& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
std::size_t SectorAt(uint32_t id) { return 512 * (static_cast<std::size_t>(id) + 1); }
std::size_t FatEntryAt(const Bytes& image, uint32_t id) { return SectorAt(Get32At(image, 76 + 4 * (id / 128))) + 4 * (id % 128); }
std::size_t StreamEntryAt(const Bytes& image) { return SectorAt(Get32At(image, 48)) + 128; }

// A large workbook stream (kept in sectors, not the mini stream), to damage its compound file.
Bytes LargeImage()
{
    return Workbook([](Bytes&) {}, {Sheet(60000, [](std::size_t i) {
                        return CellRecord(0x027E, static_cast<uint16_t>(i), 0, {2, 0, 0, 0});
                    })});
}

}  // namespace

// Files of modest size whose headers claim far more, or whose records hold nothing: the load answers
// (a failure, or what the file really holds) and takes memory only for what the file holds.
TEST(WorkbookMemory, HostileHeadersCostNoMoreThanTheFileHolds)
{
    constexpr std::size_t kSheetGrid = 65536 * sizeof(zelkor::output::Worksheet::RowCells);
    struct Case {
        const char* name;
        std::function<Bytes()> image;
        bool loads;
        std::size_t extra;  // what the load may take beyond twice the file: the cells really there
        bool grids = false;  // whether the case is about the grids' budget
        std::size_t firstCellText = 0;  // the length of the text in cell (0, 0), where there is one
        bool noStream = false;  // the compound file fails before any stream is read
    };
    const Case cases[] = {
        {"shared strings announcing four billion entries, holding none",
         [] { return Workbook([](Bytes& s) { Record(s, 0x00FC, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}); }, {{}}); },
         true, 0},
        {"a million empty shared strings",
         [] {
             return Workbook(
                 [](Bytes& s) {
                     Bytes sst;
                     Put32(sst, 1u << 20);
                     Put32(sst, 1u << 20);
                     for (int i = 0; i < (1 << 20); ++i)
                         sst.insert(sst.end(), {0, 0, 0});
                     RecordContinued(s, 0x00FC, sst);
                 },
                 {{}});
         },
         true, 0},
        {"three thousand cells naming one string of 32,767 characters",
         [] {
             return Workbook(
                 [](Bytes& s) {
                     // Characters that go on in a CONTINUE record start it with their width byte.
                     Bytes sst;
                     Put32(sst, 3000);
                     Put32(sst, 1);
                     Put16(sst, 32767);
                     sst.push_back(0);
                     std::size_t left = 32767;
                     for (uint16_t type = 0x00FC; left > 0; type = 0x003C) {
                         if (type == 0x003C)
                             sst.push_back(0);
                         const std::size_t n = std::min<std::size_t>(left, 8224 - sst.size());
                         sst.insert(sst.end(), n, 'x');
                         left -= n;
                         Record(s, type, sst);
                         sst.clear();
                     }
                 },
                 {Sheet(3000, [](std::size_t i) {
                     return CellRecord(0x00FD, static_cast<uint16_t>(i / 100), static_cast<uint16_t>(i % 100), {0, 0, 0, 0});
                 })});
         },
         true, 3000 * 128 + 30 * 64, false, 32767},
        {"two hundred thousand names of sheets that do not exist",
         [] {
             return Workbook(
                 [](Bytes& s) {
                     for (uint32_t i = 0; i < 200000; ++i) {
                         Bytes d;
                         Put32(d, 0x100000 + i);
                         d.insert(d.end(), {0, 0, 1, 0, 'S'});
                         Record(s, 0x0085, d);
                     }
                 },
                 {{}});
         },
         true, 0},
        {"dimensions claiming the whole sheet, no cells",
         [] {
             Bytes dims;
             Record(dims, 0x0200, {0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0});
             return Workbook([](Bytes&) {}, {dims});
         },
         true, 0},
        {"a stream claiming the whole file on a chain of one sector",
         [] {
             Bytes image = LargeImage();
             const std::size_t entry = StreamEntryAt(image);
             Patch32(image, FatEntryAt(image, Get32At(image, entry + 116)), 0xFFFFFFFE);
             Patch32(image, entry + 120, static_cast<uint32_t>(image.size() - 1024));
             return image;
         },
         false, 0, false, 0, true},
        {"a directory whose chain comes back to itself",
         [] {
             Bytes image = LargeImage();
             const uint32_t dir = Get32At(image, 48);
             Patch32(image, FatEntryAt(image, dir), dir);
             return image;
         },
         false, 0, false, 0, true},
        {"ten thousand sheets whose one cell lies in the last row",
         [] {
             std::vector<Bytes> sheets(10000, CellRecord(0x027E, 65535, 0, {2, 0, 0, 0}));
             return Workbook([](Bytes&) {}, sheets);
         },
         false, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes image = c.image();
        // A sheet's row table, and, for grids, the loader's budget and the table that passed it.
        const std::size_t grids = (16u << 20) + 16 * image.size() + 2 * kSheetGrid;
        std::size_t allowed = 2 * image.size() + c.extra + (c.grids ? grids : kSheetGrid);
        if (c.noStream)
            allowed = image.size() / 4;  // the FAT and the list of a chain's sectors
        zelkor::output::Workbook wb;
        const std::size_t before = g_live.load();
        g_peak.store(before);
        EXPECT_EQ(wb.LoadFromBytes(image), c.loads);
        const std::size_t taken = g_peak.load() - before;
        EXPECT_LT(taken, allowed) << taken << " bytes taken for a file of " << image.size();
        if (c.loads) {
            ASSERT_GE(wb.WorksheetCount(), 1u);
            const zelkor::output::Cell* cell = wb.FirstWorksheet()->FindCell(0, 0);
            EXPECT_EQ(cell ? cell->Text().size() : 0u, c.firstCellText);
        }
    }
}
