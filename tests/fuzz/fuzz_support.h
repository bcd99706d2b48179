#pragma once
// What the fuzz targets share: taking the input apart piece by piece, and stopping loudly when a
// property that must hold for any input does not.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

namespace zelkor::fuzz {

// A broken property is a finding like a sanitizer report: libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
}

inline void Require(bool ok, const char* what)
{
    if (!ok)
        Fail(what);
}

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

    bool Empty() const { return bytes_.empty(); }
    std::size_t Size() const { return bytes_.size(); }

    // The next byte, 0 once the input is used up.
    std::uint8_t Byte()
    {
        if (bytes_.empty())
            return 0;
        const std::uint8_t b = bytes_.front();
        bytes_ = bytes_.subspan(1);
        return b;
    }

    // Up to n bytes.
    std::span<const std::uint8_t> Take(std::size_t n)
    {
        const std::span<const std::uint8_t> part = bytes_.first(n < bytes_.size() ? n : bytes_.size());
        bytes_ = bytes_.subspan(part.size());
        return part;
    }

    std::span<const std::uint8_t> Rest() { return Take(bytes_.size()); }

    // The rest as UTF-16, decoded from UTF-8 without its checks, so that corpus files stay readable
    // markup and typed text while every code unit stays reachable: one to three byte sequences give
    // their code unit (lone surrogates included), four byte ones a surrogate pair, and a byte that
    // starts no sequence stands for itself.
    std::u16string RestAsUtf16()
    {
        std::u16string text;
        const std::span<const std::uint8_t> b = Rest();
        for (std::size_t i = 0; i < b.size();) {
            const std::uint8_t lead = b[i];
            const std::size_t length = lead >= 0xF0 && lead < 0xF8 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            bool whole = length > 1 && i + length <= b.size();
            for (std::size_t k = 1; whole && k < length; ++k)
                whole = (b[i + k] & 0xC0) == 0x80;
            if (!whole) {
                text.push_back(lead);
                ++i;
                continue;
            }
            std::uint32_t code = lead & (0x7Fu >> length);
            for (std::size_t k = 1; k < length; ++k)
                code = (code << 6) | (b[i + k] & 0x3Fu);
            if (code > 0xFFFF) {
                code = (code - 0x10000) & 0xFFFFF;
                text.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
                text.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
            } else {
                text.push_back(static_cast<char16_t>(code));
            }
            i += length;
        }
        return text;
    }

private:
    std::span<const std::uint8_t> bytes_;
};

}  // namespace zelkor::fuzz
