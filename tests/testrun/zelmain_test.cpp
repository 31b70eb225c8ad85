#include "testrun/zelmain.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>

#include "core/runtime_error.h"
#include "fakes/fake_testrun.h"
#include "testrun/headless.h"

namespace zel {
namespace {

// The controls: buttons as S(tart), A, B, F(inish) or '-', the 14 options as '+' or '-', captions;
// and what the last repaints showed of them, as a presentation blocks the window.
struct RecordingWindow final : ZelmainWindow {
    void SetButtonEnabled(CommandButton b, bool on) override {
        buttons.at(static_cast<int>(b)) = on ? "SABF"[static_cast<int>(b)] : '-';
    }
    void SetOptionEnabled(OptionGroup group, int16_t i, bool on) override {
        options.at(std::array{0, 5, 12}[static_cast<std::size_t>(group)] + i) = on ? '+' : '-';
    }
    void SelectOption(OptionGroup, int16_t) override {}
    void SetLabelCaption(Label label, const std::string& text) override { captions[label] = text; }
    void SetFrame4Caption(const std::string&) override {}
    void RepaintLabel(Label label) override { painted[label] = captions[label]; }
    void RepaintWindow() override {
        painted = captions;
        paintedOptions = options;
    }
    std::string Counts() {
        return captions[Label::lblNumberCorrect] + "/" + captions[Label::lblTrialNumber];
    }

    std::string buttons = "----", options = std::string(14, '+'), paintedOptions;
    std::map<Label, std::string> captions, painted;
};

struct Rig {
    Rig() { logic.Form_Load(); }

    RecordingWindow window;
    testing::FakeAudio audio;
    testing::FedRandom random;
    HeadlessShell shell;
    Zelmain logic{window, audio, shell, random};
};

// The exact decimal product (500.5, not 500.50003, which single precision step by step gives at
// 0.1 %); modulation keeps the base and takes the step as its depth. The one setting whose two
// tones fall on the same point of the tables' grid does not start, and says why.
TEST(TrialCycle, TargetIsTheExactProductOrTheModulatedBase) {
    Rig rig;
    const int tenThousandths[] = {10, 20, 25, 50, 100, 200, 500};
    for (int16_t k = 0; k < 35; ++k) {
        rig.logic.optFrequency_Click(k / 7);
        rig.logic.optFrequencyDifference_Click(k % 7);
        rig.logic.cmdStart_Click();
        if (k == 0) {
            EXPECT_EQ(rig.shell.notices,
                      std::vector<std::string>{
                          "At 500 Hz a step of 0.1 % is finer than the program's frequency "
                          "resolution of 1.35 Hz: the two tones would be the same. Choose a larger "
                          "step."});
            EXPECT_EQ(rig.logic.State(), TrialState::Idle);
            EXPECT_EQ(rig.window.buttons, "S---");
            EXPECT_TRUE(rig.audio.played.empty());
            continue;
        }
        const double exact = kBaseFrequencies[k / 7] * (10000.0 + tenThousandths[k % 7]) / 10000;
        EXPECT_EQ(rig.logic.Settings().TargetFrequency, static_cast<float>(exact)) << exact;
    }
    rig.logic.optTestFormat_Click(kFrequencyModulation);  // 8000 Hz at 5 %
    rig.logic.cmdStart_Click();
    EXPECT_EQ(rig.logic.Settings().TargetFrequency, 8000.0f);
    EXPECT_EQ(rig.logic.Tables().LastModulationPercentage, 5.0f);
}

WaveImage Tone(float frequency, int16_t level, const ToneTable& table) {
    WaveHeader header;
    WaveImage image = MakeWaveImage();
    MakePulsedTone(header, image, frequency, 44100, level, table, 22050);
    return image;
}

// Draws: order (above 0.5: target first), then levels 32000 - 16000 x draw. The tones only queue
// and the presentation's end blocks: the prompt comes after it.
TEST(TrialCycle, EachTrialPlaysItsThreeDrawsInOrderBeforeThePrompt) {
    Rig rig;
    std::size_t ends = 0;
    rig.audio.onEnd = [&] {
        EXPECT_EQ(rig.audio.played.size(), 3 * ++ends);
        EXPECT_EQ(rig.window.buttons, "----");
        EXPECT_NE(rig.window.captions[Label::lblStatus], "Select higher");
        // The counts and the locked options are on screen while the tones play.
        EXPECT_EQ(rig.window.painted[Label::lblNumberCorrect] + "/" +
                      rig.window.painted[Label::lblTrialNumber],
                  rig.window.Counts());
        EXPECT_EQ(rig.window.paintedOptions, std::string(14, '-'));
    };
    // Draws, target first, levels; answered A.
    const std::tuple<std::vector<float>, bool, int16_t, int16_t> trials[] = {
        {{0.75f, 525 * 0x1p-24f, 0.5f}, true, 31999, 24000},  // 31999.4993: not in single
        {{0.5f, 3.0f / 256, 1.0f / 256}, false, 31812, 31938},
        {{0.0f, 0.0f, 1.0f - 0x1p-24f}, false, 32000, 16000},
    };
    const ToneTables& tables = rig.logic.Tables();
    for (const auto& [draws, targetFirst, standardLevel, targetLevel] : trials) {
        rig.random.Feed(draws);
        ends == 0 ? rig.logic.cmdStart_Click() : rig.logic.cmdResponseA_Click();
        EXPECT_EQ(rig.random.drawn, 3 * ends);
        const WaveImage standard = Tone(1000.0f, standardLevel, tables.StandardTable);
        const WaveImage target = Tone(1050.0f, targetLevel, tables.TargetTable);
        EXPECT_EQ(
            std::vector(rig.audio.played.end() - 3, rig.audio.played.end()),
            (std::vector{targetFirst ? target : standard, Tone(1000.0f, 0, tables.StandardTable),
                         targetFirst ? standard : target}));
    }
}

// A presentation nobody heard is not put to the listener: the run ends as Finish ends it.
TEST(TrialCycle, AFailedPresentationGoesBackToIdleWithTheCountsSoFar) {
    Rig rig;
    rig.random.Feed({0.75f});  // the target first
    rig.logic.cmdStart_Click();
    rig.audio.end = PresentationEnd::Failed;
    rig.logic.cmdResponseA_Click();
    EXPECT_EQ(rig.logic.State(), TrialState::Idle);
    EXPECT_EQ(rig.window.captions[Label::lblStatus], "");
    EXPECT_EQ(rig.window.Counts() + " " + rig.window.buttons + " " + rig.window.options,
              "1/1 S--- " + std::string(14, '+'));
}

TEST(TrialCycle, The32768thAnswerOverflowsInsteadOfWrapping) {
    Rig rig;
    rig.logic.cmdStart_Click();  // draws of 0: the target second
    rig.logic.Settings().TrialsCompleted = 32766;
    rig.logic.cmdResponseB_Click();
    EXPECT_THROW(rig.logic.cmdResponseB_Click(), RuntimeError);
    EXPECT_EQ(rig.logic.Settings().TrialsCompleted, 32767);
}

}  // namespace
}  // namespace zel
