#include "audio/calibrator.h"

#include <cmath>
#include <cstdio>

#include "audio/platform/mixer_service.h"
#include "synthesis/wave_image.h"

namespace zel {

namespace {

constexpr int32_t kSampleRate = 22050;
// What the output is kept ahead of the ear: enough for a busy machine, little enough for a step's
// or the end's wait to pass unnoticed.
constexpr auto kAhead = std::chrono::milliseconds(300);
constexpr int32_t kBlock = kSampleRate / 20;  // 50 ms
constexpr int32_t kTop = 65535;

uint32_t Type(Calibrator::Line line) {
    return line == Calibrator::Line::Speakers ? component::kSpeakers : component::kWaveOut;
}

std::string Hex(int32_t level) {
    char text[16];
    std::snprintf(text, sizeof text, "&H%X", static_cast<unsigned>(level));
    return text;
}

}  // namespace

Calibrator::Calibrator(ModZeltest& audio, SoundPlayer& player, float baseFrequency)
    : audio_(audio), player_(player), tone_(baseFrequency, kPeak, kSampleRate) {}

bool Calibrator::Ended(const std::string& why) {
    // What is queued would play on at the changed level and then stop without its fade-out.
    if (playing_) {
        player_.Cut();
        player_.Finish();
    }
    playing_ = false;
    audio_.ListenToOthers(false);
    stopped_ = why + " The calibration tone has stopped.";
    return false;
}

void Calibrator::Frequency(float baseFrequency) {
    tone_ = CalibrationTone(baseFrequency, kPeak, kSampleRate);
}

bool Calibrator::Queue(const std::vector<int16_t>& samples) {
    // One image per block, as the player takes sound.
    WaveHeader header;
    MakeRIFFheader(header, 1, kSampleRate);
    SetDataSize(header, static_cast<int32_t>(samples.size() * 2));
    std::vector<uint8_t> image(kWaveHeaderBytes + samples.size() * 2);
    const auto packed = header.Pack();
    std::copy(packed.begin(), packed.end(), image.begin());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto sample = static_cast<uint16_t>(samples[i]);
        image[kWaveHeaderBytes + 2 * i] = static_cast<uint8_t>(sample & 0xFF);
        image[kWaveHeaderBytes + 2 * i + 1] = static_cast<uint8_t>(sample >> 8);
    }
    if (player_.Queue(image.data(), static_cast<int32_t>(image.size())) != 0) return true;
    return Ended("The sound output failed: " + player_.Problem() + ".");
}

bool Calibrator::Start() {
    stopped_.clear();
    if (playing_ || audio_.SoundAvailable() == kFalse) return playing_;
    if (const std::string change = audio_.OutputChanged(); !change.empty()) return Ended(change);
    playing_ = true;
    audio_.ListenToOthers(true);
    return Continue();
}

bool Calibrator::Continue() {
    if (!playing_) return false;
    if (const std::string change = audio_.OutputChanged(); !change.empty()) return Ended(change);
    while (player_.Ahead() < kAhead) {
        if (!Queue(tone_.Next(kBlock))) return false;
    }
    return true;
}

void Calibrator::Stop() {
    if (!playing_) return;
    playing_ = false;
    if (Queue(tone_.End()) && player_.Finish() == 0) {
        audio_.ShowNotice("The sound output failed: " + player_.Problem() + ".");
    }
    audio_.ListenToOthers(false);
}

int32_t Calibrator::Level(Line line) const {
    return line == Line::Speakers ? audio_.MasterVolumeSetting() : audio_.WaveVolumeSetting();
}

std::optional<double> Calibrator::GainOf(Line line, int32_t level) {
    double dB = 0;
    if (audio_.Gain(Type(line), level, dB) != 0) return std::nullopt;
    return dB;
}

std::optional<double> Calibrator::Gain(Line line) {
    return GainOf(line, Level(line));
}

int32_t Calibrator::FirstAtLeast(Line line, double dB) {
    int32_t low = 0, high = kTop + 1;  // the answer lies in [low, high]
    while (low < high) {
        const int32_t middle = low + (high - low) / 2;
        if (GainOf(line, middle).value_or(-INFINITY) >= dB) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

std::string Calibrator::Step(Line line, double dB) {
    const auto gain = [&](int32_t level) { return GainOf(line, level).value_or(-INFINITY); };
    const std::optional<double> now = GainOf(line, Level(line));
    if (!now) return "no dB scale on this output";
    const bool up = dB > 0;
    const double target = *now + dB;
    int32_t next = FirstAtLeast(line, target);
    // The nearer of the two levels around the target.
    if (next > kTop || (next > 0 && target - gain(next - 1) < gain(next) - target)) --next;
    // A step smaller than the control's own still moves, by one of those.
    if (up && gain(next) <= *now) {
        next = FirstAtLeast(line, std::nextafter(*now, INFINITY));
        if (next > kTop) return "at the top of the range";
    } else if (!up && gain(next) >= *now) {
        const int32_t plateau = FirstAtLeast(line, *now);
        if (plateau == 0) return "at the bottom of the range";
        next = plateau - 1;
    }
    if (audio_.SetCalibratedLevel(Type(line), next) != 0) return "the level could not be set";
    if (up && gain(next) >= gain(kTop)) return "at the top of the range";
    if (!up && gain(next) <= gain(0)) return "at the bottom of the range";
    return {};
}

std::string Calibrator::Section() {
    std::string section = "[Calibration]\nWave_volume=" + Hex(audio_.WaveVolumeSetting()) +
                          "\nMaster_volume=" + Hex(audio_.MasterVolumeSetting()) + "\n";
    // The output it was measured on, so that the test plays there or says why not.
    OutputInfo measured;
    audio_.OutputInUse(measured);
    if (!measured.name.empty()) section += "Output=" + measured.name + "\n";
    if (!measured.activePort.empty()) section += "Output_port=" + measured.activePort + "\n";
    return section;
}

}  // namespace zel
