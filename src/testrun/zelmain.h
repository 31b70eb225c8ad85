#pragma once

// The main window's logic: its load sequence, the three option handlers, and the trial cycle
// (present a trial, score the answer, present the next) with the enabling of the controls. It
// reaches the window, the sound and the rest of the program only through the interfaces it is
// given, so the whole cycle runs without a display.

#include <cstdint>
#include <string>

#include "synthesis/tone_tables.h"
#include "testrun/audio_operations.h"
#include "testrun/program_shell.h"
#include "testrun/random_source.h"
#include "testrun/trial_settings.h"
#include "testrun/zelmain_window.h"

namespace zel {

enum class TrialState { Idle, Presenting, AwaitingAnswer };

// The target a Start derives from the settings: frequency difference, higher by the step and not
// modulated; frequency modulation, at the base frequency and modulated by the step.
struct Target {
    float frequency = 0;
    float modulationPercent = 0;
};
Target DeriveTarget(const TrialSettings& settings);

// What to tell the user when the settings' standard and target would be the same tone (both fall
// on one point of the tables' frequency grid, and nothing modulates the target); empty otherwise.
std::string IdenticalTones(const TrialSettings& settings);

class Zelmain {
  public:
    Zelmain(ZelmainWindow& window, AudioOperations& audio, ProgramShell& shell,
            RandomSource& random);

    // Event handlers, as the window routes them.
    void Form_Load();
    void optFrequency_Click(const int16_t& Index);
    void optFrequencyDifference_Click(const int16_t& Index);
    void optTestFormat_Click(const int16_t& Index);
    void cmdStart_Click();
    void cmdResponseA_Click();
    void cmdResponseB_Click();
    void cmdFinish_Click();
    void mnuFileExit_Click();
    void mnuHelpAbout_Click();

    // For stimuli written or printed, not heard: a run whose two tones are the same starts all
    // the same (the caller has said so).
    void AllowIdenticalTones() { allowIdentical_ = true; }

    TrialState State() const { return state_; }
    TrialSettings& Settings() { return settings_; }
    const TrialSettings& Settings() const { return settings_; }
    const ToneTables& Tables() const { return tables_; }
    // The interval (1 or 2) holding the target of the trial last presented; 0 before the first.
    int16_t CorrectInterval() const { return correctInterval_; }
    // The peak levels of the trial last presented.
    int16_t StandardLevel() const { return standardLevel_; }
    int16_t TargetLevel() const { return targetLevel_; }

  private:
    void PlaySamples();
    void ProcessResponse(const int16_t& Response);
    void ProcessFinished();
    void DisableButtons();
    void EnableButtons();
    void UpdateLabels();
    void QuitSequence();

    ZelmainWindow& window_;
    AudioOperations& audio_;
    ProgramShell& shell_;
    RandomSource& random_;

    TrialSettings settings_;
    ToneTables tables_;
    TrialState state_ = TrialState::Idle;
    bool allowIdentical_ = false;
    int16_t correctInterval_ = 0;
    int16_t standardLevel_ = 0;
    int16_t targetLevel_ = 0;
};

}  // namespace zel
