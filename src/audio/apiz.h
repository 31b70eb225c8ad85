#pragma once

// APIZ: the settings file's name and place, and ReadIniString, which reads one value from it.

#include <cstdint>
#include <filesystem>
#include <string>

#include "audio/platform/profile_reader.h"

namespace zel {

// The settings file's name; it lives in the system configuration directory.
inline constexpr const char* kSettingsFileName = "Zel_test.ini";

// The system configuration directory fixed at build time (/etc for a system install).
std::filesystem::path DefaultSettingsDirectory();

class Apiz {
  public:
    // `directory` is where the settings file is looked for.
    Apiz(ProfileReader& reader, std::filesystem::path directory)
        : reader_(reader), directory_(std::move(directory)) {}

    // Empty until the start-up work names the file.
    std::string IniFileName;

    std::filesystem::path SettingsPath() const { return directory_ / IniFileName; }

    // The value of `key` in `section`, or `defaultText` when the file, the section or the key is
    // missing; at most 127 characters. Spaces around the section, key and default are ignored.
    std::string ReadIniString(const std::string& section, const std::string& key,
                              const std::string& defaultText);

    // Why the last read could not read a file that exists; empty when it could (or there was
    // none).
    const std::string& LastProblem() const { return lastProblem_; }

  private:
    ProfileReader& reader_;
    std::filesystem::path directory_;
    std::string lastProblem_;
};

}  // namespace zel
