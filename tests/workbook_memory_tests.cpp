// The memory a hostile workbook can make the loader take: every allocation of this test program is
// counted, so the peak during a load can be compared with the size of the file.
#include "output/compound_file.h"
#include "output/workbook.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
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
