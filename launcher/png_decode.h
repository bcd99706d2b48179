#pragma once
// PNG decoding of the menu pictures, straight through libpng. Plain C++: the bytes come in, RGBA
// pixels come out, or nothing when the data are not a PNG we can use.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zelkor::launcher {

struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // rows top to bottom, 4 bytes a pixel (R, G, B, A), no padding
};

// Pictures beyond this many pixels a side are refused rather than allocated.
inline constexpr std::uint32_t kMaxPngSide = 8192;

std::optional<RgbaImage> DecodePng(std::span<const std::uint8_t> bytes);

}  // namespace zelkor::launcher
