#include "ui/path_registry.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>

namespace zel::ui {

namespace {

constexpr RegistryKey kSysInfoHandle = 1;

bool SameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::optional<std::string> FindProgram(const std::string& searchPath) {
    for (const std::string& program : PathRegistry::KnownPrograms()) {
        std::istringstream folders(searchPath);
        std::string folder;
        while (std::getline(folders, folder, ':')) {
            if (folder.empty()) continue;
            const std::filesystem::path candidate = std::filesystem::path(folder) / program;
            std::error_code error;
            if (std::filesystem::is_regular_file(candidate, error) &&
                ::access(candidate.c_str(), X_OK) == 0) {
                return candidate.string();
            }
        }
    }
    return std::nullopt;
}

}  // namespace

PathRegistry::PathRegistry(std::string searchPath) : searchPath_(std::move(searchPath)) {}

PathRegistry::PathRegistry() {
    const char* path = std::getenv("PATH");
    searchPath_ = path ? path : "";
}

const std::vector<std::string>& PathRegistry::KnownPrograms() {
    static const std::vector<std::string> programs{"hardinfo", "kinfocenter",
                                                   "gnome-system-monitor", "mate-system-monitor"};
    return programs;
}

int32_t PathRegistry::OpenKey(int32_t root, const std::string& keyName, uint32_t,
                              RegistryKey& key) {
    if (root != kHkeyLocalMachine || !SameName(keyName, kSysInfoKey)) return kRegFileNotFound;
    key = kSysInfoHandle;
    return kRegSuccess;
}

int32_t PathRegistry::QueryValue(RegistryKey key, const std::string& valueName, int32_t& type,
                                 std::span<uint8_t> buffer, int32_t& size) {
    if (key != kSysInfoHandle || !SameName(valueName, kSysInfoValue)) return kRegFileNotFound;
    const std::optional<std::string> program = FindProgram(searchPath_);
    if (!program) return kRegFileNotFound;
    // Text with its terminating zero.
    const std::size_t needed = program->size() + 1;
    if (size < 0 || needed > static_cast<std::size_t>(size) || needed > buffer.size()) {
        size = static_cast<int32_t>(std::min<std::size_t>(needed, INT32_MAX));
        return kRegMoreData;
    }
    std::memcpy(buffer.data(), program->c_str(), needed);
    size = static_cast<int32_t>(needed);
    type = kRegSz;
    return kRegSuccess;
}

}  // namespace zel::ui
