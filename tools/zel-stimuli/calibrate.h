#pragma once

// zel-stimuli --calibrate: the test's start-up audio work, then a steady tone at the test's
// loudest level on the calibrated output, its two levels stepped in dB from the keyboard until a
// sound level meter reads the target; the [Calibration] section for those levels at the end.

#include <filesystem>
#include <string>

namespace zel {

// On the output named (and, where `port` is not empty, only with that port active) instead of
// the one the settings file names; empty, as the file says. Returns the exit status.
int Calibrate(float baseFrequency, const std::filesystem::path& settingsDirectory,
              const std::string& output, const std::string& port);

// --list-outputs: the outputs there are, one a line: name, description, "default" or nothing,
// and the ports with the active one marked "*". Returns the exit status.
int ListOutputs();

}  // namespace zel
