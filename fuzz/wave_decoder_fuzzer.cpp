// Fuzzes the player's decoding of in-memory wave images: any bytes, up to the largest image the
// program plays, decode or are refused without reading outside them.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/platform/wave_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size > 65535) return 0;
    // A private copy of exactly the input's size, so any over-read hits the sanitizer.
    const std::vector<uint8_t> image(data, data + size);
    const auto sound = zel::DecodeWaveImage(image.data(), static_cast<int32_t>(image.size()));
    if (sound && (sound->channels < 1 || sound->samples.size() % sound->channels != 0))
        __builtin_trap();
    return 0;
}
