#pragma once

// The profile reader on libinih. Lines longer than libinih's line limit are cut there (the rest
// of the line is dropped, never read as a line of its own); a file larger than 1 MiB counts as
// unreadable.

#include <string>
#include <string_view>

#include "audio/platform/profile_reader.h"

namespace zel {

class InihProfileReader final : public ProfileReader {
  public:
    int32_t GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                    char* buffer, int32_t size, const char* path,
                                    std::string& problem) override;
    std::vector<ProfileEntry> Entries(const char* path, std::string& problem) override;
};

// The value of `key` in `section` of the profile text, as GetPrivateProfileString finds it, or
// nothing when either is missing. For the reader and its fuzz test.
bool FindProfileValue(std::string_view text, const char* section, const char* key,
                      std::string& value);
// Every key line of the profile text.
std::vector<ProfileEntry> ProfileEntries(std::string_view text);

}  // namespace zel
