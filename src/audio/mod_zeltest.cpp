#include "audio/mod_zeltest.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <new>
#include <utility>
#include <vector>

#include "core/checked.h"
#include "core/indexed_array.h"
#include "core/runtime_error.h"
#include "synthesis/copy_bytes.h"

namespace zel {

namespace {

constexpr const char* kNoSoundCard =
    "Cannot identify multimedia sound card. Demonstration will continue without option to "
    "listen to audio output.";
constexpr const char* kFormatBefore = "Sound card detected but does not appear to support 16-bit ";
constexpr const char* kFormatChannels = "mono";
constexpr const char* kFormatAfter =
    " at 22.05 kHz. Demonstration will continue without option to listen to audio output.";
constexpr const char* kMixerUnavailable =
    "Please set sound card volume to maximum using software supplied with sound card before "
    "running Parlowen";
constexpr const char* kCannotSetVolume =
    "Unable to set volume. Please set sound card volume as required using software supplied with "
    "sound card before running Parlowen";
constexpr const char* kImageTooLarge = "Attempt to play more than 64k waveform from memory";

constexpr const char* kNotCounted =
    " The trial was not counted; the run has ended with the counts so far.";
constexpr const char* kNotPlayed =
    " The next trial was not played; the run has ended with the counts so far.";

constexpr uint32_t kMixerId = 0;
constexpr uint32_t kWaveOutDevice = 0;
constexpr int32_t kMaxImageBytes = 65535;

// The write-back's order, and the line's name in its messages.
constexpr std::array<std::pair<uint32_t, const char*>, 8> kWriteBackOrder{{
    {component::kSynthesizer, "synthesizer"},
    {component::kCompactDisc, "compact disc"},
    {component::kLine, "line-in"},
    {component::kMicrophone, "microphone"},
    {component::kMonitor, "monitor"},
    {component::kSpeakers, "speakers"},
    {component::kWaveOut, "wave output"},
    {component::kTelephone, "telephone"},
}};

std::string Muting(const std::vector<bool>& switches) {
    const auto on = std::count(switches.begin(), switches.end(), true);
    if (on == std::ssize(switches)) return "not muted";
    return on == 0 ? "muted" : "partly muted";
}

}  // namespace

void LogToStderr(const std::string& line) {
    // One line, whatever the names in it hold.
    std::string shown = line;
    std::replace_if(
        shown.begin(), shown.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, shown.c_str());
}

ModZeltest::ModZeltest(AudioPlatform platform, std::filesystem::path settingsDirectory,
                       ProgramEnd end, WriteBackLog log)
    : platform_(platform),
      mixerApi_(platform.mixer),
      apiz_(platform.profile, std::move(settingsDirectory)),
      kormodz_(
          platform.notices, [this] { RestoreMixerLevels(); }, std::move(end)),
      log_(std::move(log)) {
    platform_.player.StopWhen([this] { return Interrupted(); });
}

bool ModZeltest::Interrupted() {
    if (!presenting_) return false;
    if (stopOn_ && stopOn_()) interrupted_ = true;
    return interrupted_ || (armed_ && platform_.watch.Disturbed());
}

void ModZeltest::InitialiseAudio() {
    apiz_.IniFileName = kSettingsFileName;
    ReadCalibration();
    CheckSoundCard();
}

void ModZeltest::UseOutput(const std::string& name, const std::string& port) {
    outputGiven_ = true;
    output_ = name;
    outputPort_ = port;
}

void ModZeltest::CheckSoundCard() {
    LookForOutput(Look::StartUp);
}

std::string ModZeltest::NotThere(const OutputMismatch& mismatch) const {
    const std::string ports = mismatch.ports.empty()
                                  ? std::string("it has no ports")
                                  : "its ports are " + ListedNames(mismatch.ports);
    if (outputGiven_) {
        if (mismatch.missing)
            return "No output named " + output_ + "; zel-stimuli --list-outputs lists them.";
        if (!mismatch.hasPort)
            return mismatch.what + " has no port " + mismatch.port + "; " + ports + ".";
        return mismatch.what + " plays through " + mismatch.activePort + " now, not " +
               mismatch.port + ". Switch it (plug in the headphones), or name the port in use.";
    }
    if (mismatch.missing) {
        return "Zel_test.ini was measured on " + mismatch.what +
               ", which is not there now. Connect it, or calibrate again.";
    }
    if (!mismatch.hasPort) {
        return "Zel_test.ini was measured on " + mismatch.what + ", port " + mismatch.port +
               ", which it does not have (" + ports + "). Calibrate again.";
    }
    return "Zel_test.ini was measured on " + mismatch.what + " (" + mismatch.port +
           "), but its output is now " +
           (mismatch.activePort.empty() ? std::string("another") : mismatch.activePort) +
           ". Switch it back (plug in the headphones it was measured on), or calibrate again.";
}

void ModZeltest::LookForOutput(Look look) {
    OutputMismatch mismatch;
    const bool chosen =
        output_.empty() || platform_.device.Choose(output_, outputPort_, mismatch) == 0;
    // Still not there: the trials stay silent, as they have been.
    if (look == Look::Again && !chosen) return;
    outputMissing_ = !chosen;
    WaveOutCaps caps;
    const int32_t queried = chosen ? platform_.device.GetDevCaps(kWaveOutDevice, caps) : -1;
    Say("playing through " +
        (chosen
             ? platform_.device.Describe()
             : "nothing (" + std::string(outputGiven_ ? "--output" : "Zel_test.ini") + " names " +
                   output_ + (outputPort_.empty() ? "" : ", port " + outputPort_) + ")"));
    if (look == Look::StartUp) Say(levelsFrom_);
    if (look == Look::StartUp && !settingsProblem_.empty()) ShowNotice(settingsProblem_);
    if (queried != 0) {
        // An output other than the one measured on is treated as no output: nothing is touched.
        soundAvailable_ = kFalse;
        ShowNotice(chosen ? kNoSoundCard : NotThere(mismatch));
        return;
    }
    if ((caps.dwFormats & kWaveFormat2M16) != 0) {
        soundAvailable_ = kTrue;
    } else {
        soundAvailable_ = kFalse;
        ShowNotice(std::string(kFormatBefore) + kFormatChannels + kFormatAfter);
    }
    // The mixer is set up even when the format is missing: the card is still the user's.
    Calibrate();
}

void ModZeltest::Calibrate() {
    if (MixerAvailable() == kTrue) {
        SaveAndMuteMixerLevels();
        ApplyCalibratedLevels();
        // What the calibration left is what every presentation must play in; without a watch
        // on it, nothing can be known to play so.
        Arm();
    } else {
        ShowNotice(kMixerUnavailable);
    }
}

int16_t ModZeltest::MixerAvailable() {
    int32_t level = 0, minimum = 0, maximum = 0, stage = 0;
    // Both reads are always made.
    const int32_t speakers =
        mixerApi_.GetMixerVolume(kMixerId, component::kSpeakers, level, minimum, maximum, stage);
    const int32_t waveOut =
        mixerApi_.GetMixerVolume(kMixerId, component::kWaveOut, level, minimum, maximum, stage);
    return speakers == 0 && waveOut == 0 ? kTrue : kFalse;
}

SavedLevel* ModZeltest::SaveLevel(uint32_t componentType) {
    SavedLevel found;
    int32_t minimum = 0, maximum = 0, stage = 0;
    const int32_t result = mixerApi_.GetMixerVolume(kMixerId, componentType, found.level, minimum,
                                                    maximum, stage, &found.state);
    if (result != 0 && stage != stage::kClose) return nullptr;
    std::vector<SavedLevel>& outputs = saved_[componentType];
    for (SavedLevel& saved : outputs) {
        // Found before the program first changed it here: that is what goes back.
        if (saved.state.output == found.state.output && saved.state.port == found.state.port) {
            return &saved;
        }
    }
    return &outputs.emplace_back(std::move(found));
}

void ModZeltest::SaveAndMuteMixerLevels() {
    for (const uint32_t type :
         {component::kSynthesizer, component::kCompactDisc, component::kLine,
          component::kMicrophone, component::kMonitor, component::kTelephone}) {
        SavedLevel* saved = SaveLevel(type);
        // A line whose level could not be read could not be put back: leave it alone.
        if (saved == nullptr) continue;
        int32_t stage = 0;
        mixerApi_.SetMixerVolume(kMixerId, type, 0, stage);
        // Volume 0 is not silence on many cards: the switch goes off too, where there is one.
        mixerApi_.SetMixerSwitch(kMixerId, type, false, stage);
    }
}

void ModZeltest::ApplyCalibratedLevels() {
    // Set, and switched on: a muted output would play the whole run into silence.
    const auto apply = [this](uint32_t type, int32_t level) {
        SaveLevel(type);
        int32_t stage = 0;
        const int32_t set = mixerApi_.SetMixerVolume(kMixerId, type, level, stage);
        const int32_t on = mixerApi_.SetMixerSwitch(kMixerId, type, true, stage);
        return set == 0 && on == 0;
    };
    const bool master = apply(component::kSpeakers, masterVolumeSetting_);
    const bool wave = apply(component::kWaveOut, waveVolumeSetting_);
    if (!master || !wave) ShowNotice(kCannotSetVolume);
}

std::vector<std::string> ModZeltest::RestoreMixerLevels() {
    if (writtenBack_) return writeBackProblems_;
    // Marked first: a failure during the write-back must not start it again.
    writtenBack_ = true;
    PutBack();
    return writeBackProblems_;
}

void ModZeltest::SwitchOutput(const std::string& name, const std::string& port) {
    PutBack();
    saved_.clear();
    armed_ = false;
    unwatched_.clear();
    recalibrate_ = false;
    UseOutput(name, port);
    LookForOutput(Look::Switch);
}

void ModZeltest::PutBack() {
    const auto failed = [this](const char* line, const char* what, const SavedLevel& saved,
                               const std::string& value, int32_t result) {
        writeBackProblems_.push_back("could not put back the " + std::string(line) + " " + what +
                                     " (" + saved.state.where + ", " + value +
                                     "): " + platform_.mixer.Describe(result));
        Say(writeBackProblems_.back());
    };
    for (const auto& [type, line] : kWriteBackOrder) {
        for (const SavedLevel& saved : saved_[type]) {
            // A level never read was never saved: it is left as it is now.
            int32_t stage = 0;
            if (const int32_t result = mixerApi_.SetMixerLevels(kMixerId, type, saved.state, stage);
                result != 0) {
                failed(line, "level", saved, std::to_string(saved.level) + " of 65535", result);
            }
            if (saved.state.switches.empty()) continue;
            if (const int32_t result =
                    mixerApi_.SetMixerSwitches(kMixerId, type, saved.state, stage);
                result != 0) {
                failed(line, "mute", saved, Muting(saved.state.switches), result);
            }
        }
    }
}

int32_t ModZeltest::PlayWaveImage(const WaveImage& image) {
    constexpr Where kWhere = "PlayWaveImage";
    // The output named was missing: it is looked for again at the start of each presentation.
    if (soundAvailable_ == kFalse && outputMissing_ && !presenting_) LookForOutput(Look::Again);
    if (soundAvailable_ == kFalse) return 0;
    const int32_t ByteCount = CheckedMul32(2, image.Upper(), kWhere);
    if (ByteCount > kMaxImageBytes) FatalStop(kImageTooLarge);
    // The image is played from element 1; an array without it has nothing to play.
    const int16_t& first = image.At(1, kWhere);

    std::vector<uint8_t> block;
    try {
        block.assign(static_cast<std::size_t>(ByteCount), 0);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    copy_bytes(&first, block.data(), ByteCount);
    if (!presenting_) BeginPresentation();
    // Once the output has left the calibrated state nothing more of the presentation is played.
    if (!change_.empty()) return 0;
    return platform_.player.Queue(block.data(), ByteCount);
}

void ModZeltest::Arm() {
    const int32_t result = platform_.watch.Arm();
    armed_ = result == 0;
    unwatched_ = armed_ ? std::string()
                        : "The program cannot watch the sound output (" +
                              platform_.mixer.Describe(result) +
                              "), so no trial can be known to play as calibrated.";
}

void ModZeltest::BeginPresentation() {
    presenting_ = true;
    change_.clear();
    if (recalibrate_) {
        // The output in use now, as the user left it, is saved first, then calibrated; an
        // output that went away is opened again. The output the settings name stays the only
        // one: on another (or another port of it) nothing plays.
        recalibrate_ = false;
        OutputMismatch mismatch;
        if (!output_.empty() && platform_.device.Choose(output_, outputPort_, mismatch) != 0) {
            change_ = NotThere(mismatch);
            beforeSound_ = true;
            return;
        }
        WaveOutCaps caps;
        if (platform_.device.GetDevCaps(kWaveOutDevice, caps) == 0 &&
            (caps.dwFormats & kWaveFormat2M16) != 0) {
            Calibrate();
        }
    }
    change_ = armed_ ? platform_.watch.Changed() : unwatched_;
    beforeSound_ = !change_.empty();
    // Anything else that sounds on the output from now until the last frame reaches the ear too.
    ListenToOthers(change_.empty());
}

std::string ModZeltest::OutputChanged() {
    return armed_ ? platform_.watch.Changed() : unwatched_;
}

void ModZeltest::ListenToOthers(bool on) {
    if (!armed_ || on == listening_) return;
    listening_ = on;
    platform_.watch.Listen(on);
}

std::vector<std::string> ModZeltest::OthersSounding() {
    return armed_ ? platform_.watch.Sounding() : std::vector<std::string>();
}

int32_t ModZeltest::SetCalibratedLevel(uint32_t componentType, int32_t level) {
    int32_t stage = 0, minimum = 0, maximum = 0;
    const int32_t result = mixerApi_.SetMixerVolume(kMixerId, componentType, level, stage);
    if (result != 0) return result;
    // As a read gives it: the level that names the control's step in the settings.
    int32_t& setting =
        componentType == component::kSpeakers ? masterVolumeSetting_ : waveVolumeSetting_;
    if (mixerApi_.GetMixerVolume(kMixerId, componentType, setting, minimum, maximum, stage) != 0) {
        setting = level;
    }
    // The program's own change: the calibrated state from now on.
    if (armed_) Arm();
    return 0;
}

int32_t ModZeltest::Gain(uint32_t componentType, int32_t level, double& dB) {
    int32_t stage = 0;
    return mixerApi_.GetMixerGain(kMixerId, componentType, level, dB, stage);
}

PresentationEnd ModZeltest::EndPresentation() {
    if (soundAvailable_ == kFalse) return PresentationEnd::Silent;
    const int32_t played = platform_.player.Finish();
    presenting_ = false;
    ListenToOthers(false);
    // The program is ending: nothing to tell.
    if (std::exchange(interrupted_, false)) return PresentationEnd::Failed;
    if (change_.empty() && armed_) change_ = platform_.watch.Changed();
    if (!change_.empty()) {
        recalibrate_ = true;
        ShowNotice(change_ + (beforeSound_ ? kNotPlayed : kNotCounted) +
                   (startGoesOn_ ? " Start goes on and sets the levels again." : ""));
        return PresentationEnd::Failed;
    }
    if (const std::vector<std::string> heard =
            armed_ ? platform_.watch.Heard() : std::vector<std::string>();
        !heard.empty()) {
        ShowNotice(std::string(heard.size() == 1 ? "Another program, " : "Other programs, ") +
                   ListedNames(heard) + ", played sound on the sound output during the trial." +
                   kNotCounted + (startGoesOn_ ? " Start goes on." : ""));
        return PresentationEnd::Failed;
    }
    if (played == 0) {
        const std::string problem = platform_.player.Problem();
        ShowNotice("The trial could not be played: " +
                   (problem.empty() ? std::string("the sound output failed") : problem) +
                   ". It was not counted; the run has ended with the counts so far.");
        return PresentationEnd::Failed;
    }
    return PresentationEnd::Played;
}

}  // namespace zel
