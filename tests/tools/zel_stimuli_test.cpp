// zel-stimuli as a researcher runs it: the trials it prints, the images it writes for each setting,
// and its exit statuses.

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>
#include <cmath>
#include <complex>
#include <cstring>
#include <fstream>

#include "support/process.h"
#include "synthesis/tone_tables.h"
#include "synthesis/wave_image.h"

namespace zel {
namespace {

TEST(ZelStimuli, TrialsAreTheSameForEveryStart) {
    // The generator's first draws: 0.8147 (target first), 0.1355 and 0.9058 for the levels.
    const testing::Outcome run = testing::Run({ZEL_STIMULI, "--trials", "3"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(
        run.out.starts_with("trial=1 correct=1 standard_level=29832 target_level=17507 "
                            "standard_hz=998.662 target_hz=1049.807\n"))
        << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 3);
    EXPECT_EQ(run.err, "");
}

// The first trial's target image (it comes first), as every frequency, step in any decimal
// spelling, and format chooses it.
TEST(ZelStimuli, OptionsChooseTheTarget) {
    const QTemporaryDir dir;
    for (const bool modulation : {false, true}) {
        for (const int base : {500, 1000, 2000, 4000, 8000}) {
            for (const QString step : {"0.1", "0.20", ".25", "0.5", "1", "2.0", "5.00"}) {
                const double percent = step.toDouble();
                const testing::Outcome run = testing::Run(
                    {ZEL_STIMULI, "--frequency", QString::number(base), "--step", step, "--format",
                     modulation ? "modulation" : "difference", "--write", dir.path()});
                ASSERT_EQ(run.status, 0) << run.err;
                const auto target = static_cast<float>(base * (modulation ? 1 : 1 + percent / 100));
                ToneTables tables;
                MakeSineBuffers(tables, static_cast<float>(base), target,
                                static_cast<float>(modulation ? percent : 0), 22050);
                WaveHeader header;
                WaveImage image = MakeWaveImage();
                MakePulsedTone(header, image, target, 44100, 17507, tables.TargetTable, 22050);
                EXPECT_TRUE(
                    testing::ReadFile(dir.filePath("trial-1-first.wav")) ==
                    std::string(reinterpret_cast<const char*>(image.Data()), image.ByteSize()))
                    << base << " Hz, " << step.toStdString() << " %, modulation " << modulation;
            }
        }
    }
}

// The frequency of the tone in a one-second image at 22,050 Hz, to well under 0.01 Hz: where the
// magnitude of a Hann-windowed transform of its steady middle peaks, searched within 0.5 Hz of
// `near`.
double Measured(const std::string& image, double near) {
    std::vector<double> sound(17640);  // from 0.1 s on, clear of the onset ramp
    for (std::size_t n = 0; n < sound.size(); ++n) {
        int16_t sample = 0;
        std::memcpy(&sample, image.data() + 44 + 2 * (n + 2205), 2);
        sound[n] = sample * (1 - std::cos(2 * M_PI * n / sound.size()));
    }
    const auto magnitude = [&](double f) {
        const std::complex<double> step = std::polar(1.0, -2 * M_PI * f / 22050);
        std::complex<double> turn = 1, sum = 0;
        for (const double v : sound) {
            sum += v * turn;
            turn *= step;
        }
        return std::abs(sum);
    };
    double low = near - 0.5, high = near + 0.5;
    while (high - low > 1e-5) {
        const double a = low + (high - low) * 0.382, b = high - (high - low) * 0.382;
        const bool rising = magnitude(a) < magnitude(b);
        (rising ? low : high) = rising ? a : b;
    }
    return (low + high) / 2;
}

// Over the 35 frequency-difference settings: the frequencies printed are those measured in the
// images, the one setting whose two tones are the same is refused for playing and warned of
// otherwise, and the table of what is played in the README and the manual page is this one.
TEST(ZelStimuli, TheFrequenciesPlayedAreSaid) {
    const QTemporaryDir dir;
    std::string readme, manual;
    for (const int base : {500, 1000, 2000, 4000, 8000}) {
        for (const QString step : {"0.1", "0.2", "0.25", "0.5", "1.0", "2.0", "5.0"}) {
            SCOPED_TRACE(std::to_string(base) + " Hz, " + step.toStdString() + " %");
            const QStringList chosen{"--frequency", QString::number(base), "--step", step};
            const testing::Outcome run =
                testing::Run(QStringList{ZEL_STIMULI, "--write", dir.path()} + chosen);
            double standard = 0, target = 0;
            int correct = 0;
            ASSERT_EQ(std::sscanf(run.out.c_str(),
                                  "trial=1 correct=%d %*s %*s standard_hz=%lf "
                                  "target_hz=%lf",
                                  &correct, &standard, &target),
                      3)
                << run.out;
            const std::string first = testing::ReadFile(dir.filePath("trial-1-first.wav"));
            const std::string second = testing::ReadFile(dir.filePath("trial-1-second.wav"));
            EXPECT_NEAR(Measured(correct == 1 ? second : first, standard), standard, 0.01);
            EXPECT_NEAR(Measured(correct == 1 ? first : second, target), target, 0.01);
            const bool same = standard == target;
            EXPECT_EQ(run.err.empty(), !same) << run.err;
            const testing::Outcome played =
                testing::Run(QStringList{"env", "ZEL_SOUND=alsa", "ALSA_CONFIG_PATH=/nonexistent",
                                         ZEL_STIMULI, "--play"} +
                             chosen);
            EXPECT_EQ(played.status, same ? 2 : 1) << played.err;
            EXPECT_EQ(testing::Has(played.err, "the two tones would be the same"), same);

            char row[160];
            const double percent = (target / standard - 1) * 100;
            std::snprintf(row, sizeof row, "| %d Hz | %s %% | %.3f Hz | %.3f Hz | %.3f %%%s |\n",
                          base, qPrintable(step), standard, target, percent,
                          same ? ": the same tone, refused" : "");
            readme += row;
            std::snprintf(row, sizeof row, "%5d Hz  %-4s %%  %9.3f Hz  %9.3f Hz  %.3f %%%s\n", base,
                          qPrintable(step), standard, target, percent, same ? ", refused" : "");
            manual += row;
        }
    }
    EXPECT_TRUE(testing::Has(testing::ReadFile(ZEL_SOURCE_DIR "/README.md"), readme)) << readme;
    EXPECT_TRUE(testing::Has(testing::ReadFile(ZEL_SOURCE_DIR "/docs/man/zel-test.1.in"), manual))
        << manual;
}

TEST(ZelStimuli, BadArgumentsGiveStatus2AndAFolderThatCannotBeWrittenStatus1) {
    const QTemporaryDir dir;
    const QString images = dir.filePath("images");
    for (const QString arguments :
         {"--frequency 300", "--frequency 1e3", "--step 0.3", "--step 5%", "--format fm",
          "--trials 0", "--trials 32768", "--trials 2.5", "--trials", "--loud", "extra",
          "--calibrate --trials 2", "--calibrate --step 1", "--list-outputs --play", "--output x",
          "--calibrate --port y", "--settings-dir .", "--play --settings-dir /nonexistent"}) {
        const testing::Outcome run =
            testing::Run(QStringList{ZEL_STIMULI, "--write", images} + arguments.split(' '));
        EXPECT_EQ(run.status, 2) << arguments.toStdString();
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_FALSE(QFileInfo::exists(images)) << "nothing is written";
    }
    std::ofstream(dir.filePath("file").toStdString()) << "not a folder";
    const QString inFile = dir.filePath("file/images");
    const testing::Outcome run = testing::Run({ZEL_STIMULI, "--write", inFile});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(testing::Has(run.err, inFile.toStdString())) << run.err;
}

}  // namespace
}  // namespace zel
