#pragma once
// Compound file (structured storage, version 3) holding streams in its root storage: a writer for
// one stream and a reader that finds one stream by name. Both work on whole in-memory images; the
// reader trusts nothing in the image.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace zelkor::output {

inline constexpr uint32_t kCfbSectorSize = 512;
inline constexpr uint32_t kCfbMiniSectorSize = 64;
inline constexpr uint32_t kCfbMiniStreamCutoff = 4096;

inline constexpr uint32_t kCfbMaxRegSect = 0xFFFFFFFAu;
inline constexpr uint32_t kCfbDifSect = 0xFFFFFFFCu;
inline constexpr uint32_t kCfbFatSect = 0xFFFFFFFDu;
inline constexpr uint32_t kCfbEndOfChain = 0xFFFFFFFEu;
inline constexpr uint32_t kCfbFreeSect = 0xFFFFFFFFu;
inline constexpr uint32_t kCfbNoStream = 0xFFFFFFFFu;

// The eight bytes every compound file starts with.
inline constexpr uint8_t kCfbSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

bool HasCompoundFileSignature(std::span<const uint8_t> image);

// A complete compound file whose root storage holds exactly one stream of this name (at most 31
// UTF-16 units) and content. A stream below the cutoff goes to the mini stream.
std::vector<uint8_t> BuildCompoundFile(std::u16string_view streamName, std::span<const uint8_t> content);

// The content of the stream of that name (compared without regard to ASCII case) in the root
// storage; nothing when the image is not a sound compound file or holds no such stream. An image
// that ends inside its last sector reads as if that sector were filled up with zeros.
std::optional<std::vector<uint8_t>> ReadCompoundStream(std::span<const uint8_t> image,
                                                       std::u16string_view streamName);

}  // namespace zelkor::output
