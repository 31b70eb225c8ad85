#pragma once

// Saving a calibration: the [Calibration] section written into a settings file, everything else
// in the file kept as it was.

#include <filesystem>
#include <string>

namespace zel {

// `text` (a settings file, perhaps empty) with the keys of `section` (a [Calibration] section:
// its header, then KEY=VALUE lines) set in its first [Calibration] section: each in place of the
// first line of that key there, the others added after that section's last key, or the whole
// section appended where the file has none. Every other line stays as it is: other sections, other
// keys, comments, blank lines, a byte-order mark, CRLF line ends. An Output or Output_port line
// that `section` does not give goes, as it would name another output.
std::string MergeCalibration(const std::string& text, const std::string& section);

// Writes `section` into the settings file at `target`, merged into the text of `startFrom` (the
// target itself, or the file it is to replace once installed) where that exists: to a new file
// beside it, then renamed over it, so that a failure leaves the old one whole. False when it
// could not be written; `problem` then says why ("Permission denied").
bool SaveCalibration(const std::filesystem::path& target, const std::string& section,
                     const std::filesystem::path& startFrom, std::string& problem);

}  // namespace zel
