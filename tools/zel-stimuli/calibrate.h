#pragma once

// zel-stimuli --calibrate: the test's start-up audio work, then a steady tone at the test's
// loudest level on the calibrated output, its two levels stepped in dB from the keyboard until a
// sound level meter reads the target; the [Calibration] section for those levels at the end.

#include <filesystem>

namespace zel {

// Returns the exit status.
int Calibrate(float baseFrequency, const std::filesystem::path& settingsDirectory);

}  // namespace zel
