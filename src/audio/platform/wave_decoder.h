#pragma once

// Decodes an in-memory RIFF/WAVE file image into 16-bit samples, for the sound player.

#include <cstdint>
#include <optional>
#include <vector>

namespace zel {

struct DecodedSound {
    int32_t sampleRate = 0;
    int32_t channels = 0;
    std::vector<int16_t> samples;  // interleaved, channels per frame

    std::size_t Frames() const { return samples.size() / static_cast<std::size_t>(channels); }
};

// Limits beyond which an image is refused rather than played.
constexpr int32_t kMaxChannels = 32;
constexpr int32_t kMaxSampleRate = 384000;
constexpr std::size_t kMaxSamples = std::size_t{1} << 24;

// The sound of a RIFF/WAVE image (any sample encoding the decoder knows, converted to 16-bit),
// or nothing when the bytes are not such an image, are damaged, or exceed the limits above.
// Reads only the `byteCount` bytes at `image`.
std::optional<DecodedSound> DecodeWaveImage(const void* image, int32_t byteCount);

}  // namespace zel
