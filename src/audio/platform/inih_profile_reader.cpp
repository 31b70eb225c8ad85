#include "audio/platform/inih_profile_reader.h"

#include <ini.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace zel {

namespace {

constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;

bool SameName(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(*a) != lower(*b)) return false;
        if (*a == '\0') return true;
    }
}

struct Search {
    const char* section;
    const char* key;
    std::string* value;
    bool found = false;
};

int OnEntry(void* user, const char* section, const char* name, const char* value) {
    auto& search = *static_cast<Search*>(user);
    // The first match wins; continuation lines of a matched key (indented with a blank other
    // than a space or tab) come here again and are ignored.
    if (!search.found && SameName(section, search.section) && SameName(name, search.key)) {
        search.found = true;
        *search.value = value;
    }
    return 1;
}

struct TextStream {
    std::string_view text;
    std::size_t position = 0;
    int line = 0;  // of the last line read
};

// The entries found, and the stream they come from (for the line numbers).
struct Listing {
    TextStream stream;
    std::vector<ProfileEntry> entries;
};

int OnListed(void* user, const char* section, const char* name, const char* value) {
    auto& listing = *static_cast<Listing*>(user);
    listing.entries.push_back({section, name, value, listing.stream.line});
    return 1;
}

// fgets over the text, except that:
// - leading blanks are dropped, as the profile service drops them, so that an indented key or
//   section is one and not, as libinih would take it, a continuation of the key above;
// - a line longer than the parser's buffer is cut there and the rest of it skipped, so a long
//   value can never turn into a line of its own.
char* ReadLine(char* line, int size, void* user) {
    auto& stream = *static_cast<TextStream*>(user);
    if (stream.position >= stream.text.size() || size < 2) return nullptr;
    while (stream.position < stream.text.size() &&
           (stream.text[stream.position] == ' ' || stream.text[stream.position] == '\t')) {
        ++stream.position;
    }
    ++stream.line;
    const std::size_t room = static_cast<std::size_t>(size) - 1;
    std::size_t taken = 0;
    while (stream.position < stream.text.size() && taken < room) {
        const char c = stream.text[stream.position++];
        line[taken++] = c;
        if (c == '\n') break;
    }
    if (taken == room && line[taken - 1] != '\n') {
        const std::size_t end = stream.text.find('\n', stream.position);
        stream.position = end == std::string_view::npos ? stream.text.size() : end + 1;
    }
    line[taken] = '\0';
    return line;
}

}  // namespace

bool FindProfileValue(std::string_view text, const char* section, const char* key,
                      std::string& value) {
    TextStream stream{text};
    Search search{section, key, &value};
    ini_parse_stream(ReadLine, &stream, OnEntry, &search);
    return search.found;
}

std::vector<ProfileEntry> ProfileEntries(std::string_view text) {
    // The handler takes each entry's line from the stream the reader counts them in.
    Listing listing{{text}, {}};
    ini_parse_stream(ReadLine, &listing.stream, OnListed, &listing);
    return std::move(listing.entries);
}

namespace {

// The file's text; false when it is missing, or cannot be read (`problem` then says why).
bool ReadProfile(const char* path, std::string& text, std::string& problem) {
    errno = 0;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), std::fclose);
    if (!file) {
        // Missing is ordinary; anything else the user should hear about.
        if (errno != ENOENT && errno != ENOTDIR) problem = std::strerror(errno);
        return false;
    }
    char chunk[4096];
    std::size_t got = 0;
    while (text.size() <= kMaxFileBytes &&
           (got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        text.append(chunk, got);
    }
    if (std::ferror(file.get())) {
        problem = std::strerror(errno != 0 ? errno : EIO);
        return false;
    }
    if (text.size() > kMaxFileBytes) {
        problem = "larger than 1 MiB";
        return false;
    }
    return true;
}

}  // namespace

std::vector<ProfileEntry> InihProfileReader::Entries(const char* path, std::string& problem) {
    std::string text;
    return ReadProfile(path, text, problem) ? ProfileEntries(text) : std::vector<ProfileEntry>();
}

int32_t InihProfileReader::GetPrivateProfileString(const char* section, const char* key,
                                                   const char* defaultValue, char* buffer,
                                                   int32_t size, const char* path,
                                                   std::string& problem) {
    if (size < 1) return 0;
    std::string value = defaultValue;
    std::string text, found;
    if (ReadProfile(path, text, problem) && FindProfileValue(text, section, key, found)) {
        value = found;
    }
    const std::size_t placed = std::min(value.size(), static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, value.data(), placed);
    buffer[placed] = '\0';
    return static_cast<int32_t>(placed);
}

}  // namespace zel
