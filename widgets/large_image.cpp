#include "large_image.h"

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <vector>
#include <utility>

namespace zelkor::widgets {
namespace {

constexpr std::size_t kLargePage = std::size_t{2} << 20;
// Below this a picture spans too few pages for the large page to pay for itself.
constexpr std::size_t kLargeFrom = std::size_t{256} << 10;

struct Mapping {
    void* base;
    std::size_t length;
};

void Unmap(void* info)
{
    auto* mapping = static_cast<Mapping*>(info);
    munmap(mapping->base, mapping->length);
    delete mapping;
}

// Linux 6.1 and later: turn what is already there into large pages at once.
#ifdef MADV_COLLAPSE
constexpr int kCollapse = MADV_COLLAPSE;
#else
constexpr int kCollapse = 25;
#endif

// `length` bytes aligned to a large page, the kernel asked to back them with large pages.
Mapping* MapLarge(std::size_t length)
{
    const std::size_t rounded = (length + kLargePage - 1) / kLargePage * kLargePage;
    // Mapped one large page longer, then trimmed to an aligned start.
    void* raw = mmap(nullptr, rounded + kLargePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kLargePage - 1) / kLargePage * kLargePage;
    if (aligned > start)
        munmap(raw, aligned - start);
    const std::size_t tail = start + rounded + kLargePage - (aligned + rounded);
    if (tail > 0)
        munmap(reinterpret_cast<void*>(aligned + rounded), tail);
    void* base = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    madvise(base, rounded, MADV_HUGEPAGE);  // only advice: without large pages the memory still works
#endif
    return new Mapping{base, rounded};
}

// The pool: blocks carved from large pages, each with a header that names its size, and a list of
// the dropped blocks of every size.
class PicturePool {
public:
    static PicturePool& Instance()
    {
        static PicturePool* pool = new PicturePool;  // lives to the end: pictures may outlast statics
        return *pool;
    }

    // nullptr where no memory is to be had.
    uchar* Take(std::size_t bytes)
    {
        const std::size_t block = Rounded(bytes);
        std::lock_guard lock(mutex_);
        std::vector<uchar*>& dropped = dropped_[block];
        if (!dropped.empty()) {
            uchar* data = dropped.back();
            dropped.pop_back();
            return data;
        }
        if (left_ < kHeader + block) {
            Mapping* chunk = MapLarge(kLargePage);
            if (!chunk)
                return nullptr;
            next_ = static_cast<uchar*>(chunk->base);
            left_ = chunk->length;
            delete chunk;  // the chunk stays mapped for good
        }
        uchar* data = next_ + kHeader;
        std::memcpy(next_, &block, sizeof block);
        next_ += kHeader + block;
        left_ -= kHeader + block;
        return data;
    }

    static void Give(void* info)
    {
        auto* data = static_cast<uchar*>(info);
        std::size_t block = 0;
        std::memcpy(&block, data - kHeader, sizeof block);
        PicturePool& pool = Instance();
        std::lock_guard lock(pool.mutex_);
        pool.dropped_[block].push_back(data);
    }

    static constexpr std::size_t kLargest = kLargePage / 4;

private:
    static constexpr std::size_t kHeader = 64;  // keeps every block on a cache line of its own
    static std::size_t Rounded(std::size_t bytes) { return (bytes + kHeader - 1) / kHeader * kHeader; }

    std::mutex mutex_;
    std::map<std::size_t, std::vector<uchar*>> dropped_;
    uchar* next_ = nullptr;
    std::size_t left_ = 0;
};

// Rows without padding for a 32-bit format; 0 for anything else (made as QImage makes it).
qsizetype PackedBytesPerLine(QSize size, QImage::Format format)
{
    if (size.isEmpty() || QImage::toPixelFormat(format).bitsPerPixel() != 32)
        return 0;
    return static_cast<qsizetype>(size.width()) * 4;
}

QImage CopyInto(QImage copy, const QImage& image)
{
    if (copy.isNull() || copy.bytesPerLine() != image.bytesPerLine())
        return image.copy();
    std::memcpy(copy.bits(), image.constBits(), static_cast<std::size_t>(image.sizeInBytes()));
    copy.setDevicePixelRatio(image.devicePixelRatio());
    return copy;
}

}  // namespace

QImage NewLargeImage(QSize size, QImage::Format format)
{
    const qsizetype bytesPerLine = PackedBytesPerLine(size, format);
    const std::size_t bytes = static_cast<std::size_t>(bytesPerLine) * static_cast<std::size_t>(size.height());
    if (bytesPerLine == 0 || bytes < kLargeFrom)
        return QImage(size, format);
    Mapping* mapping = MapLarge(bytes);
    if (!mapping)
        return QImage(size, format);
    return QImage(static_cast<uchar*>(mapping->base), size.width(), size.height(), bytesPerLine, format, &Unmap,
                  mapping);
}

void AdviseLargePages(QPaintDevice* device)
{
    if (!device || device->devType() != QInternal::Image)
        return;
    const auto* image = static_cast<const QImage*>(device);
    const auto start = reinterpret_cast<std::uintptr_t>(image->constBits());
    const auto length = static_cast<std::size_t>(image->sizeInBytes());
    // The stores of the last few window sizes (a store is reallocated when its window is resized).
    static std::deque<std::pair<std::uintptr_t, std::size_t>> advised;
    const std::pair<std::uintptr_t, std::size_t> store{start, length};
    for (const auto& a : advised)
        if (a == store)
            return;
    advised.push_front(store);
    if (advised.size() > 8)
        advised.pop_back();
    // From the first large page that starts inside the picture to the one its end lies in: an
    // allocation this large is a mapping of its own, which usually runs on to that page's end. The
    // advice changes no byte: at worst a neighbour sharing that last large page gets large pages too.
    const std::uintptr_t from = (start + kLargePage - 1) / kLargePage * kLargePage;
    const std::uintptr_t to = (start + length + kLargePage - 1) / kLargePage * kLargePage;
    if (to <= from)
        return;
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);  // refused where not possible
    madvise(reinterpret_cast<void*>(from), to - from, kCollapse);
#endif
}

QImage LargeImageCopy(const QImage& image)
{
    return CopyInto(NewLargeImage(image.size(), image.format()), image);
}

QImage NewPooledImage(QSize size, QImage::Format format)
{
    const qsizetype bytesPerLine = PackedBytesPerLine(size, format);
    const std::size_t bytes = static_cast<std::size_t>(bytesPerLine) * static_cast<std::size_t>(size.height());
    if (bytesPerLine == 0)
        return QImage(size, format);
    if (bytes > PicturePool::kLargest)
        return NewLargeImage(size, format);
    uchar* data = PicturePool::Instance().Take(bytes);
    if (!data)
        return QImage(size, format);
    return QImage(data, size.width(), size.height(), bytesPerLine, format, &PicturePool::Give, data);
}

QImage PooledImageCopy(const QImage& image)
{
    return CopyInto(NewPooledImage(image.size(), image.format()), image);
}

}  // namespace zelkor::widgets
