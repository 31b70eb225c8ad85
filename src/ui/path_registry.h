#pragma once

// The registry as this system answers it. It holds one key: the location of a system-information
// program, the first of a short list of known ones found on PATH. There is nothing to write, so
// the write rights that the About box asks for are granted as a formality.

#include <vector>

#include "ui/registry.h"

namespace zel::ui {

inline constexpr const char* kSysInfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
inline constexpr const char* kSysInfoValue = "PATH";

class PathRegistry final : public Registry {
  public:
    // `searchPath` is a PATH-style list of folders; empty entries (the current folder) are
    // never searched.
    explicit PathRegistry(std::string searchPath);
    // The PATH of this process.
    PathRegistry();

    int32_t OpenKey(int32_t root, const std::string& keyName, uint32_t access,
                    RegistryKey& key) override;
    int32_t QueryValue(RegistryKey key, const std::string& valueName, int32_t& type,
                       std::span<uint8_t> buffer, int32_t& size) override;
    void CloseKey(RegistryKey) override {}

    // The programs looked for, in order of preference.
    static const std::vector<std::string>& KnownPrograms();

  private:
    std::string searchPath_;
};

}  // namespace zel::ui
