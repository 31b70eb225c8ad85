#pragma once

// One pulsed tone as a complete in-memory RIFF/WAVE image: a 44-byte header for 16-bit PCM, then
// the samples of the tone table scaled to a peak level under linear onset and offset ramps of
// twenty periods each.

#include <array>
#include <cstdint>

#include "core/indexed_array.h"
#include "synthesis/tone_tables.h"

namespace zel {

constexpr int32_t kWaveImageLength = 32766;
constexpr int32_t kWaveHeaderBytes = 44;

// Read as bytes from element 1 (element k holds bytes 2k-2 low and 2k-1 high): header in
// elements 1 to 22, samples from element 23. The header's data size says how much is sound.
using WaveImage = IndexedArray<int16_t>;

inline WaveImage MakeWaveImage() {
    return WaveImage(1, kWaveImageLength);
}

// The header record, field for field in the order of its packed little-endian form.
struct WaveHeader {
    std::array<char, 4> RiffId{};
    int32_t RiffSize = 0;  // bytes after this field up to the first sample, plus the data
    std::array<char, 4> WaveId{};
    std::array<char, 4> FmtId{};
    int32_t FmtSize = 0;
    int16_t FormatTag = 0;
    int16_t NumChannels = 0;
    int32_t SampleRate = 0;
    int32_t ByteRate = 0;
    int16_t BlockAlign = 0;
    int16_t BitsPerSample = 0;
    std::array<char, 4> DataId{};
    int32_t DataSize = 0;

    std::array<uint8_t, kWaveHeaderBytes> Pack() const;
};

// Fills every field for NumChannels channels of 16-bit PCM at SampleRate, both sizes 0.
void MakeRIFFheader(WaveHeader& header, const int16_t& NumChannels, int32_t SampleRate);

// Sets the data size, then the RIFF chunk size (data size + 36).
void SetDataSize(WaveHeader& header, const int32_t& Datasize);

// Writes the header and Datasize / 2 samples (ties to even) into Buffer; Frequency sets only the
// ramp length. Elements after the last sample are left as they were.
void MakePulsedTone(WaveHeader& header, WaveImage& Buffer, const float& Frequency,
                    const int32_t& Datasize, const int16_t& Amplitude, const ToneTable& SineBuffer,
                    int32_t SampleRate);

}  // namespace zel
