#include "testrun/zelmain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "core/runtime_error.h"
#include "fakes/fake_audio.h"
#include "fakes/recording_window.h"
#include "fakes/scripted_random.h"

namespace zel {
namespace {

using testing::FakeAudio;
using testing::RecordingWindow;
using testing::ScriptedRandom;

class RecordingShell final : public ProgramShell {
  public:
    explicit RecordingShell(RecordingWindow& window) : window_(window) {}
    void ShowAboutBox() override { window_.log.push_back("ShowAboutBox"); }
    void EndProgram() override { window_.log.push_back("EndProgram"); }

  private:
    RecordingWindow& window_;
};

class ZelmainTest : public ::testing::Test {
  protected:
    ZelmainTest() { test.Form_Load(); }

    // Start with the given draws for the first trial (order, standard level, target level).
    void Start(float order, float standard, float target) {
        random.Add({order, standard, target});
        test.cmdStart_Click();
    }
    void AnswerFirst(float order, float standard, float target) {
        random.Add({order, standard, target});
        test.cmdResponseA_Click();
    }

    bool Enabled(CommandButton button) { return window.buttonEnabled[button]; }
    std::string Caption(Label label) { return window.captions[label]; }
    std::size_t LogIndex(const std::string& entry) {
        return std::find(window.log.begin(), window.log.end(), entry) - window.log.begin();
    }

    // The image the program should have built for a tone, made straight from the tables.
    WaveImage Expected(float frequency, int16_t level, const ToneTable& table) {
        WaveHeader header;
        WaveImage image = MakeWaveImage();
        MakePulsedTone(header, image, frequency, 44100, level, table, 22050);
        return image;
    }

    RecordingWindow window;
    FakeAudio audio{window};
    RecordingShell shell{window};
    ScriptedRandom random;
    Zelmain test{window, audio, shell, random};
};

TEST_F(ZelmainTest, LoadEnablesOnlyStartThenExaminesSoundThenSetsDefaults) {
    EXPECT_TRUE(Enabled(CommandButton::cmdStart));
    EXPECT_FALSE(Enabled(CommandButton::cmdResponseA));
    EXPECT_FALSE(Enabled(CommandButton::cmdResponseB));
    EXPECT_FALSE(Enabled(CommandButton::cmdFinish));
    EXPECT_EQ(LogIndex("InitialiseAudio"), 4u);  // after the four buttons
    const TrialSettings& s = test.Settings();
    EXPECT_EQ(s.BaseFrequency, 1000.0f);
    EXPECT_EQ(s.FrequencyIndex, 1);
    EXPECT_EQ(s.StepPercent, 5.0f);
    EXPECT_EQ(s.StepIndex, 6);
    EXPECT_EQ(s.TestFormat, 0);
    EXPECT_EQ(s.SampleRate, 22050);
    EXPECT_EQ(s.TargetFrequency, 0.0f);
    EXPECT_TRUE(window.captions.empty());  // both counts blank until the first Start
    EXPECT_EQ(test.State(), TrialState::Idle);
}

TEST_F(ZelmainTest, FormatHandlerRetitlesTheStepFrameAndKeepsTheStep) {
    test.optFrequencyDifference_Click(0);
    EXPECT_EQ(test.Settings().StepPercent, 0.1f);
    test.optTestFormat_Click(1);
    EXPECT_EQ(test.Settings().TestFormat, 1);
    EXPECT_EQ(window.frame4, "Frequency modulation");
    test.optTestFormat_Click(0);
    EXPECT_EQ(window.frame4, "Frequency difference");
    EXPECT_EQ(test.Settings().StepIndex, 0);

    EXPECT_THROW(test.optFrequency_Click(5), RuntimeError);
    EXPECT_THROW(test.optTestFormat_Click(-1), RuntimeError);
    EXPECT_EQ(test.Settings().TestFormat, 0);
}

// Every difference target is the exact decimal product (500.5, not 500.50003): evaluating in
// single precision step by step misses it at 0.1 % and 0.25 %.
TEST_F(ZelmainTest, TargetIsTheExactProductInEveryDifferenceSetting) {
    const int stepsInTenThousandths[] = {10, 20, 25, 50, 100, 200, 500};
    for (int16_t f = 0; f < 5; ++f) {
        for (int16_t s = 0; s < 7; ++s) {
            test.optFrequency_Click(f);
            test.optFrequencyDifference_Click(s);
            Start(0.5f, 0.5f, 0.5f);
            const double base = kBaseFrequencies[static_cast<std::size_t>(f)];
            const double exact = base * (10000 + stepsInTenThousandths[s]) / 10000;
            EXPECT_EQ(test.Settings().TargetFrequency, static_cast<float>(exact)) << base << s;
            EXPECT_EQ(test.Settings().ModulationPercent, 0.0f);
            test.cmdFinish_Click();
        }
    }
}

TEST_F(ZelmainTest, ModulationTargetKeepsTheBaseAndTakesTheStepAsDepth) {
    test.optFrequency_Click(3);
    test.optFrequencyDifference_Click(0);
    test.optTestFormat_Click(1);
    Start(0.5f, 0.5f, 0.5f);
    EXPECT_EQ(test.Settings().TargetFrequency, 4000.0f);
    EXPECT_EQ(test.Settings().ModulationPercent, 0.1f);
    EXPECT_EQ(Caption(Label::lblStatus), "Select modulated");
}

TEST_F(ZelmainTest, TrialPlaysTargetAndStandardInDrawnOrderAtDrawnLevels) {
    Start(0.75f, 0.25f, 0.5f);  // target first, 28,000 and 24,000
    EXPECT_EQ(test.CorrectInterval(), 1);
    EXPECT_EQ(test.StandardLevel(), 28000);
    EXPECT_EQ(test.TargetLevel(), 24000);
    ASSERT_EQ(audio.played.size(), 3u);
    EXPECT_EQ(audio.played[0], Expected(1050.0f, 24000, test.Tables().TargetTable));
    EXPECT_EQ(audio.played[1], Expected(1000.0f, 0, test.Tables().StandardTable));
    EXPECT_EQ(audio.played[2], Expected(1000.0f, 28000, test.Tables().StandardTable));

    AnswerFirst(0.5f, 0.25f, 0.5f);  // exactly 0.5: the standard comes first
    EXPECT_EQ(test.CorrectInterval(), 2);
    ASSERT_EQ(audio.played.size(), 6u);
    EXPECT_EQ(audio.played[3], Expected(1000.0f, 28000, test.Tables().StandardTable));
    EXPECT_EQ(audio.played[5], Expected(1050.0f, 24000, test.Tables().TargetTable));
}

TEST_F(ZelmainTest, LevelsRoundHalvesToEven) {
    Start(0.0f, 3.0f / 256, 1.0f / 256);  // 31,812.5 and 31,937.5
    EXPECT_EQ(test.StandardLevel(), 31812);
    EXPECT_EQ(test.TargetLevel(), 31938);
    AnswerFirst(0.0f, 0.0f, 1.0f - 0x1p-24f);
    EXPECT_EQ(test.StandardLevel(), 32000);
    EXPECT_EQ(test.TargetLevel(), 16000);
    EXPECT_EQ(random.drawn, 6);
}

TEST_F(ZelmainTest, ScreenIsUpToDateBeforeThePresentationBlocks) {
    Start(0.75f, 0.25f, 0.5f);
    const std::size_t firstPlay = LogIndex("play");
    EXPECT_LT(LogIndex("disable cmdStart"), firstPlay);
    EXPECT_LT(LogIndex("paint window"), firstPlay);  // the locked options
    EXPECT_LT(LogIndex("paint lblNumberCorrect=0"), firstPlay);
    EXPECT_LT(LogIndex("paint lblTrialNumber=0"), firstPlay);
    EXPECT_EQ(window.log.back(), "paint window");  // after the prompt and the buttons
    EXPECT_EQ(std::count(window.log.begin(), window.log.end(), "selected a disabled member"), 0);
}

TEST_F(ZelmainTest, ControlsFollowTheCycleThroughAnswersAndFinish) {
    test.optFrequency_Click(2);
    test.optFrequencyDifference_Click(2);
    test.optTestFormat_Click(1);
    window.selected.clear();
    Start(0.75f, 0.5f, 0.5f);
    EXPECT_EQ(test.State(), TrialState::AwaitingAnswer);
    EXPECT_FALSE(Enabled(CommandButton::cmdStart));
    EXPECT_TRUE(Enabled(CommandButton::cmdResponseA));
    EXPECT_TRUE(Enabled(CommandButton::cmdResponseB));
    EXPECT_TRUE(Enabled(CommandButton::cmdFinish));
    EXPECT_TRUE(window.AllOptionsEnabled(false));
    EXPECT_EQ(window.selected[OptionGroup::optFrequency], 2);
    EXPECT_EQ(window.selected[OptionGroup::optFrequencyDifference], 2);
    EXPECT_EQ(window.selected[OptionGroup::optTestFormat], 1);
    EXPECT_EQ(Caption(Label::lblStatus), "Select modulated");

    AnswerFirst(0.25f, 0.5f, 0.5f);                            // right: the target was first
    EXPECT_EQ(Caption(Label::lblStatus), "Select modulated");  // the next prompt is up
    EXPECT_EQ(Caption(Label::lblNumberCorrect), "1");
    EXPECT_EQ(Caption(Label::lblTrialNumber), "1");
    EXPECT_NE(std::find(window.log.begin(), window.log.end(), "paint lblNumberCorrect=1"),
              window.log.end());

    AnswerFirst(0.25f, 0.5f, 0.5f);  // wrong: the target was second
    EXPECT_EQ(Caption(Label::lblNumberCorrect), "1");
    EXPECT_EQ(Caption(Label::lblTrialNumber), "2");
    EXPECT_EQ(audio.played.size(), 9u);

    test.cmdFinish_Click();
    EXPECT_EQ(test.State(), TrialState::Idle);
    EXPECT_EQ(Caption(Label::lblStatus), "");
    EXPECT_EQ(Caption(Label::lblNumberCorrect), "1");  // the final counts stay
    EXPECT_EQ(Caption(Label::lblTrialNumber), "2");
    EXPECT_TRUE(Enabled(CommandButton::cmdStart));
    EXPECT_FALSE(Enabled(CommandButton::cmdResponseA));
    EXPECT_FALSE(Enabled(CommandButton::cmdFinish));
    EXPECT_TRUE(window.AllOptionsEnabled(true));
    EXPECT_EQ(window.selected[OptionGroup::optFrequencyDifference], 2);
    EXPECT_EQ(test.Settings().BaseFrequency, 2000.0f);  // settings survive the run
}

TEST_F(ZelmainTest, StartAfterFinishResetsTheCountsAtOnceAndContinuesTheDraws) {
    Start(0.75f, 0.5f, 0.5f);
    AnswerFirst(0.75f, 0.5f, 0.5f);
    test.cmdFinish_Click();
    window.log.clear();
    Start(0.25f, 0.5f, 0.5f);
    // The counts show 0 before the tones; the status line stays empty until they have played.
    EXPECT_LT(LogIndex("paint lblNumberCorrect=0"), LogIndex("play"));
    // The prompt and the answer buttons only once the whole presentation has been played.
    EXPECT_LT(LogIndex("EndPresentation"), LogIndex("set lblStatus=Select higher"));
    EXPECT_LT(LogIndex("EndPresentation"), LogIndex("enable cmdResponseA"));
    EXPECT_EQ(LogIndex("set lblStatus="), window.log.size());
    EXPECT_EQ(random.drawn, 9);
}

TEST_F(ZelmainTest, The32768thAnswerOverflowsAndNoCountWraps) {
    Start(0.75f, 0.5f, 0.5f);
    test.Settings().NumberCorrect = 32766;
    test.Settings().TrialsCompleted = 32766;
    AnswerFirst(0.75f, 0.5f, 0.5f);
    EXPECT_EQ(Caption(Label::lblTrialNumber), "32767");
    EXPECT_EQ(Caption(Label::lblNumberCorrect), "32767");
    try {
        test.cmdResponseB_Click();  // wrong, so only the trial count would rise
        FAIL();
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Kind(), ErrorKind::Overflow);
    }
    EXPECT_EQ(test.Settings().TrialsCompleted, 32767);
    EXPECT_EQ(Caption(Label::lblTrialNumber), "32767");
}

TEST_F(ZelmainTest, ExitWritesTheMixerBackThenEndsWithoutAnotherTrial) {
    Start(0.75f, 0.5f, 0.5f);
    window.log.clear();
    test.mnuFileExit_Click();
    EXPECT_EQ(window.log, (std::vector<std::string>{"RestoreMixerLevels", "EndProgram"}));
    EXPECT_EQ(audio.played.size(), 3u);

    window.log.clear();
    test.mnuHelpAbout_Click();
    EXPECT_EQ(window.log, (std::vector<std::string>{"ShowAboutBox"}));
}

}  // namespace
}  // namespace zel
