#include "audio/apiz.h"

#include "core/indexed_array.h"

namespace zel {

namespace {

constexpr int32_t kBufferSize = 128;

// Spaces only: other white space is part of the name.
std::string TrimSpaces(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

}  // namespace

std::filesystem::path DefaultSettingsDirectory() {
    return ZEL_SYSCONFDIR;
}

std::string Apiz::ReadIniString(const std::string& section, const std::string& key,
                                const std::string& defaultText) {
    std::string buffer(kBufferSize, ' ');
    const std::string sectionCopy = TrimSpaces(section);
    const std::string keyCopy = TrimSpaces(key);
    const std::string defaultCopy = TrimSpaces(defaultText);
    const std::string path = SettingsPath().string();
    lastProblem_.clear();
    const int32_t placed =
        reader_.GetPrivateProfileString(sectionCopy.c_str(), keyCopy.c_str(), defaultCopy.c_str(),
                                        buffer.data(), kBufferSize, path.c_str(), lastProblem_);
    if (placed < 0 || placed >= kBufferSize) {
        RaiseSubscriptOutOfRange("ReadIniString", placed, 0, kBufferSize - 1);
    }
    return buffer.substr(0, static_cast<std::size_t>(placed));
}

}  // namespace zel
