#include "output/compound_file.h"

#include <algorithm>
#include <cstring>

namespace zelkor::output {

namespace {

constexpr uint32_t kHeaderDifatEntries = 109;
constexpr uint32_t kDirEntrySize = 128;
constexpr uint8_t kTypeStream = 2;
constexpr uint8_t kTypeRoot = 5;
constexpr uint8_t kBlack = 1;

void Put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint32_t CeilDiv(uint64_t a, uint64_t b) { return static_cast<uint32_t>((a + b - 1) / b); }

void WriteDirEntry(uint8_t* e, std::u16string_view name, uint8_t type, uint32_t child, uint32_t start,
                   uint32_t size)
{
    const size_t units = std::min<size_t>(name.size(), 31);
    for (size_t i = 0; i < units; ++i)
        Put16(e + 2 * i, name[i]);
    Put16(e + 64, static_cast<uint16_t>((units + 1) * 2));
    e[66] = type;
    e[67] = kBlack;  // a tree of one node per level is trivially a valid red-black tree when all black
    Put32(e + 68, kCfbNoStream);
    Put32(e + 72, kCfbNoStream);
    Put32(e + 76, child);
    Put32(e + 116, start);
    Put32(e + 120, size);
}

void WriteFreeDirEntry(uint8_t* e)
{
    Put32(e + 68, kCfbNoStream);
    Put32(e + 72, kCfbNoStream);
    Put32(e + 76, kCfbNoStream);
}

char16_t UpperAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// Everything in the image is checked before use: sector numbers against the sectors that really
// exist, chain lengths against what the sizes need (which also ends any cycle), sizes against the
// image size, so no read leaves the image and no allocation exceeds what the image justifies.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> image) : image_(image) {}

    std::optional<std::vector<uint8_t>> Find(std::u16string_view streamName)
    {
        if (!ReadHeader() || !ReadFat())
            return std::nullopt;
        std::vector<uint8_t> dir;
        if (!ReadOpenChain(Get32(image_.data() + 48), dir) || dir.size() < kDirEntrySize)
            return std::nullopt;
        const uint32_t count = static_cast<uint32_t>(dir.size() / kDirEntrySize);
        const uint8_t* root = dir.data();
        if (root[66] != kTypeRoot)
            return std::nullopt;

        // Walk the root's child tree; a visited mark stops cycles.
        std::vector<bool> visited(count, false);
        std::vector<uint32_t> pending{Get32(root + 76)};
        visited[0] = true;
        while (!pending.empty()) {
            const uint32_t id = pending.back();
            pending.pop_back();
            if (id >= count || visited[id])
                continue;
            visited[id] = true;
            const uint8_t* e = dir.data() + static_cast<size_t>(id) * kDirEntrySize;
            if (e[66] == kTypeStream && NameEquals(e, streamName))
                return ReadStream(e, root);
            pending.push_back(Get32(e + 68));
            pending.push_back(Get32(e + 72));
        }
        return std::nullopt;
    }

private:
    bool ReadHeader()
    {
        if (image_.size() < 512 || !HasCompoundFileSignature(image_))
            return false;
        const uint8_t* h = image_.data();
        const uint16_t major = Get16(h + 26);
        const uint16_t shift = Get16(h + 30);
        if (Get16(h + 28) != 0xFFFE || Get16(h + 32) != 6 || Get32(h + 56) != kCfbMiniStreamCutoff)
            return false;
        if (!((major == 3 && shift == 9) || (major == 4 && shift == 12)))
            return false;
        version4_ = major == 4;
        sectorSize_ = 1u << shift;
        if (image_.size() < sectorSize_)
            return false;
        // Sectors after the header sector. Other writers may end the file after its last used byte,
        // so a partial last sector counts, as if the rest of it were zeros.
        const uint64_t body = image_.size() - sectorSize_;
        sectorCount_ = (body + sectorSize_ - 1) / sectorSize_;
        if (const uint64_t partial = body % sectorSize_) {
            tail_.assign(sectorSize_, 0);
            std::memcpy(tail_.data(), image_.data() + sectorCount_ * sectorSize_, static_cast<size_t>(partial));
        }
        return true;
    }

    bool ReadFat()
    {
        const uint8_t* h = image_.data();
        const uint32_t fatSectors = Get32(h + 44);
        if (fatSectors == 0 || fatSectors > sectorCount_)
            return false;
        std::vector<uint32_t> fatSectorIds;
        fatSectorIds.reserve(fatSectors);
        for (uint32_t i = 0; i < std::min(fatSectors, kHeaderDifatEntries); ++i)
            fatSectorIds.push_back(Get32(h + 76 + 4 * i));
        const uint32_t perDifat = sectorSize_ / 4 - 1;
        uint32_t difat = Get32(h + 68);
        uint64_t difatSteps = 0;
        while (fatSectorIds.size() < fatSectors) {
            const uint8_t* s = Sector(difat);
            if (s == nullptr || ++difatSteps > sectorCount_)
                return false;
            for (uint32_t i = 0; i < perDifat && fatSectorIds.size() < fatSectors; ++i)
                fatSectorIds.push_back(Get32(s + 4 * i));
            difat = Get32(s + 4 * perDifat);
        }
        const uint32_t perSector = sectorSize_ / 4;
        fat_.resize(static_cast<size_t>(fatSectors) * perSector);
        for (size_t i = 0; i < fatSectorIds.size(); ++i) {
            const uint8_t* s = Sector(fatSectorIds[i]);
            if (s == nullptr)
                return false;
            for (uint32_t j = 0; j < perSector; ++j)
                fat_[i * perSector + j] = Get32(s + 4 * j);
        }
        return true;
    }

    const uint8_t* Sector(uint32_t id) const
    {
        if (id > kCfbMaxRegSect || id >= sectorCount_)
            return nullptr;
        if (!tail_.empty() && id + 1 == sectorCount_)
            return tail_.data();
        return image_.data() + (static_cast<uint64_t>(id) + 1) * sectorSize_;
    }

    uint32_t Next(uint32_t id) const { return id < fat_.size() ? fat_[id] : kCfbFreeSect; }

    // The sectors of the chain from `start`: `count` of them, or with count 0 all up to the end
    // marker. Nothing when the chain ends early, leaves the image or comes back to a sector it passed,
    // so a chain never holds more than the image does and memory follows the sectors really there.
    std::optional<std::vector<uint32_t>> ChainSectors(uint32_t start, uint64_t count) const
    {
        std::vector<uint32_t> ids;
        std::vector<bool> seen(static_cast<std::size_t>(sectorCount_), false);
        for (uint32_t id = start; count == 0 ? id != kCfbEndOfChain : ids.size() < count; id = Next(id)) {
            if (Sector(id) == nullptr || seen[id])
                return std::nullopt;
            seen[id] = true;
            ids.push_back(id);
        }
        return ids;
    }

    // The first `bytes` bytes of the chain from `start`; the chain is checked whole before anything
    // is allocated for its data.
    bool ReadChain(uint32_t start, uint64_t bytes, std::vector<uint8_t>& out) const
    {
        out.clear();
        if (bytes == 0)
            return true;
        if (bytes > sectorCount_ * sectorSize_)
            return false;
        const auto ids = ChainSectors(start, (bytes + sectorSize_ - 1) / sectorSize_);
        if (!ids)
            return false;
        out.resize(static_cast<size_t>(bytes));
        uint64_t done = 0;
        for (const uint32_t id : *ids) {
            const uint64_t n = std::min<uint64_t>(sectorSize_, bytes - done);
            std::memcpy(out.data() + done, Sector(id), static_cast<size_t>(n));
            done += n;
        }
        return true;
    }

    // A chain of unknown length, up to its end marker.
    bool ReadOpenChain(uint32_t start, std::vector<uint8_t>& out) const
    {
        out.clear();
        const auto ids = ChainSectors(start, 0);
        if (!ids)
            return false;
        out.reserve(ids->size() * sectorSize_);
        for (const uint32_t id : *ids) {
            const uint8_t* s = Sector(id);
            out.insert(out.end(), s, s + sectorSize_);
        }
        return true;
    }

    uint64_t EntrySize(const uint8_t* e) const
    {
        // Version 3 files may leave the high half uninitialised; it carries no meaning there.
        const uint64_t low = Get32(e + 120);
        return version4_ ? (low | (static_cast<uint64_t>(Get32(e + 124)) << 32)) : low;
    }

    static bool NameEquals(const uint8_t* e, std::u16string_view name)
    {
        const uint16_t bytes = Get16(e + 64);
        if (bytes < 2 || bytes > 64 || bytes % 2 != 0)
            return false;
        const size_t units = bytes / 2 - 1;
        if (units != name.size())
            return false;
        for (size_t i = 0; i < units; ++i) {
            if (UpperAscii(static_cast<char16_t>(Get16(e + 2 * i))) != UpperAscii(name[i]))
                return false;
        }
        return true;
    }

    std::optional<std::vector<uint8_t>> ReadStream(const uint8_t* e, const uint8_t* root) const
    {
        const uint64_t size = EntrySize(e);
        std::vector<uint8_t> out;
        if (size >= kCfbMiniStreamCutoff) {
            if (!ReadChain(Get32(e + 116), size, out))
                return std::nullopt;
            return out;
        }
        if (size == 0)
            return out;

        // Small streams live in the mini stream, which is the root entry's chain, and are
        // chained through the mini FAT.
        std::vector<uint8_t> miniStream;
        std::vector<uint8_t> miniFatBytes;
        const uint8_t* h = image_.data();
        const uint64_t miniFatSectors = Get32(h + 64);
        if (miniFatSectors > sectorCount_ || !ReadChain(Get32(root + 116), EntrySize(root), miniStream) ||
            !ReadChain(Get32(h + 60), miniFatSectors * sectorSize_, miniFatBytes))
            return std::nullopt;
        const size_t miniFatCount = miniFatBytes.size() / 4;
        const size_t miniSectorCount = miniStream.size() / kCfbMiniSectorSize;
        out.resize(static_cast<size_t>(size));
        uint32_t id = Get32(e + 116);
        for (uint64_t done = 0; done < size;) {
            if (id >= miniSectorCount || id >= miniFatCount)
                return std::nullopt;
            const uint64_t n = std::min<uint64_t>(kCfbMiniSectorSize, size - done);
            std::memcpy(out.data() + done, miniStream.data() + static_cast<size_t>(id) * kCfbMiniSectorSize,
                        static_cast<size_t>(n));
            done += n;
            id = Get32(miniFatBytes.data() + 4 * static_cast<size_t>(id));
        }
        return out;
    }

    std::span<const uint8_t> image_;
    bool version4_ = false;
    uint32_t sectorSize_ = kCfbSectorSize;
    uint64_t sectorCount_ = 0;
    std::vector<uint8_t> tail_;  // the partial last sector, zero-filled; empty when there is none
    std::vector<uint32_t> fat_;
};

}  // namespace

bool HasCompoundFileSignature(std::span<const uint8_t> image)
{
    return image.size() >= sizeof kCfbSignature && std::memcmp(image.data(), kCfbSignature, sizeof kCfbSignature) == 0;
}

std::vector<uint8_t> BuildCompoundFile(std::u16string_view streamName, std::span<const uint8_t> content)
{
    const uint64_t size = content.size();
    if (size > 0x7FFFFFFFu)
        return {};
    const bool mini = size < kCfbMiniStreamCutoff;
    const uint32_t miniSectors = mini ? CeilDiv(size, kCfbMiniSectorSize) : 0;
    const uint32_t miniStreamSectors = CeilDiv(uint64_t{miniSectors} * kCfbMiniSectorSize, kCfbSectorSize);
    const uint32_t miniFatSectors = CeilDiv(uint64_t{miniSectors} * 4, kCfbSectorSize);
    const uint32_t dataSectors = mini ? 0 : CeilDiv(size, kCfbSectorSize);
    const uint32_t dirSectors = 1;
    const uint32_t others = dirSectors + miniFatSectors + miniStreamSectors + dataSectors;

    // The FAT must also map its own sectors and the DIFAT sectors that list FAT sectors beyond the
    // 109 held in the header.
    const uint32_t perSector = kCfbSectorSize / 4;
    uint32_t fatSectors = 1;
    uint32_t difatSectors = 0;
    for (;;) {
        difatSectors = fatSectors > kHeaderDifatEntries ? CeilDiv(fatSectors - kHeaderDifatEntries, perSector - 1) : 0;
        if (uint64_t{fatSectors} * perSector >= uint64_t{others} + fatSectors + difatSectors)
            break;
        ++fatSectors;
    }

    // Layout: FAT, DIFAT, directory, mini FAT, mini stream, stream data.
    const uint32_t firstDifat = fatSectors;
    const uint32_t dirSector = firstDifat + difatSectors;
    const uint32_t firstMiniFat = dirSector + dirSectors;
    const uint32_t firstMiniStream = firstMiniFat + miniFatSectors;
    const uint32_t firstData = firstMiniStream + miniStreamSectors;
    const uint32_t total = firstData + dataSectors;

    std::vector<uint8_t> image((static_cast<size_t>(total) + 1) * kCfbSectorSize, 0);
    auto sector = [&](uint32_t id) { return image.data() + (static_cast<size_t>(id) + 1) * kCfbSectorSize; };

    uint8_t* h = image.data();
    std::memcpy(h, kCfbSignature, sizeof kCfbSignature);
    Put16(h + 24, 0x003E);
    Put16(h + 26, 3);
    Put16(h + 28, 0xFFFE);
    Put16(h + 30, 9);
    Put16(h + 32, 6);
    Put32(h + 44, fatSectors);
    Put32(h + 48, dirSector);
    Put32(h + 56, kCfbMiniStreamCutoff);
    Put32(h + 60, miniFatSectors ? firstMiniFat : kCfbEndOfChain);
    Put32(h + 64, miniFatSectors);
    Put32(h + 68, difatSectors ? firstDifat : kCfbEndOfChain);
    Put32(h + 72, difatSectors);
    for (uint32_t i = 0; i < kHeaderDifatEntries; ++i)
        Put32(h + 76 + 4 * i, i < fatSectors ? i : kCfbFreeSect);

    for (uint32_t d = 0; d < difatSectors; ++d) {
        uint8_t* s = sector(firstDifat + d);
        for (uint32_t i = 0; i < perSector - 1; ++i) {
            const uint64_t fatIndex = kHeaderDifatEntries + uint64_t{d} * (perSector - 1) + i;
            Put32(s + 4 * i, fatIndex < fatSectors ? static_cast<uint32_t>(fatIndex) : kCfbFreeSect);
        }
        Put32(s + 4 * (perSector - 1), d + 1 < difatSectors ? firstDifat + d + 1 : kCfbEndOfChain);
    }

    std::vector<uint32_t> fat(static_cast<size_t>(fatSectors) * perSector, kCfbFreeSect);
    auto chain = [&](uint32_t first, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i)
            fat[first + i] = i + 1 < count ? first + i + 1 : kCfbEndOfChain;
    };
    for (uint32_t i = 0; i < fatSectors; ++i)
        fat[i] = kCfbFatSect;
    for (uint32_t i = 0; i < difatSectors; ++i)
        fat[firstDifat + i] = kCfbDifSect;
    chain(dirSector, dirSectors);
    chain(firstMiniFat, miniFatSectors);
    chain(firstMiniStream, miniStreamSectors);
    chain(firstData, dataSectors);
    for (size_t i = 0; i < fat.size(); ++i)
        Put32(sector(static_cast<uint32_t>(i / perSector)) + 4 * (i % perSector), fat[i]);

    uint8_t* dir = sector(dirSector);
    WriteDirEntry(dir, u"Root Entry", kTypeRoot, 1, miniStreamSectors ? firstMiniStream : kCfbEndOfChain,
                  miniSectors * kCfbMiniSectorSize);
    uint32_t streamStart = kCfbEndOfChain;
    if (size > 0)
        streamStart = mini ? 0 : firstData;
    WriteDirEntry(dir + kDirEntrySize, streamName, kTypeStream, kCfbNoStream, streamStart,
                  static_cast<uint32_t>(size));
    for (uint32_t i = 2; i < kCfbSectorSize / kDirEntrySize; ++i)
        WriteFreeDirEntry(dir + i * kDirEntrySize);

    if (mini) {
        // Mini sectors are consecutive, so the mini FAT is one chain 0, 1, 2, ...
        for (uint32_t i = 0; i < miniSectors; ++i) {
            uint8_t* s = sector(firstMiniFat + i / perSector);
            Put32(s + 4 * (i % perSector), i + 1 < miniSectors ? i + 1 : kCfbEndOfChain);
        }
        for (uint32_t i = miniSectors; i < miniFatSectors * perSector; ++i)
            Put32(sector(firstMiniFat + i / perSector) + 4 * (i % perSector), kCfbFreeSect);
        if (size > 0)
            std::memcpy(sector(firstMiniStream), content.data(), static_cast<size_t>(size));
    } else {
        std::memcpy(sector(firstData), content.data(), static_cast<size_t>(size));
    }
    return image;
}

std::optional<std::vector<uint8_t>> ReadCompoundStream(std::span<const uint8_t> image,
                                                       std::u16string_view streamName)
{
    return Reader(image).Find(streamName);
}

}  // namespace zelkor::output
