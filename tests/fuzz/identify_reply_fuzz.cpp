// Any bytes as the sensor's reply to the identify command: only the one well-formed reply is taken,
// and its two version numbers are what its BCD digits say.
#include "device/sensor_protocol.h"
#include "fuzz_support.h"

using zelkor::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace zelkor::device;
    const auto versions = ParseIdentifyReply(data, size);
    const bool wellFormed = size == kIdentifyReplySize && data[1] == 0x03 && data[4] == kCommandIdentify && data[5] == 0x02;
    Require(versions.has_value() == wellFormed, "reply taken exactly when it is well formed");
    if (!versions)
        return 0;
    for (const auto& [version, byte] : {std::pair{versions->first, data[6]}, std::pair{versions->second, data[7]}}) {
        // Nibbles above 9 are no BCD digits but still give a number: tens and units of at most 15.
        Require(version >= 0.0f && version <= 16.5f, "version within the range of two nibbles");
        Require(version == static_cast<float>((byte >> 4) * 10 + (byte & 0x0F)) / 10.0f, "version from its digits");
    }
    return 0;
}
