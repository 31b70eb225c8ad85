#pragma once

// modZeltest: the start-up audio work (settings file, sound-card check, mixer calibration), the
// playback of wave images and the mixer write-back at exit. It reaches the system only through
// the platform services it is given, so every path runs in tests without a sound card.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "audio/apiz.h"
#include "audio/kormodz.h"
#include "audio/mixer_api.h"
#include "audio/platform/mixer_service.h"
#include "audio/platform/notice_presenter.h"
#include "audio/platform/output_device.h"
#include "audio/platform/output_watch.h"
#include "audio/platform/profile_reader.h"
#include "audio/platform/sound_player.h"
#include "testrun/audio_operations.h"

namespace zel {

// 16-bit booleans.
constexpr int16_t kTrue = -1;
constexpr int16_t kFalse = 0;

// The platform services the audio work uses; they must outlive it.
struct AudioPlatform {
    SoundPlayer& player;
    OutputDevice& device;
    MixerService& mixer;
    ProfileReader& profile;
    NoticePresenter& notices;
    OutputWatch& watch;
};

// A calibration value as a level: decimal with an optional sign, or "&H" hexadecimal of up to
// eight significant digits (read as a 32-bit two's-complement pattern, so &HFFFFFFFF is -1);
// blanks around it are allowed. Anything else is a type mismatch, a number beyond the signed
// 32-bit range an overflow; either error names `origin` and the text.
int32_t ConvertLevelText(const std::string& text, const std::string& origin);

// One mixer line as found on one output: its whole state, for putting it back exactly, and its
// level on the uniform scale, for messages; kept when the mixer delivered them, also when only the
// close after the read failed (those levels are genuine). A line is saved just before the
// program first changes it there.
struct SavedLevel {
    LineState state;
    int32_t level = 0;
};

// Where the program's own lines go (the output it plays through, what the write-back could not put
// back): by default stderr, "PROGRAM: LINE".
using WriteBackLog = std::function<void(const std::string& line)>;
void LogToStderr(const std::string& line);

class ModZeltest final : public AudioOperations {
  public:
    // `settingsDirectory` holds the settings file; `end` ends the program after a fatal stop.
    ModZeltest(AudioPlatform platform, std::filesystem::path settingsDirectory,
               ProgramEnd end = EndProcess, WriteBackLog log = LogToStderr);

    // AudioOperations.
    void InitialiseAudio() override;
    // Before the first image of a presentation the output is checked against the calibrated
    // state (after a change, calibrated again first): when it differs nothing is queued.
    int32_t PlayWaveImage(const WaveImage& image) override;
    // Failed when the output failed, ran dry, or left the calibrated state at any time since the
    // presentation's first image; one notice tells the user why.
    PresentationEnd EndPresentation() override;
    // Writes back, on every output it was changed on, each line whose state was read, once per
    // program: every way the program ends may call it, and only the first call writes. Each
    // level or switch that could not be put back is logged as it fails.
    std::vector<std::string> RestoreMixerLevels() override;

    // What else ends a presentation at once, its sound cut short and nothing told (a signal to
    // end the program); asked every few milliseconds while a presentation plays.
    void StopOn(std::function<bool()> stop) { stopOn_ = std::move(stop); }

    // The notice that a change or another program's sound ended a run says that Start goes on
    // (in the window, where it does).
    void StartGoesOn() { startGoesOn_ = true; }

    // Puts back what the program changed, on every output, and makes the output named the one in
    // use, looked for and calibrated as at start-up with the levels in use: a calibration moving
    // to another output. What cannot be put back is logged and kept for the end.
    void SwitchOutput(const std::string& name, const std::string& port);

    // The output to play on instead of the one the settings file names (empty: the default).
    void UseOutput(const std::string& name, const std::string& port);
    const std::string& Output() const { return output_; }
    // The output in use now, and the outputs there are, as the platform names them.
    int32_t OutputInUse(OutputInfo& output) { return platform_.device.InUse(output); }
    int32_t ListOutputs(std::vector<OutputInfo>& outputs) { return platform_.device.List(outputs); }

    // The start-up steps, in the order InitialiseAudio runs them.
    void ReadCalibration();
    // Says on the log what in the settings file is not read: other sections and keys (naming a
    // likely misspelling), and a key given again (the first counts). True when the file gives a
    // level.
    bool CheckSettingsFile();
    void CheckSoundCard();
    int16_t MixerAvailable();
    void SaveAndMuteMixerLevels();
    void ApplyCalibratedLevels();

    // Shows the critical notice, writes the mixer back and ends the program.
    [[noreturn]] void FatalStop(const std::string& message) { kormodz_.FatalStop(message); }
    void ShowNotice(const std::string& message) { kormodz_.ShowNotice(message); }

    // For a calibration tone that plays on and on: what changed since the calibration (empty
    // while nothing did); other programs' sound on the output, watched while the tone plays, and
    // who is sounding now; a level set as the new calibrated one (kept as the mixer reads it
    // back), the watch armed on it; and the gain in dB a level gives on a line.
    std::string OutputChanged();
    void ListenToOthers(bool on);
    std::vector<std::string> OthersSounding();
    int32_t SetCalibratedLevel(uint32_t componentType, int32_t level);
    int32_t Gain(uint32_t componentType, int32_t level, double& dB);

    int16_t SoundAvailable() const { return soundAvailable_; }
    int32_t WaveVolumeSetting() const { return waveVolumeSetting_; }
    int32_t MasterVolumeSetting() const { return masterVolumeSetting_; }
    const Apiz& Settings() const { return apiz_; }

  private:
    // A line on the log, where there is one.
    void Say(const std::string& line) {
        if (log_) log_(line);
    }
    // Reads the line and keeps its state as found on the output it is on now, unless that output's
    // state was kept before; null when it cannot be read.
    SavedLevel* SaveLevel(uint32_t componentType);
    // Chooses and examines the output named, and calibrates it: at start-up saying which it is,
    // where the levels come from and what is wrong; at a switch which it is and what is wrong;
    // again (it was missing) only once it is there.
    enum class Look { StartUp, Switch, Again };
    void LookForOutput(Look look);
    // Writes back, on every output it was changed on, each line whose state was read.
    void PutBack();
    // Why the output named cannot be played on, for the user.
    std::string NotThere(const OutputMismatch& mismatch) const;
    // The mixer steps of the start-up check, and the watch armed on their outcome.
    void Calibrate();
    // Arms the watch on the state now; where it cannot be, every presentation fails.
    void Arm();
    void BeginPresentation();
    // Whether the presentation under way is to be cut short: the output left the calibrated
    // state, another program sounded, or StopOn's answer.
    bool Interrupted();

    AudioPlatform platform_;
    MixerApi mixerApi_;
    Apiz apiz_;
    Kormodz kormodz_;

    int16_t soundAvailable_ = kFalse;
    int32_t waveVolumeSetting_ = 0;
    int32_t masterVolumeSetting_ = 0;
    // The output the levels were measured on (and its port), where one is named.
    std::string output_;
    std::string outputPort_;
    bool outputGiven_ = false;  // by UseOutput, not the settings file
    bool outputMissing_ = false;
    std::string settingsProblem_;
    std::string levelsFrom_;  // where the levels in use come from, for the log

    // Every line's states as found, by component type, one for each output it was set on.
    std::map<uint32_t, std::vector<SavedLevel>> saved_;
    WriteBackLog log_;
    bool writtenBack_ = false;
    std::vector<std::string> writeBackProblems_;

    bool armed_ = false;        // the watch holds the calibrated state
    std::string unwatched_;     // why the watch could not hold it, where it could not
    bool listening_ = false;    // to other programs' sound during this presentation
    bool recalibrate_ = false;  // the output left it: calibrate again before the next presentation
    bool presenting_ = false;
    std::string change_;        // how the output left it during this presentation
    bool beforeSound_ = false;  // seen before anything of it was played
    bool startGoesOn_ = false;
    std::function<bool()> stopOn_;
    bool interrupted_ = false;  // by StopOn
};

}  // namespace zel
