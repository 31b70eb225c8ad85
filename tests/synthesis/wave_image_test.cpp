#include "synthesis/wave_image.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "core/runtime_error.h"

namespace zel {
namespace {

constexpr int32_t kRate = 22050;
constexpr int32_t kOneSecond = 44100;
constexpr int16_t kMark = 7;  // in elements that must stay unwritten

WaveImage MarkedImage() {
    WaveImage image = MakeWaveImage();
    for (int32_t k = 1; k <= kWaveImageLength; ++k) image.At(k, "") = kMark;
    return image;
}

// A table of ones turns each sample into Amplitude x gain: the envelope itself.
ToneTable Ones() {
    ToneTable table = MakeToneTable();
    for (int32_t k = 1; k <= kToneTableLength; ++k) table.At(k, "") = 1.0f;
    return table;
}

int16_t Sample(const WaveImage& image, int32_t j) {
    return image.At(22 + j, "");
}

// The first sample at full level is R, the ramp length.
int32_t RampLength(float frequency) {
    WaveHeader header;
    WaveImage image = MakeWaveImage();
    MakePulsedTone(header, image, frequency, kOneSecond, 1000, Ones(), kRate);
    int32_t j = 1;
    while (Sample(image, j) != 1000) ++j;
    return j;
}

ErrorKind KindRaisedBy(WaveImage& image, float frequency, int32_t datasize, int16_t amplitude,
                       const ToneTable& table) {
    WaveHeader header;
    try {
        MakePulsedTone(header, image, frequency, datasize, amplitude, table, kRate);
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Where(), "MakePulsedTone");
        return error.Kind();
    }
    ADD_FAILURE() << "no run-time error raised";
    return ErrorKind::TypeMismatch;
}

// One second at 1000 Hz, peak 32,000, from the 1000 Hz table, written over `image`.
WaveImage Tone1000(WaveImage image) {
    ToneTables tables;
    MakeSineBuffers(tables, 1000.0f, 1000.0f, 0.0f, kRate);
    WaveHeader header;
    MakePulsedTone(header, image, 1000.0f, kOneSecond, 32000, tables.StandardTable, kRate);
    return image;
}

TEST(MakePulsedTone, OneSecondAt1000HzMatchesTheWorkedValues) {
    const WaveImage image = Tone1000(MarkedImage());

    const uint8_t expectedHeader[44] = {
        0x52, 0x49, 0x46, 0x46, 0x68, 0xAC, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6D, 0x74,
        0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x22, 0x56, 0x00, 0x00, 0x44, 0xAC,
        0x00, 0x00, 0x02, 0x00, 0x10, 0x00, 0x64, 0x61, 0x74, 0x61, 0x44, 0xAC, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(image.Data(), expectedHeader, 44), 0);
    EXPECT_EQ(Sample(image, 1), 20);
    EXPECT_EQ(Sample(image, 2), 78);
    EXPECT_EQ(Sample(image, 3), 164);
    EXPECT_EQ(Sample(image, 1000), 30954);
    EXPECT_EQ(Sample(image, 22050), 0);
    for (int32_t k = 22073; k <= kWaveImageLength; ++k) ASSERT_EQ(image.At(k, ""), kMark) << k;
}

TEST(MakePulsedTone, GoldenImageOf1000HzTonePinsEveryByte) {
    const WaveImage image = Tone1000(MakeWaveImage());
    const auto* bytes = reinterpret_cast<const char*>(image.Data());
    const std::string path = ZEL_TEST_DATA_DIR "/tone-1000hz-32000.wav";
    if (std::getenv("ZEL_UPDATE_GOLDEN") != nullptr) {
        std::ofstream(path, std::ios::binary).write(bytes, image.ByteSize());
    }
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> golden{std::istreambuf_iterator<char>(file), {}};
    ASSERT_EQ(golden.size(), 65532u) << path;
    EXPECT_EQ(std::memcmp(golden.data(), bytes, golden.size()), 0);
}

TEST(MakePulsedTone, EnvelopeRampsTwentyPeriodsUpAndDown) {
    WaveHeader header;
    WaveImage image = MakeWaveImage();
    MakePulsedTone(header, image, 1000.0f, kOneSecond, 440, Ones(), kRate);  // R = 440
    for (int32_t j = 1; j < 440; ++j) ASSERT_EQ(Sample(image, j), j) << j;
    for (int32_t j = 440; j <= 22050 - 440; ++j) ASSERT_EQ(Sample(image, j), 440) << j;
    for (int32_t j = 22050 - 439; j <= 22050; ++j) ASSERT_EQ(Sample(image, j), 22050 - j) << j;
}

TEST(MakePulsedTone, PeriodHalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(RampLength(1000.0f), 440);  // 22.05 -> 22
    EXPECT_EQ(RampLength(4000.0f), 120);  // 5.5125 -> 6
    EXPECT_EQ(RampLength(2100.0f), 200);  // 10.5 -> 10
    EXPECT_EQ(RampLength(900.0f), 480);   // 24.5 -> 24
    EXPECT_EQ(RampLength(4900.0f), 80);   // 4.5 -> 4
    EXPECT_EQ(RampLength(44100.0f), 1);   // 0.5 -> 0: no ramps at all
}

TEST(MakePulsedTone, ShortToneTakesTheOnsetGainThroughout) {
    WaveHeader header;
    WaveImage image = MakeWaveImage();
    MakePulsedTone(header, image, 1000.0f, 600, 440, Ones(), kRate);  // N = 300 < 2R
    for (int32_t j = 1; j <= 300; ++j) ASSERT_EQ(Sample(image, j), j) << j;
}

TEST(MakePulsedTone, OddDataSizeKeepsItsHeaderValueAndRoundsTheSampleCount) {
    for (const auto& [datasize, count] : {std::pair{45, 22}, std::pair{47, 24}}) {
        WaveHeader header;
        WaveImage image = MarkedImage();
        MakePulsedTone(header, image, 1000.0f, datasize, 440, Ones(), kRate);
        EXPECT_EQ(header.DataSize, datasize);
        EXPECT_EQ(header.RiffSize, datasize + 36);
        EXPECT_EQ(Sample(image, count), count);  // still in the onset ramp
        EXPECT_EQ(Sample(image, count + 1), kMark);
    }
}

TEST(MakePulsedTone, ErrorsStopWhereTheyArise) {
    const ToneTable ones = Ones();
    {
        WaveImage image = MarkedImage();  // frequency 0: nothing written
        EXPECT_EQ(KindRaisedBy(image, 0.0f, kOneSecond, 100, ones), ErrorKind::FloatingPointFault);
        EXPECT_EQ(image.At(1, ""), kMark);
    }
    {
        WaveImage image = MarkedImage();  // 32,768 samples do not fit a 16-bit counter
        EXPECT_EQ(KindRaisedBy(image, 1000.0f, 65536, 100, ones), ErrorKind::Overflow);
        EXPECT_EQ(image.At(1, ""), 0x4952);
        EXPECT_EQ(Sample(image, 1), kMark);
    }
    {
        WaveImage image = MarkedImage();  // 32,745 samples: the last one has no element
        EXPECT_EQ(KindRaisedBy(image, 1000.0f, 65490, 100, ones), ErrorKind::SubscriptOutOfRange);
        EXPECT_EQ(Sample(image, 32000), 100);
    }
    {
        WaveImage tooShort(1, 21);  // no room for the header
        EXPECT_EQ(KindRaisedBy(tooShort, 1000.0f, kOneSecond, 100, ones),
                  ErrorKind::SubscriptOutOfRange);
        EXPECT_EQ(tooShort.At(1, ""), 0);
    }
    {
        WaveImage image = MarkedImage();
        ToneTable minusOne = MakeToneTable();
        for (int32_t k = 1; k <= kToneTableLength; ++k) minusOne.At(k, "") = -1.0f;
        EXPECT_EQ(KindRaisedBy(image, 44100.0f, kOneSecond, -32768, minusOne),
                  ErrorKind::Overflow);  // +32,768
    }
}

}  // namespace
}  // namespace zel
