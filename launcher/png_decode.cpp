#include "png_decode.h"

#include <png.h>

#include <cstring>

namespace zelkor::launcher {

std::optional<RgbaImage> DecodePng(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty()) return std::nullopt;

    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) == 0) {
        png_image_free(&image);
        return std::nullopt;
    }
    if (image.width == 0 || image.height == 0 || image.width > kMaxPngSide || image.height > kMaxPngSide) {
        png_image_free(&image);
        return std::nullopt;
    }

    image.format = PNG_FORMAT_RGBA;
    RgbaImage out;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.pixels.resize(PNG_IMAGE_SIZE(image));
    // Row stride 0: rows packed, as RgbaImage promises. finish_read frees the image on return.
    if (png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr) == 0) {
        png_image_free(&image);
        return std::nullopt;
    }
    if (PNG_IMAGE_FAILED(image)) return std::nullopt;
    return out;
}

}  // namespace zelkor::launcher
