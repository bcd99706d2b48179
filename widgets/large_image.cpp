#include "large_image.h"

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
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

}  // namespace

QImage NewLargeImage(QSize size, QImage::Format format)
{
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    if (size.isEmpty() || depth != 32)
        return QImage(size, format);
    const qsizetype bytesPerLine = static_cast<qsizetype>(size.width()) * 4;
    const std::size_t bytes = static_cast<std::size_t>(bytesPerLine) * static_cast<std::size_t>(size.height());
    if (bytes < kLargeFrom)
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
    QImage copy = NewLargeImage(image.size(), image.format());
    if (copy.isNull() || copy.bytesPerLine() != image.bytesPerLine())
        return image.copy();
    std::memcpy(copy.bits(), image.constBits(), static_cast<std::size_t>(image.sizeInBytes()));
    return copy;
}

}  // namespace zelkor::widgets
