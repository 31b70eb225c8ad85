#pragma once

// Reads one value from a settings file in profile (INI) format.

#include <cstdint>
#include <string>
#include <vector>

namespace zel {

// One key line of a profile file, as the reader understands it.
struct ProfileEntry {
    std::string section;
    std::string key;
    std::string value;
    int line = 0;  // counted from 1
};

class ProfileReader {
  public:
    virtual ~ProfileReader() = default;

    // Places the value of `key` in `section` of the profile file at `path` into `buffer`, at
    // most `size` - 1 characters followed by a NUL, and returns how many characters it placed
    // (the NUL not counted). Section and key names compare without regard to ASCII letter case;
    // the first matching key of the first matching section wins; surrounding blanks of the value
    // are not part of it. When the file, the section or the key is missing, the default is
    // placed instead, cut the same way.
    //
    // When the file exists but cannot be read (no permission, a directory in its place, a read
    // error), the default is placed as for a missing file and `problem` receives the reason;
    // otherwise `problem` is left empty.
    //
    // The caller guarantees `size` >= 1 and `size` writable bytes at `buffer`. Implementations
    // must never write outside them and must survive any file content, binary included.
    virtual int32_t GetPrivateProfileString(const char* section, const char* key,
                                            const char* defaultValue, char* buffer, int32_t size,
                                            const char* path, std::string& problem) = 0;

    // Every key line of the profile file at `path`, in the file's order, as
    // GetPrivateProfileString reads them; none when the file is missing, or cannot be read
    // (`problem` then says why, as there).
    virtual std::vector<ProfileEntry> Entries(const char* path, std::string& problem) = 0;
};

}  // namespace zel
