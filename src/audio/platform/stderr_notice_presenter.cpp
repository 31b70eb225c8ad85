#include "audio/platform/stderr_notice_presenter.h"

#include <algorithm>
#include <cstdio>

namespace zel {

void StderrNoticePresenter::ShowInformation(const std::string& title, const std::string& message) {
    Print(title.empty() ? message : title + ": " + message);
}

void StderrNoticePresenter::ShowCritical(const std::string& message) {
    Print("critical: " + message);
}

void StderrNoticePresenter::Print(const std::string& text) {
    std::string line = program_ + ": " + text;
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    line += '\n';
    // One write, so the line is not interleaved with other output.
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace zel
