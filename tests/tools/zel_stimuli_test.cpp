// Runs the zel-stimuli binary and checks what it prints and writes against images built directly
// from the documented settings.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "synthesis/wave_image.h"

namespace zel {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

class ZelStimuliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zel-stimuli-test-" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    Outcome Run(const std::string& arguments) {
        const std::string command = std::string(ZEL_STIMULI) + " " + arguments + " >" +
                                    (dir_ / "out").string() + " 2>" + (dir_ / "err").string();
        Outcome outcome;
        const int raw = std::system(command.c_str());
        outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        outcome.out = Slurp(dir_ / "out");
        outcome.err = Slurp(dir_ / "err");
        return outcome;
    }

    fs::path dir_;
};

TEST_F(ZelStimuliTest, FirstTrialIsTheFirstOfEveryProgramStart) {
    // The generator's first draws: 0.8147 (target first), 0.1355 and 0.9058 for the levels.
    const Outcome defaults = Run("--trials 3");
    ASSERT_EQ(defaults.status, 0) << defaults.err;
    EXPECT_EQ(defaults.out.substr(0, defaults.out.find('\n')),
              "trial=1 correct=1 standard_level=29832 target_level=17507");
    EXPECT_EQ(std::count(defaults.out.begin(), defaults.out.end(), '\n'), 3);
    EXPECT_EQ(defaults.err, "");
    // Order and levels do not depend on the settings.
    EXPECT_EQ(Run("--frequency 500 --step 0.1 --format modulation --trials 3").out, defaults.out);
    EXPECT_EQ(Run("--step 1").out, Run("--step 1.0").out);
}

TEST_F(ZelStimuliTest, BadArgumentsAreOneLineStatus2AndWriteNothing) {
    const char* cases[] = {"--frequency 300", "--frequency 1e3", "--step 0.3",     "--step 5%",
                           "--format fm",     "--trials 0",      "--trials 32768", "--trials 2.5",
                           "--trials",        "--loud",          "extra"};
    for (const char* arguments : cases) {
        const fs::path target = dir_ / "images";
        const Outcome outcome = Run(std::string(arguments) + " --write " + target.string());
        EXPECT_EQ(outcome.status, 2) << arguments;
        EXPECT_EQ(outcome.out, "") << arguments;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
        EXPECT_FALSE(fs::exists(target)) << arguments;
    }
    EXPECT_NE(Run("--step 0.3").err.find("0.1, 0.2, 0.25, 0.5, 1.0, 2.0, 5.0"), std::string::npos);
}

TEST_F(ZelStimuliTest, UnwritableDirectoryIsNamedWithStatus1) {
    std::ofstream(dir_ / "file") << "not a directory";
    const fs::path target = dir_ / "file" / "images";
    const Outcome outcome = Run("--write " + target.string());
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find(target.string()), std::string::npos) << outcome.err;
}

// What a listener must hear for one setting: the tables built from the exact target, and for
// each trial the standard and target images at the printed levels in the printed order.
void ExpectImagesAsDocumented(const fs::path& dir, float base, int stepTenThousandths,
                              bool modulation, const std::string& printed) {
    const float step = static_cast<float>(stepTenThousandths / 100.0);
    const float target =
        modulation ? base : static_cast<float>(base * (10000.0 + stepTenThousandths) / 10000.0);
    ToneTables tables;
    MakeSineBuffers(tables, base, target, modulation ? step : 0.0f, 22050);

    std::istringstream lines(printed);
    int trial = 0, correct = 0, standardLevel = 0, targetLevel = 0;
    std::string line;
    while (std::getline(lines, line)) {
        ASSERT_EQ(std::sscanf(line.c_str(), "trial=%d correct=%d standard_level=%d target_level=%d",
                              &trial, &correct, &standardLevel, &targetLevel),
                  4)
            << line;
        const auto build = [&](float frequency, int level, const ToneTable& table) {
            WaveHeader header;
            WaveImage image = MakeWaveImage();
            MakePulsedTone(header, image, frequency, 44100, static_cast<int16_t>(level), table,
                           22050);
            return std::string(reinterpret_cast<const char*>(image.Data()), image.ByteSize());
        };
        const std::string standard = build(base, standardLevel, tables.StandardTable);
        const std::string targetTone = build(target, targetLevel, tables.TargetTable);
        const std::string prefix = (dir / ("trial-" + std::to_string(trial) + "-")).string();
        const auto where = ::testing::Message() << base << " Hz, " << step << " %, trial " << trial;
        ASSERT_TRUE(correct == 1 || correct == 2) << where;
        EXPECT_TRUE(Slurp(prefix + "first.wav") == (correct == 1 ? targetTone : standard)) << where;
        EXPECT_TRUE(Slurp(prefix + "second.wav") == (correct == 1 ? standard : targetTone))
            << where;
        EXPECT_TRUE(Slurp(prefix + "silence.wav") == build(base, 0, tables.StandardTable)) << where;
    }
    EXPECT_EQ(trial, 2);
}

TEST_F(ZelStimuliTest, WritesByteExactImagesForAllSeventySettings) {
    const int bases[] = {500, 1000, 2000, 4000, 8000};
    const std::pair<const char*, int> steps[] = {{"0.1", 10}, {"0.2", 20},  {"0.25", 25},
                                                 {"0.5", 50}, {"1.0", 100}, {"2.0", 200},
                                                 {"5.0", 500}};
    for (const char* format : {"difference", "modulation"}) {
        for (int base : bases) {
            for (const auto& [stepText, tenThousandths] : steps) {
                const fs::path images = dir_ / "images";
                fs::remove_all(images);
                const Outcome outcome =
                    Run("--frequency " + std::to_string(base) + " --step " + stepText +
                        " --format " + format + " --trials 2 --write " + images.string());
                ASSERT_EQ(outcome.status, 0) << outcome.err;
                ExpectImagesAsDocumented(images, static_cast<float>(base), tenThousandths,
                                         std::string(format) == "modulation", outcome.out);
            }
        }
    }
}

TEST_F(ZelStimuliTest, WrittenImageReadsBackAsOneSecondOf16BitMono) {
    ASSERT_EQ(Run("--write " + dir_.string()).status, 0);
    const std::string bytes = Slurp(dir_ / "trial-1-first.wav");
    ASSERT_EQ(bytes.size(), 65532u);

    SF_INFO info{};
    SNDFILE* file = sf_open((dir_ / "trial-1-first.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.frames, 22050);
    EXPECT_EQ(info.samplerate, 22050);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    std::vector<short> samples(22050);
    EXPECT_EQ(sf_read_short(file, samples.data(), 22050), 22050);
    sf_close(file);
    EXPECT_EQ(std::memcmp(samples.data(), bytes.data() + 44, 44100), 0);
    EXPECT_EQ(samples.back(), 0);  // the offset ramp ends at zero
}

}  // namespace
}  // namespace zel
