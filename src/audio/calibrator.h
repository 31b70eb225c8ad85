#pragma once

// The calibration with a sound level meter: the test's loudest tone, steady, for as long as the
// technician measures, and the two calibrated levels stepped in dB on this output until the meter
// reads the target. The tone plays through the calibrated, watched output like every trial: a
// change by another program ends it with a notice; the calibrator's own steps are the new
// calibrated state.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "audio/mod_zeltest.h"
#include "audio/platform/sound_player.h"
#include "synthesis/calibration_tone.h"

namespace zel {

class Calibrator {
  public:
    enum class Line { Wave, Speakers };
    // The peak of the test's loudest tone.
    static constexpr int16_t kPeak = 32000;

    // `audio` has done its start-up work; it and `player` must outlive the calibrator.
    Calibrator(ModZeltest& audio, SoundPlayer& player, float baseFrequency);

    // Starts the tone; false when it cannot play: no usable output (a start-up notice has said
    // why), or the output left the calibrated state (Stopped says how).
    bool Start();
    // Keeps the tone going, a little ahead of the output; false once it has ended: the output left
    // the calibrated state or failed, the sound cut short at once (Stopped says how).
    bool Continue();
    // Ends the tone with its fade-out and waits until it has been heard.
    void Stop();
    bool Playing() const { return playing_; }
    // Why the tone stopped on its own, for the user ("... The calibration tone has stopped.");
    // empty when it did not.
    const std::string& Stopped() const { return stopped_; }
    // The tone's frequency from the next Start.
    void Frequency(float baseFrequency);

    // Steps a line by `dB` to the settings value whose gain is nearest, at least one step of the
    // control's own in that direction; what to tell the user ("at the top of the range"), empty
    // when there is nothing to tell.
    std::string Step(Line line, double dB);
    int32_t Level(Line line) const;
    // The gain the line's level gives, or nothing where the line has no dB scale.
    std::optional<double> Gain(Line line);

    // Other programs sounding on the output now (the meter reads them too).
    std::vector<std::string> Others() { return audio_.OthersSounding(); }

    // The [Calibration] section with the levels in use and the output they are measured on (its
    // port where it has ports), as Zel_test.ini takes it.
    std::string Section();

  private:
    bool Queue(const std::vector<int16_t>& samples);
    bool Ended(const std::string& why);
    std::optional<double> GainOf(Line line, int32_t level);
    // The smallest level whose gain is at least `dB`, or 65,536 when none is.
    int32_t FirstAtLeast(Line line, double dB);

    ModZeltest& audio_;
    SoundPlayer& player_;
    CalibrationTone tone_;
    bool playing_ = false;
    std::string stopped_;
};

}  // namespace zel
