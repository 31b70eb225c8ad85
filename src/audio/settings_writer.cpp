#include "audio/settings_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

namespace zel {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return lower;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// The section a header line opens, as the reader takes it ("[Calibration]": "calibration").
std::optional<std::string> Header(std::string_view line) {
    line = Trimmed(line);
    if (!line.starts_with('[')) return std::nullopt;
    const std::size_t end = line.find(']');
    return Lower(line.substr(1, end == std::string_view::npos ? line.size() - 1 : end - 1));
}

// The key a line gives, as the reader takes it (before '=' or ':'); none for a comment, a blank
// line or a header.
std::optional<std::string> Key(std::string_view line) {
    line = Trimmed(line);
    if (line.empty() || line.front() == ';' || line.front() == '#' || line.front() == '[')
        return std::nullopt;
    const std::size_t end = line.find_first_of("=:");
    if (end == std::string_view::npos) return std::nullopt;
    return Lower(Trimmed(line.substr(0, end)));
}

std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.emplace_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

}  // namespace

std::string MergeCalibration(const std::string& text, const std::string& section) {
    std::string_view body = text;
    const bool mark = body.starts_with(kByteOrderMark);
    if (mark) body.remove_prefix(kByteOrderMark.size());
    const std::string end = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    std::vector<std::string> lines = Lines(body);

    // The section's lines, and which of them the file's section already has.
    std::vector<std::string> given = Lines(section);
    given.erase(given.begin());  // its header
    std::vector<bool> placed(given.size(), false);
    const auto header = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return Header(line) == "calibration";
    });
    if (header == lines.end()) {
        if (!lines.empty() && !Trimmed(lines.back()).empty()) lines.emplace_back();
        lines.push_back(Lines(section).front());
        lines.insert(lines.end(), given.begin(), given.end());
    } else {
        auto last = header;  // the section's last key line
        for (auto line = header + 1; line != lines.end() && !Header(*line);) {
            const std::optional<std::string> key = Key(*line);
            if (!key) {
                ++line;
                continue;
            }
            const auto mine = std::find_if(given.begin(), given.end(),
                                           [&](const std::string& g) { return Key(g) == key; });
            const std::size_t at = static_cast<std::size_t>(mine - given.begin());
            if (mine != given.end() && !placed[at]) {
                *line = *mine;
                placed[at] = true;
            } else if (mine == given.end() && (key == "output" || key == "output_port")) {
                line = lines.erase(line);
                continue;
            }
            last = line++;
        }
        std::vector<std::string> missing;
        for (std::size_t i = 0; i < given.size(); ++i)
            if (!placed[i]) missing.push_back(given[i]);
        lines.insert(last + 1, missing.begin(), missing.end());
    }
    std::string merged(mark ? kByteOrderMark : "");
    for (std::string& line : lines) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        merged += line + end;
    }
    return merged;
}

bool SaveCalibration(const std::filesystem::path& target, const std::string& section,
                     const std::filesystem::path& startFrom, std::string& problem) {
    std::string text;
    if (std::ifstream file(startFrom, std::ios::binary); file) {
        std::ostringstream read;
        read << file.rdbuf();
        text = read.str();
    }
    const std::string merged = MergeCalibration(text, section);
    std::filesystem::path temporary = target;
    temporary += ".new";
    errno = 0;
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    bool ok =
        file != nullptr && std::fwrite(merged.data(), 1, merged.size(), file) == merged.size();
    int reason = errno;
    if (file != nullptr && (std::fflush(file) != 0 || fsync(fileno(file)) != 0)) ok = false;
    if (file != nullptr && std::fclose(file) != 0) ok = false;
    if (reason == 0) reason = errno;
    if (ok && std::rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        reason = errno;
    }
    if (!ok) {
        if (file != nullptr) std::remove(temporary.c_str());
        problem = std::strerror(reason != 0 ? reason : EIO);
    }
    return ok;
}

}  // namespace zel
