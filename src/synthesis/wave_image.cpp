#include "synthesis/wave_image.h"

#include <cstring>

#include "core/checked.h"
#include "synthesis/copy_bytes.h"

namespace zel {

namespace {

constexpr Where kRiffWhere = "MakeRIFFheader";
constexpr Where kSizeWhere = "SetDataSize";
constexpr Where kToneWhere = "MakePulsedTone";

constexpr std::array<char, 4> FourCC(const char (&text)[5]) {
    return {text[0], text[1], text[2], text[3]};
}

class LittleEndianWriter {
  public:
    explicit LittleEndianWriter(std::array<uint8_t, kWaveHeaderBytes>& bytes) : bytes_(bytes) {}

    void Text(const std::array<char, 4>& text) {
        for (char c : text) bytes_[at_++] = static_cast<uint8_t>(c);
    }
    void Int16(int16_t value) { Unsigned(static_cast<uint16_t>(value), 2); }
    void Int32(int32_t value) { Unsigned(static_cast<uint32_t>(value), 4); }

  private:
    void Unsigned(uint32_t value, int width) {
        for (int k = 0; k < width; ++k) bytes_[at_++] = static_cast<uint8_t>(value >> (8 * k));
    }

    std::array<uint8_t, kWaveHeaderBytes>& bytes_;
    std::size_t at_ = 0;
};

}  // namespace

std::array<uint8_t, kWaveHeaderBytes> WaveHeader::Pack() const {
    std::array<uint8_t, kWaveHeaderBytes> bytes{};
    LittleEndianWriter out(bytes);
    out.Text(RiffId);  // RIFF chunk: id, size, form type
    out.Int32(RiffSize);
    out.Text(WaveId);
    out.Text(FmtId);  // fmt chunk: id, size, format tag, channels, rate, byte rate, align, bits
    out.Int32(FmtSize);
    out.Int16(FormatTag);
    out.Int16(NumChannels);
    out.Int32(SampleRate);
    out.Int32(ByteRate);
    out.Int16(BlockAlign);
    out.Int16(BitsPerSample);
    out.Text(DataId);  // data chunk: id, size
    out.Int32(DataSize);
    return bytes;
}

void MakeRIFFheader(WaveHeader& header, const int16_t& NumChannels, int32_t SampleRate) {
    header.RiffId = FourCC("RIFF");
    header.RiffSize = 0;
    header.WaveId = FourCC("WAVE");
    header.FmtId = FourCC("fmt ");
    header.FmtSize = 16;
    header.FormatTag = 1;  // PCM
    header.NumChannels = NumChannels;
    header.SampleRate = SampleRate;
    header.ByteRate =
        CheckedMul32(CheckedMul32(NumChannels, SampleRate, kRiffWhere), 2, kRiffWhere);
    header.BitsPerSample = 16;
    header.BlockAlign = CheckedMul16(NumChannels, 2, kRiffWhere);
    header.DataId = FourCC("data");
    header.DataSize = 0;
}

void SetDataSize(WaveHeader& header, const int32_t& Datasize) {
    header.DataSize = Datasize;
    header.RiffSize = CheckedAdd32(Datasize, 36, kSizeWhere);
}

void MakePulsedTone(WaveHeader& header, WaveImage& Buffer, const float& Frequency,
                    const int32_t& Datasize, const int16_t& Amplitude, const ToneTable& SineBuffer,
                    int32_t SampleRate) {
    const int16_t period =
        RoundToInt16(CheckedDivide(SampleRate, Frequency, kToneWhere), kToneWhere);

    MakeRIFFheader(header, 1, SampleRate);
    SetDataSize(header, Datasize);

    // The header lands in elements 1 to 22: an image without them cannot take it.
    const int32_t headerElements = kWaveHeaderBytes / 2;
    if (!Buffer.Contains(headerElements)) {
        RaiseSubscriptOutOfRange(kToneWhere, headerElements, Buffer.Lower(), Buffer.Upper());
    }
    const auto packed = header.Pack();
    copy_bytes(packed.data(), &Buffer.At(1, kToneWhere), kWaveHeaderBytes);

    const int32_t samples = RoundToInt32(header.DataSize / 2.0, kToneWhere);
    // The sample counter is 16-bit, so the count must be too.
    if (samples > INT16_MAX) RaiseOverflow(kToneWhere);

    for (int32_t j = 1; j <= samples; ++j) {
        const int16_t ramp = CheckedMul16(20, period, kToneWhere);
        float gain = 1.0f;
        const int32_t remaining = CheckedSub32(samples, j, kToneWhere);
        if (j < ramp) {
            gain = ToSingle(static_cast<double>(j) / ramp, kToneWhere);
        } else if (remaining < ramp) {
            gain = ToSingle(static_cast<double>(remaining) / ramp, kToneWhere);
        }
        const double sample =
            (static_cast<double>(Amplitude) * gain) * SineBuffer.At(j, kToneWhere);
        Buffer.At(CheckedAdd32(headerElements, j, kToneWhere), kToneWhere) =
            RoundToInt16(sample, kToneWhere);
    }
}

}  // namespace zel
