#pragma once

// modZeltest: the start-up audio work (settings file, sound-card check, mixer calibration), the
// playback of wave images and the mixer write-back at exit. It reaches the system only through
// the platform services it is given, so every path runs in tests without a sound card.

#include <cstdint>
#include <filesystem>
#include <string>

#include "audio/apiz.h"
#include "audio/kormodz.h"
#include "audio/mixer_api.h"
#include "audio/platform/mixer_service.h"
#include "audio/platform/notice_presenter.h"
#include "audio/platform/output_device.h"
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
};

// A calibration value as a level: decimal with an optional sign, or "&H" hexadecimal of up to
// eight significant digits (read as a 32-bit two's-complement pattern, so &HFFFFFFFF is -1);
// blanks around it are allowed. Anything else is a type mismatch, a number beyond the signed
// 32-bit range an overflow; either error names `origin` and the text.
int32_t ConvertLevelText(const std::string& text, const std::string& origin);

// One mixer line's level as saved at start-up: every channel's raw level, for putting it back
// exactly. `read` when the mixer delivered them, also when only the close after the read failed:
// those levels are genuine.
struct SavedLevel {
    ChannelLevels channels;
    bool read = false;
};

class ModZeltest final : public AudioOperations {
  public:
    // `settingsDirectory` holds the settings file; `end` ends the program after a fatal stop.
    ModZeltest(AudioPlatform platform, std::filesystem::path settingsDirectory,
               ProgramEnd end = EndProcess);

    // AudioOperations.
    void InitialiseAudio() override;
    int32_t PlayWaveImage(const WaveImage& image) override;
    // A failure is told to the user in a notice that names it.
    PresentationEnd EndPresentation() override;
    // Writes back each line whose level was read at start-up, once per program: every way the
    // program ends may call it, and only the first call writes.
    void RestoreMixerLevels() override;

    // The start-up steps, in the order InitialiseAudio runs them.
    void ReadCalibration();
    void CheckSoundCard();
    int16_t MixerAvailable();
    void SaveAndMuteMixerLevels();
    void ApplyCalibratedLevels();

    // Shows the critical notice, writes the mixer back and ends the program.
    [[noreturn]] void FatalStop(const std::string& message) { kormodz_.FatalStop(message); }
    void ShowNotice(const std::string& message) { kormodz_.ShowNotice(message); }

    int16_t SoundAvailable() const { return soundAvailable_; }
    int32_t WaveVolumeSetting() const { return waveVolumeSetting_; }
    int32_t MasterVolumeSetting() const { return masterVolumeSetting_; }
    const Apiz& Settings() const { return apiz_; }

  private:
    SavedLevel SaveLevel(uint32_t componentType);

    AudioPlatform platform_;
    MixerApi mixerApi_;
    Apiz apiz_;
    Kormodz kormodz_;

    int16_t soundAvailable_ = kFalse;
    int32_t waveVolumeSetting_ = 0;
    int32_t masterVolumeSetting_ = 0;
    bool writtenBack_ = false;

    SavedLevel savedSynthesizerLevel_;
    SavedLevel savedCompactDiscLevel_;
    SavedLevel savedLineLevel_;
    SavedLevel savedMicrophoneLevel_;
    SavedLevel savedMonitorLevel_;
    SavedLevel savedTelephoneLevel_;
    SavedLevel savedSpeakersLevel_;
    SavedLevel savedWaveOutLevel_;
};

}  // namespace zel
