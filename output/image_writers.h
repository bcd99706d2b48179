#pragma once
// Image file writers for window snapshots: BMP and icon/cursor files of our own, PNG through libpng,
// JPEG through libjpeg. Plain C++, no Qt, so they are tested on their own.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor::output {

// 8-bit RGBA pixels (R, G, B, A in that byte order, alpha not premultiplied), rows top to bottom,
// `stride` bytes from one row to the next (at least 4 * width).
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::size_t stride = 0;
    std::vector<std::uint8_t> bytes;

    // An image of this size filled with one colour.
    static RgbaImage Filled(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b,
                            std::uint8_t a = 255);
    const std::uint8_t* Row(int y) const { return bytes.data() + static_cast<std::size_t>(y) * stride; }
    std::uint8_t* Row(int y) { return bytes.data() + static_cast<std::size_t>(y) * stride; }
    // True when the sizes are positive and `bytes` holds every row.
    bool IsValid() const;
};

enum class ImageFormat { None, Bmp, Jpeg, Png, Icon, Cursor };

// The format a snapshot file name asks for: the text after the last "." of the whole path (so a "."
// in a folder name counts when the file name has none), lower-cased, judged by its first three
// characters: bmp; jpg, jpe, jfi; png; ico; cur. Anything else, or no ".", is None.
ImageFormat FormatFromFileName(std::string_view path);

struct WriteResult {
    bool ok = true;
    std::string error;  // for the user when !ok (UTF-8)

    static WriteResult Failure(std::string text) { return {false, std::move(text)}; }
};

inline constexpr int kJpegQuality = 90;
// Icon and cursor files cannot hold more than this many pixels either way.
inline constexpr int kMaxIconSide = 256;

// Each writer creates or replaces the file. On failure the error says why, and a regular file the
// writer created or truncated is removed again, so no half-written picture stays behind.
WriteResult WriteBmp(const RgbaImage& image, const std::filesystem::path& path);   // 24-bit, bottom-up
WriteResult WritePng(const RgbaImage& image, const std::filesystem::path& path);   // RGB, or RGBA if any pixel is translucent
WriteResult WriteJpeg(const RgbaImage& image, const std::filesystem::path& path);  // baseline, quality 90
// One 32-bit image entry (BGRA with an AND mask where alpha is 0); larger images are scaled down to
// fit 256 x 256 keeping their aspect ratio. A cursor has its hotspot at the top-left pixel.
WriteResult WriteIcon(const RgbaImage& image, const std::filesystem::path& path, bool cursor = false);

// Writes `image` in `format`; None writes nothing and reports success.
WriteResult WriteImage(const RgbaImage& image, const std::filesystem::path& path, ImageFormat format);

// Area-averaging reduction to fit within maxSide x maxSide, keeping the aspect ratio (each side at
// least 1 pixel). An image that already fits is returned unchanged.
RgbaImage ScaleDownToFit(const RgbaImage& image, int maxSide);

}  // namespace zelkor::output
