#pragma once

// A read-only view of the system's registry of settings, shaped like the calls the About box
// makes: open a key below a root, read one value into a caller's buffer, close the key.
// Implemented by PathRegistry, which answers from the programs found on PATH.

#include <cstdint>
#include <span>
#include <string>

namespace zel::ui {

using RegistryKey = int32_t;

inline constexpr int32_t kHkeyLocalMachine = static_cast<int32_t>(0x80000002u);
// Read control, query value, set value, create subkey, enumerate subkeys, notify, create link.
inline constexpr uint32_t kKeyAllAccess = 0x2003F;

inline constexpr int32_t kRegSuccess = 0;
inline constexpr int32_t kRegFileNotFound = 2;
inline constexpr int32_t kRegAccessDenied = 5;
inline constexpr int32_t kRegMoreData = 234;

inline constexpr int32_t kRegSz = 1;
inline constexpr int32_t kRegExpandSz = 2;
inline constexpr int32_t kRegDword = 4;

class Registry {
  public:
    virtual ~Registry() = default;

    // 0 and an open `key`, or an error code. Names compare without regard to case.
    virtual int32_t OpenKey(int32_t root, const std::string& keyName, uint32_t access,
                            RegistryKey& key) = 0;
    // On entry `size` is the buffer's size in bytes. 0 when the value was copied into `buffer`:
    // `size` then holds the number of bytes copied (a text's terminating zero included) and
    // `type` the value's type. A value larger than the buffer is kRegMoreData, nothing copied.
    virtual int32_t QueryValue(RegistryKey key, const std::string& valueName, int32_t& type,
                               std::span<uint8_t> buffer, int32_t& size) = 0;
    // Any key, also one that failed to open; the result is of no interest to the caller.
    virtual void CloseKey(RegistryKey key) = 0;
};

}  // namespace zel::ui
