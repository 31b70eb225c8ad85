#include "testrun/zelmain.h"

#include <cstdio>
#include <string>

#include "core/checked.h"
#include "synthesis/wave_image.h"

namespace zel {

namespace {

template <typename T, std::size_t N>
const T& Lookup(const std::array<T, N>& table, int16_t index, Where where) {
    if (index < 0 || static_cast<std::size_t>(index) >= N) {
        RaiseSubscriptOutOfRange(where, index, 0, static_cast<int32_t>(N) - 1);
    }
    return table[static_cast<std::size_t>(index)];
}

constexpr int16_t kFrequencyMembers = kBaseFrequencies.size();
constexpr int16_t kStepMembers = kStepPercents.size();
constexpr int16_t kFormatMembers = kTestFormatFrameCaptions.size();

}  // namespace

Target DeriveTarget(const TrialSettings& settings) {
    if (settings.TestFormat != kFrequencyDifference) {
        return {settings.BaseFrequency, settings.StepPercent};
    }
    // In double from the single fields, narrowed once: single precision step by step would come
    // out one unit in the last place high at 0.1 % and 0.25 %.
    const double target = (settings.StepPercent / 100.0 + 1.0) * settings.BaseFrequency;
    return {ToSingle(target, "cmdStart_Click"), 0};
}

std::string IdenticalTones(const TrialSettings& settings) {
    const Target target = DeriveTarget(settings);
    if (target.modulationPercent != 0 ||
        QuantiseFrequency(settings.BaseFrequency, settings.SampleRate) !=
            QuantiseFrequency(target.frequency, settings.SampleRate)) {
        return {};
    }
    char text[240];
    std::snprintf(text, sizeof text,
                  "At %g Hz a step of %g %% is finer than the program's frequency resolution of "
                  "%.2f Hz: the two tones would be the same. Choose a larger step.",
                  settings.BaseFrequency, settings.StepPercent,
                  settings.SampleRate / (kToneTableLength / 2.0));
    return text;
}

Zelmain::Zelmain(ZelmainWindow& window, AudioOperations& audio, ProgramShell& shell,
                 RandomSource& random)
    : window_(window), audio_(audio), shell_(shell), random_(random) {}

void Zelmain::Form_Load() {
    window_.SetButtonEnabled(CommandButton::cmdResponseA, false);
    window_.SetButtonEnabled(CommandButton::cmdResponseB, false);
    window_.SetButtonEnabled(CommandButton::cmdStart, true);
    window_.SetButtonEnabled(CommandButton::cmdFinish, false);

    audio_.InitialiseAudio();

    // The window already shows these selections; nothing on it is touched here.
    settings_.BaseFrequency = 1000.0f;
    settings_.FrequencyIndex = 1;
    settings_.StepPercent = 5.0f;
    settings_.StepIndex = 6;
    settings_.TestFormat = kFrequencyDifference;
    settings_.SampleRate = 22050;
}

void Zelmain::optFrequency_Click(const int16_t& Index) {
    settings_.BaseFrequency = Lookup(kBaseFrequencies, Index, "optFrequency_Click");
    settings_.FrequencyIndex = Index;
}

void Zelmain::optFrequencyDifference_Click(const int16_t& Index) {
    settings_.StepPercent = Lookup(kStepPercents, Index, "optFrequencyDifference_Click");
    settings_.StepIndex = Index;
}

void Zelmain::optTestFormat_Click(const int16_t& Index) {
    const char* caption = Lookup(kTestFormatFrameCaptions, Index, "optTestFormat_Click");
    settings_.TestFormat = Index;
    window_.SetFrame4Caption(caption);
}

void Zelmain::cmdStart_Click() {
    // A run whose two tones are the same would measure nothing: it does not start.
    if (const std::string same = IdenticalTones(settings_); !same.empty() && !allowIdentical_) {
        shell_.ShowNotice(same);
        return;
    }
    window_.SetButtonEnabled(CommandButton::cmdStart, false);
    state_ = TrialState::Presenting;
    DisableButtons();
    settings_.NumberCorrect = 0;
    settings_.TrialsCompleted = 0;
    UpdateLabels();
    const Target target = DeriveTarget(settings_);
    settings_.TargetFrequency = target.frequency;
    settings_.ModulationPercent = target.modulationPercent;
    MakeSineBuffers(tables_, settings_.BaseFrequency, settings_.TargetFrequency,
                    settings_.ModulationPercent, settings_.SampleRate);
    PlaySamples();
}

void Zelmain::PlaySamples() {
    constexpr Where kWhere = "PlaySamples";
    WaveImage first = MakeWaveImage();
    WaveImage silence = MakeWaveImage();
    WaveImage second = MakeWaveImage();

    const int32_t datasize = CheckedMul32(settings_.SampleRate, 2, kWhere);
    const int16_t noLevel = 0;
    MakePulsedTone(settings_.Header, silence, settings_.BaseFrequency, datasize, noLevel,
                   tables_.StandardTable, settings_.SampleRate);

    // Always three draws per trial, in this order.
    const float order = random_.Draw();
    const int16_t standardLevel = RoundToInt16(32000.0 - random_.Draw() * 16000.0, kWhere);
    const int16_t targetLevel = RoundToInt16(32000.0 - random_.Draw() * 16000.0, kWhere);

    const bool targetFirst = order > 0.5f;
    WaveImage& standardImage = targetFirst ? second : first;
    WaveImage& targetImage = targetFirst ? first : second;
    MakePulsedTone(settings_.Header, standardImage, settings_.BaseFrequency, datasize,
                   standardLevel, tables_.StandardTable, settings_.SampleRate);
    MakePulsedTone(settings_.Header, targetImage, settings_.TargetFrequency, datasize, targetLevel,
                   tables_.TargetTable, settings_.SampleRate);
    correctInterval_ = targetFirst ? 1 : 2;
    standardLevel_ = standardLevel;
    targetLevel_ = targetLevel;

    // One continuous sound: the listener hears tone, one second of silence, tone.
    audio_.PlayWaveImage(first);
    audio_.PlayWaveImage(silence);
    audio_.PlayWaveImage(second);
    if (audio_.EndPresentation() == PresentationEnd::Failed) {
        // Nobody heard this trial: it is not put to the listener, and the run ends with the
        // counts of the trials that were heard.
        ProcessFinished();
        return;
    }

    window_.SetLabelCaption(Label::lblStatus, settings_.TestFormat == kFrequencyDifference
                                                  ? "Select higher"
                                                  : "Select modulated");
    window_.SetButtonEnabled(CommandButton::cmdResponseA, true);
    window_.SetButtonEnabled(CommandButton::cmdResponseB, true);
    window_.SetButtonEnabled(CommandButton::cmdFinish, true);
    window_.SetButtonEnabled(CommandButton::cmdStart, false);
    window_.RepaintWindow();
    state_ = TrialState::AwaitingAnswer;
}

void Zelmain::cmdResponseA_Click() {
    ProcessResponse(1);
}

void Zelmain::cmdResponseB_Click() {
    ProcessResponse(2);
}

void Zelmain::ProcessResponse(const int16_t& Response) {
    constexpr Where kWhere = "ProcessResponse";
    window_.SetButtonEnabled(CommandButton::cmdResponseA, false);
    window_.SetButtonEnabled(CommandButton::cmdResponseB, false);
    window_.SetButtonEnabled(CommandButton::cmdFinish, false);
    state_ = TrialState::Presenting;
    if (Response == correctInterval_) {
        settings_.NumberCorrect = CheckedAdd16(settings_.NumberCorrect, 1, kWhere);
        window_.SetLabelCaption(Label::lblStatus, "Correct");
    } else {
        window_.SetLabelCaption(Label::lblStatus, "Incorrect");
    }
    settings_.TrialsCompleted = CheckedAdd16(settings_.TrialsCompleted, 1, kWhere);
    UpdateLabels();
    PlaySamples();
}

void Zelmain::cmdFinish_Click() {
    ProcessFinished();
}

void Zelmain::ProcessFinished() {
    window_.SetLabelCaption(Label::lblStatus, "");
    window_.SetButtonEnabled(CommandButton::cmdResponseA, false);
    window_.SetButtonEnabled(CommandButton::cmdResponseB, false);
    window_.SetButtonEnabled(CommandButton::cmdFinish, false);
    window_.SetButtonEnabled(CommandButton::cmdStart, true);
    EnableButtons();
    state_ = TrialState::Idle;
}

void Zelmain::DisableButtons() {
    for (int16_t i = 0; i < kFrequencyMembers; ++i) {
        window_.SetOptionEnabled(OptionGroup::optFrequency, i, false);
    }
    for (int16_t i = 0; i < kStepMembers; ++i) {
        window_.SetOptionEnabled(OptionGroup::optFrequencyDifference, i, false);
    }
    // A disabled member cannot be selected: enable it for the moment it takes.
    const auto selectLocked = [this](OptionGroup group, int16_t index) {
        window_.SetOptionEnabled(group, index, true);
        window_.SelectOption(group, index);
        window_.SetOptionEnabled(group, index, false);
    };
    selectLocked(OptionGroup::optFrequency, settings_.FrequencyIndex);
    selectLocked(OptionGroup::optFrequencyDifference, settings_.StepIndex);
    for (int16_t i = 0; i < kFormatMembers; ++i) {
        window_.SetOptionEnabled(OptionGroup::optTestFormat, i, false);
    }
    selectLocked(OptionGroup::optTestFormat, settings_.TestFormat);
    window_.RepaintWindow();
}

void Zelmain::EnableButtons() {
    for (int16_t i = 0; i < kFrequencyMembers; ++i) {
        window_.SetOptionEnabled(OptionGroup::optFrequency, i, true);
    }
    for (int16_t i = 0; i < kStepMembers; ++i) {
        window_.SetOptionEnabled(OptionGroup::optFrequencyDifference, i, true);
    }
    window_.SetOptionEnabled(OptionGroup::optFrequency, settings_.FrequencyIndex, true);
    window_.SelectOption(OptionGroup::optFrequency, settings_.FrequencyIndex);
    window_.SetOptionEnabled(OptionGroup::optFrequencyDifference, settings_.StepIndex, true);
    window_.SelectOption(OptionGroup::optFrequencyDifference, settings_.StepIndex);
    for (int16_t i = 0; i < kFormatMembers; ++i) {
        window_.SetOptionEnabled(OptionGroup::optTestFormat, i, true);
    }
    window_.SelectOption(OptionGroup::optTestFormat, settings_.TestFormat);
    window_.RepaintWindow();
}

void Zelmain::UpdateLabels() {
    window_.SetLabelCaption(Label::lblNumberCorrect, std::to_string(settings_.NumberCorrect));
    window_.RepaintLabel(Label::lblNumberCorrect);
    window_.SetLabelCaption(Label::lblTrialNumber, std::to_string(settings_.TrialsCompleted));
    window_.RepaintLabel(Label::lblTrialNumber);
}

void Zelmain::mnuFileExit_Click() {
    QuitSequence();
}

void Zelmain::QuitSequence() {
    audio_.RestoreMixerLevels();
    shell_.EndProgram();
}

void Zelmain::mnuHelpAbout_Click() {
    shell_.ShowAboutBox();
}

}  // namespace zel
