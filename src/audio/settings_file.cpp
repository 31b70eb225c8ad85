// The settings file as modZeltest reads it: the calibration levels, the output they were measured
// on, and what in the file is not read.

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

#include "audio/mod_zeltest.h"
#include "core/runtime_error.h"

namespace zel {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexDigit(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The text as it can be shown on one line: control and non-ASCII bytes as \xNN.
std::string Printable(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            shown += c;
        } else {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0xF];
        }
    }
    return shown;
}

// How many letters (in any case) it takes to turn one name into the other: 0 for the same name.
std::size_t NamesDiffer(const std::string& a, const std::string& b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1,
                               diagonal + (lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

int32_t ConvertLevelText(const std::string& text, const std::string& origin) {
    constexpr Where kWhere = "ReadCalibration";
    const auto fail = [&](ErrorKind kind, const char* why) {
        throw RuntimeError(kind, kWhere, origin + ": \"" + Printable(text) + "\" " + why);
    };
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    if (first == last) fail(ErrorKind::TypeMismatch, "is not a whole number");

    if (last - first >= 2 && text[first] == '&' &&
        (text[first + 1] == 'H' || text[first + 1] == 'h')) {
        std::size_t i = first + 2;
        if (i == last) fail(ErrorKind::TypeMismatch, "is not a whole number");
        uint64_t value = 0;
        bool tooLarge = false;
        for (; i < last; ++i) {
            const int digit = HexDigit(text[i]);
            if (digit < 0) fail(ErrorKind::TypeMismatch, "is not a whole number");
            value = value * 16 + static_cast<uint64_t>(digit);
            if (value > UINT32_MAX) tooLarge = true;
            if (tooLarge) value = UINT32_MAX + uint64_t{1};  // keeps the loop from wrapping
        }
        if (tooLarge) fail(ErrorKind::Overflow, "is beyond 32 bits");
        return std::bit_cast<int32_t>(static_cast<uint32_t>(value));
    }

    std::size_t i = first;
    const bool negative = text[i] == '-';
    if (text[i] == '-' || text[i] == '+') ++i;
    if (i == last) fail(ErrorKind::TypeMismatch, "is not a whole number");
    int64_t magnitude = 0;
    bool tooLarge = false;
    for (; i < last; ++i) {
        if (!IsDigit(text[i])) fail(ErrorKind::TypeMismatch, "is not a whole number");
        if (!tooLarge) {
            magnitude = magnitude * 10 + (text[i] - '0');
            if (magnitude > int64_t{INT32_MAX} + 1) tooLarge = true;
        }
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (tooLarge || value > INT32_MAX || value < INT32_MIN) {
        fail(ErrorKind::Overflow, "is outside the signed 32-bit range");
    }
    return static_cast<int32_t>(value);
}

void ModZeltest::ReadCalibration() {
    const auto read = [&](const char* key, const char* defaultText) {
        const std::string text = apiz_.ReadIniString("Calibration", key, defaultText);
        // Told once the output has been named.
        if (!apiz_.LastProblem().empty() && settingsProblem_.empty()) {
            settingsProblem_ = "Cannot read the settings file " + apiz_.SettingsPath().string() +
                               " (" + apiz_.LastProblem() +
                               "). The built-in calibration levels are used.";
        }
        return text;
    };
    const auto level = [&](const char* key, const char* defaultText) {
        const std::string text = read(key, defaultText);
        const std::string origin = apiz_.SettingsPath().string() + ", key " + key;
        const int32_t value = ConvertLevelText(text, origin);
        // Beyond the scale no line could be set as the file says.
        if (value < 0 || value > static_cast<int32_t>(kUniformMaximum)) {
            throw RuntimeError(ErrorKind::Overflow, "ReadCalibration",
                               origin + ": \"" + Printable(text) +
                                   "\" is outside the levels 0 to 65535 (&H0 to &HFFFF)");
        }
        return value;
    };
    // The wave value first.
    waveVolumeSetting_ = level("Wave_volume", "&H8000");
    masterVolumeSetting_ = level("Master_volume", "&H1000");
    const bool levelsGiven = CheckSettingsFile();
    // The output they were measured on, where the file names it (an empty value names none).
    const std::string measuredOn = read("Output", "");
    const std::string measuredPort = read("Output_port", "");
    if (!outputGiven_) {
        output_ = measuredOn;
        outputPort_ = measuredPort;
    }
    // Whether the levels in use were measured at all: said after the output in use.
    const std::string path = apiz_.SettingsPath().string();
    if (!settingsProblem_.empty()) {
        levelsFrom_ =
            "default levels (" + path + " cannot be read), not calibrated for any headphones";
    } else if (!levelsGiven) {
        levelsFrom_ = (std::filesystem::exists(path) ? "no levels in " : "no settings file ") +
                      path + ": default levels, not calibrated for any headphones";
    } else if (measuredOn.empty()) {
        levelsFrom_ = "levels from " + path + ", measured on an output it does not name";
    } else {
        levelsFrom_ = "levels from " + path + ", measured on " + Printable(measuredOn) +
                      (measuredPort.empty() ? "" : ", port " + Printable(measuredPort));
    }
}

bool ModZeltest::CheckSettingsFile() {
    static constexpr std::array<const char*, 4> kKeys{"Wave_volume", "Master_volume", "Output",
                                                      "Output_port"};
    bool levelsGiven = false;
    std::string problem;
    const std::string path = apiz_.SettingsPath().string();
    const std::vector<ProfileEntry> entries = platform_.profile.Entries(path.c_str(), problem);
    // What is not read, and the known name it is close to, if any.
    const auto unread = [&](const ProfileEntry& entry, const std::string& what,
                            const std::string& name, const auto& names) {
        std::string told = path + ": " + what + " (line " + std::to_string(entry.line) +
                           ") is not one the program reads";
        for (const char* known : names) {
            if (NamesDiffer(name, known) <= 2) {
                told += std::string("; did you mean ") + known + "?";
                break;
            }
        }
        Say(told);
    };
    std::vector<std::string> sectionsTold;
    std::vector<const ProfileEntry*> used;
    for (const ProfileEntry& entry : entries) {
        if (NamesDiffer(entry.section, "Calibration") != 0) {
            // Each other section once.
            if (std::find(sectionsTold.begin(), sectionsTold.end(), entry.section) !=
                sectionsTold.end()) {
                continue;
            }
            sectionsTold.push_back(entry.section);
            if (entry.section.empty()) {
                unread(entry, "the key " + Printable(entry.key) + " before any section", "",
                       std::array<const char*, 0>{});
            } else {
                // Appended piece by piece: GCC 12 at -O3 warns falsely about "[" + text.
                std::string section = "[";
                section += Printable(entry.section);
                section += ']';
                unread(entry, "the section " + section, section, std::array{"[Calibration]"});
            }
            continue;
        }
        if (std::none_of(kKeys.begin(), kKeys.end(),
                         [&](const char* key) { return NamesDiffer(entry.key, key) == 0; })) {
            unread(entry, "the key " + Printable(entry.key), entry.key, kKeys);
            continue;
        }
        const auto first = std::find_if(used.begin(), used.end(), [&](const ProfileEntry* seen) {
            return NamesDiffer(seen->key, entry.key) == 0;
        });
        if (first == used.end()) {
            used.push_back(&entry);
            levelsGiven = levelsGiven || NamesDiffer(entry.key, "Wave_volume") == 0 ||
                          NamesDiffer(entry.key, "Master_volume") == 0;
            continue;
        }
        Say(path + ": " + Printable(entry.key) + " is given twice: " + Printable((*first)->value) +
            " (line " + std::to_string((*first)->line) + ") is used, " + Printable(entry.value) +
            " (line " + std::to_string(entry.line) + ") is ignored");
    }
    return levelsGiven;
}

}  // namespace zel
