// zel-stimuli as a researcher runs it: the trials it prints, the images it writes for each setting,
// and its exit statuses.

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>
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
    EXPECT_TRUE(run.out.starts_with("trial=1 correct=1 standard_level=29832 target_level=17507\n"))
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

TEST(ZelStimuli, BadArgumentsGiveStatus2AndAFolderThatCannotBeWrittenStatus1) {
    const QTemporaryDir dir;
    const QString images = dir.filePath("images");
    for (const QString arguments :
         {"--frequency 300", "--frequency 1e3", "--step 0.3", "--step 5%", "--format fm",
          "--trials 0", "--trials 32768", "--trials 2.5", "--trials", "--loud", "extra",
          "--calibrate --trials 2", "--calibrate --step 1", "--list-outputs --play", "--output x",
          "--calibrate --port y"}) {
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
