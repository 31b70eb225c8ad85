#include "audio/mod_zeltest.h"

#include <array>
#include <bit>
#include <new>
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

constexpr uint32_t kMixerId = 0;
constexpr uint32_t kWaveOutDevice = 0;
constexpr int32_t kMaxImageBytes = 65535;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexDigit(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The text as it can be shown on one line: control and non-ASCII bytes as \xNN.
std::string Printable(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            shown += c;
        } else {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0xF];
        }
    }
    return shown;
}

}  // namespace

int32_t ConvertLevelText(const std::string& text, const std::string& origin) {
    constexpr Where kWhere = "ReadCalibration";
    const auto fail = [&](ErrorKind kind, const char* why) {
        throw RuntimeError(kind, kWhere, origin + ": \"" + Printable(text) + "\" " + why);
    };
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    if (first == last) fail(ErrorKind::TypeMismatch, "is not a whole number");

    if (last - first >= 2 && text[first] == '&' &&
        (text[first + 1] == 'H' || text[first + 1] == 'h')) {
        std::size_t i = first + 2;
        if (i == last) fail(ErrorKind::TypeMismatch, "is not a whole number");
        uint64_t value = 0;
        bool tooLarge = false;
        for (; i < last; ++i) {
            const int digit = HexDigit(text[i]);
            if (digit < 0) fail(ErrorKind::TypeMismatch, "is not a whole number");
            value = value * 16 + static_cast<uint64_t>(digit);
            if (value > UINT32_MAX) tooLarge = true;
            if (tooLarge) value = UINT32_MAX + uint64_t{1};  // keeps the loop from wrapping
        }
        if (tooLarge) fail(ErrorKind::Overflow, "is beyond 32 bits");
        return std::bit_cast<int32_t>(static_cast<uint32_t>(value));
    }

    std::size_t i = first;
    const bool negative = text[i] == '-';
    if (text[i] == '-' || text[i] == '+') ++i;
    if (i == last) fail(ErrorKind::TypeMismatch, "is not a whole number");
    int64_t magnitude = 0;
    bool tooLarge = false;
    for (; i < last; ++i) {
        if (!IsDigit(text[i])) fail(ErrorKind::TypeMismatch, "is not a whole number");
        if (!tooLarge) {
            magnitude = magnitude * 10 + (text[i] - '0');
            if (magnitude > int64_t{INT32_MAX} + 1) tooLarge = true;
        }
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (tooLarge || value > INT32_MAX || value < INT32_MIN) {
        fail(ErrorKind::Overflow, "is outside the signed 32-bit range");
    }
    return static_cast<int32_t>(value);
}

ModZeltest::ModZeltest(AudioPlatform platform, std::filesystem::path settingsDirectory,
                       ProgramEnd end)
    : platform_(platform),
      mixerApi_(platform.mixer),
      apiz_(platform.profile, std::move(settingsDirectory)),
      kormodz_(
          platform.notices, [this] { RestoreMixerLevels(); }, std::move(end)) {}

void ModZeltest::InitialiseAudio() {
    apiz_.IniFileName = kSettingsFileName;
    ReadCalibration();
    CheckSoundCard();
}

void ModZeltest::ReadCalibration() {
    bool told = false;
    const auto read = [&](const char* key, const char* defaultText) {
        const std::string text = apiz_.ReadIniString("Calibration", key, defaultText);
        if (!apiz_.LastProblem().empty() && !told) {
            told = true;
            ShowNotice("Cannot read the settings file " + apiz_.SettingsPath().string() + " (" +
                       apiz_.LastProblem() + "). The built-in calibration levels are used.");
        }
        return ConvertLevelText(text, apiz_.SettingsPath().string() + ", key " + key);
    };
    // The wave value first.
    waveVolumeSetting_ = read("Wave_volume", "&H8000");
    masterVolumeSetting_ = read("Master_volume", "&H1000");
}

void ModZeltest::CheckSoundCard() {
    WaveOutCaps caps;
    if (platform_.device.GetDevCaps(kWaveOutDevice, caps) != 0) {
        soundAvailable_ = kFalse;
        ShowNotice(kNoSoundCard);
        return;
    }
    if ((caps.dwFormats & kWaveFormat2M16) != 0) {
        soundAvailable_ = kTrue;
    } else {
        soundAvailable_ = kFalse;
        ShowNotice(std::string(kFormatBefore) + kFormatChannels + kFormatAfter);
    }
    // The mixer is set up even when the format is missing: the card is still the user's.
    if (MixerAvailable() == kTrue) {
        SaveAndMuteMixerLevels();
        ApplyCalibratedLevels();
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

SavedLevel ModZeltest::SaveLevel(uint32_t componentType) {
    SavedLevel saved;
    int32_t level = 0, minimum = 0, maximum = 0, stage = 0;
    const int32_t result = mixerApi_.GetMixerVolume(kMixerId, componentType, level, minimum,
                                                    maximum, stage, &saved.channels);
    saved.read = result == 0 || stage == stage::kClose;
    return saved;
}

void ModZeltest::SaveAndMuteMixerLevels() {
    const std::array<std::pair<uint32_t, SavedLevel*>, 6> lines{{
        {component::kSynthesizer, &savedSynthesizerLevel_},
        {component::kCompactDisc, &savedCompactDiscLevel_},
        {component::kLine, &savedLineLevel_},
        {component::kMicrophone, &savedMicrophoneLevel_},
        {component::kMonitor, &savedMonitorLevel_},
        {component::kTelephone, &savedTelephoneLevel_},
    }};
    for (const auto& [type, saved] : lines) {
        *saved = SaveLevel(type);
        // A line whose level could not be read could not be put back: leave it alone.
        if (!saved->read) continue;
        int32_t stage = 0;
        mixerApi_.SetMixerVolume(kMixerId, type, 0, stage);
    }
}

void ModZeltest::ApplyCalibratedLevels() {
    int32_t stage = 0;
    savedSpeakersLevel_ = SaveLevel(component::kSpeakers);
    const int32_t master =
        mixerApi_.SetMixerVolume(kMixerId, component::kSpeakers, masterVolumeSetting_, stage);
    savedWaveOutLevel_ = SaveLevel(component::kWaveOut);
    const int32_t wave =
        mixerApi_.SetMixerVolume(kMixerId, component::kWaveOut, waveVolumeSetting_, stage);
    if (master != 0 || wave != 0) ShowNotice(kCannotSetVolume);
}

void ModZeltest::RestoreMixerLevels() {
    if (writtenBack_) return;
    // Marked first: a failure during the write-back must not start it again.
    writtenBack_ = true;
    const std::array<std::pair<uint32_t, const SavedLevel*>, 8> lines{{
        {component::kSynthesizer, &savedSynthesizerLevel_},
        {component::kCompactDisc, &savedCompactDiscLevel_},
        {component::kLine, &savedLineLevel_},
        {component::kMicrophone, &savedMicrophoneLevel_},
        {component::kMonitor, &savedMonitorLevel_},
        {component::kSpeakers, &savedSpeakersLevel_},
        {component::kWaveOut, &savedWaveOutLevel_},
        {component::kTelephone, &savedTelephoneLevel_},
    }};
    for (const auto& [type, saved] : lines) {
        // A level never read is not the user's: writing it would invent one.
        if (!saved->read) continue;
        int32_t stage = 0;
        mixerApi_.SetMixerChannels(kMixerId, type, saved->channels, stage);
    }
}

int32_t ModZeltest::PlayWaveImage(const WaveImage& image) {
    constexpr Where kWhere = "PlayWaveImage";
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
    return platform_.player.Queue(block.data(), ByteCount);
}

PresentationEnd ModZeltest::EndPresentation() {
    if (soundAvailable_ == kFalse) return PresentationEnd::Silent;
    if (platform_.player.Finish() != 0) return PresentationEnd::Played;
    const std::string problem = platform_.player.Problem();
    ShowNotice("The trial could not be played: " +
               (problem.empty() ? std::string("the sound output failed") : problem) +
               ". It was not counted; the run has ended with the counts so far.");
    return PresentationEnd::Failed;
}

}  // namespace zel
