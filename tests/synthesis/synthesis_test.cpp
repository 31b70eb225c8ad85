#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "synthesis/calibration_tone.h"
#include "synthesis/tone_tables.h"
#include "synthesis/wave_image.h"

namespace zel {
namespace {

constexpr int32_t kRate = 22050;
constexpr int16_t kMark = 7;  // in elements that must stay unwritten

// Frequencies move down onto the grid of whole cycles in half a table. With the full circle taken
// as 6.28318 and element 1 one sample into the tone; the target's phase is narrowed to single at
// every step.
TEST(MakeSineBuffers, GridTablesAndPhaseMatchTheWorkedValues) {
    EXPECT_EQ(QuantiseFrequency(1000.0f, kRate), 998.66327f);  // 742 cycles, not 743
    ToneTables tables;
    MakeSineBuffers(tables, 1000.0f, 1000.0f, 5.0f, kRate);
    EXPECT_EQ(tables.StandardTable.At(1, ""), 0.28074533f);
    EXPECT_EQ(tables.StandardTable.At(2, ""), 0.53890878f);
    EXPECT_EQ(tables.TargetTable.At(1, ""), 0.28076479f);  // from the phase after one step
    float h = AdvancePhase(0.0f, 1, 0.05, kRate);
    EXPECT_EQ(h, 1.0000713f);
    h = AdvancePhase(h, 2, 0.05, kRate);
    EXPECT_EQ(h, 2.0002139f);
    for (int16_t i = 3; i <= 22050; ++i) h = AdvancePhase(h, i, 0.05, kRate);
    EXPECT_NEAR(h, 22049.957f, 0.001f);
}

// A mark that survives a call shows that the call did not write that table.
TEST(MakeSineBuffers, RebuildsATableOnAnyChangeOfItsArguments) {
    // The arguments, then the tables rebuilt: S(tandard), T(arget) or neither (-).
    const std::tuple<float, float, float, std::string> calls[] = {
        {1000, 1000, 5, "ST"}, {1000, 1000, 2, "-T"}, {1000, 1050, 2, "-T"}, {2000, 1050, 2, "S-"}};
    ToneTables tables;
    for (const auto& [standard, target, depth, built] : calls) {
        tables.StandardTable.At(7, "") = tables.TargetTable.At(7, "") = 9.0f;
        MakeSineBuffers(tables, standard, target, depth, kRate);
        const std::string rebuilt{tables.StandardTable.At(7, "") != 9.0f ? 'S' : '-',
                                  tables.TargetTable.At(7, "") != 9.0f ? 'T' : '-'};
        EXPECT_EQ(rebuilt, built) << standard << " " << target << " " << depth;
    }
}

// A tone over an image of marks; when flat, from a table of ones: the samples are the envelope.
WaveImage Tone(float frequency, int32_t datasize, int16_t amplitude, bool flat = false) {
    ToneTables tables;
    MakeSineBuffers(tables, frequency, frequency, 0.0f, kRate);
    if (flat) std::fill_n(tables.StandardTable.Data(), kToneTableLength, 1.0f);
    WaveImage image = MakeWaveImage();
    for (int32_t k = 1; k <= kWaveImageLength; ++k) image.At(k, "") = kMark;
    WaveHeader header;
    MakePulsedTone(header, image, frequency, datasize, amplitude, tables.StandardTable, kRate);
    return image;
}

int16_t Sample(const WaveImage& image, int32_t j) {
    return image.At(22 + j, "");
}

// The golden file holds the 44 header bytes and one second at 1000 Hz, peak 32,000.
TEST(MakePulsedTone, OneSecondAt1000HzIsTheGoldenImageWithTheTailUntouched) {
    const WaveImage image = Tone(1000.0f, 44100, 32000);
    std::ifstream file(ZEL_TEST_DATA_DIR "/tone-1000hz-32000.wav", std::ios::binary);
    const std::vector<char> golden{std::istreambuf_iterator<char>(file), {}};
    ASSERT_EQ(golden.size(), image.ByteSize());
    EXPECT_EQ(std::memcmp(golden.data(), image.Data(), kWaveHeaderBytes + 44100), 0);
    for (int32_t j = 22051; 22 + j <= kWaveImageLength; ++j) ASSERT_EQ(Sample(image, j), kMark);
}

TEST(MakePulsedTone, PeriodAndSampleCountHalvesGoToTheEvenNeighbour) {
    // Periods 5.5125, 10.5 and 0.5: full level from the end of 20 periods.
    for (const auto& [frequency, ramp] : {std::pair{4000.0f, 120}, {2100.0f, 200}, {44100.0f, 1}}) {
        const WaveImage image = Tone(frequency, 44100, 1000, true);
        EXPECT_EQ(Sample(image, ramp), 1000) << frequency;
        EXPECT_TRUE(ramp == 1 || Sample(image, ramp - 1) < 1000) << frequency;
    }
    // Data size / 2 samples: 22.5 -> 22 and 23.5 -> 24.
    for (const auto& [datasize, count] : {std::pair{45, 22}, {47, 24}}) {
        const WaveImage image = Tone(1000.0f, datasize, 440, true);
        EXPECT_EQ(Sample(image, count), count);
        EXPECT_EQ(Sample(image, count + 1), kMark);
    }
}

// The calibration tone is the standard table's sine (period 11 samples), its phase running on
// past the table's end and over every block, faded in over 20 periods from its first sample and
// out to silence over as many.
TEST(CalibrationTone, TheStandardToneRunningOnBetweenFades) {
    ToneTables tables;
    MakeSineBuffers(tables, 2000.0f, 2000.0f, 0.0f, kRate);
    const auto sine = [f = QuantiseFrequency(2000.0f, kRate)](int32_t n) {
        return static_cast<float>(std::sin(n * 6.28318 * f / kRate));
    };
    CalibrationTone tone(2000.0f, 32000, kRate);
    std::vector<int16_t> made = tone.Next(1000), more = tone.Next(30000);
    made.insert(made.end(), more.begin(), more.end());
    for (int32_t n = 1; n <= 31000; ++n) {
        ASSERT_TRUE(n > kToneTableLength || sine(n) == tables.StandardTable.At(n, "")) << n;
        const double gain = n < 220 ? static_cast<float>(n / 220.0) : 1.0;
        ASSERT_EQ(made[n - 1], static_cast<int16_t>(std::nearbyint(32000 * gain * sine(n)))) << n;
    }
    const std::vector<int16_t> end = tone.End();
    ASSERT_EQ(end.size(), 220u);
    EXPECT_NEAR(end.front(), 32000 * sine(31001) * 219 / 220.0, 1.0);
    EXPECT_EQ(end.back(), 0);
}

}  // namespace
}  // namespace zel
