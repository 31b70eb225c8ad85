#include "audio/kormodz.h"

#include <cstdio>
#include <cstdlib>

namespace zel {

void EndProcess(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}

void Kormodz::ShowNotice(const std::string& message) {
    presenter_.ShowInformation(NoticeTitle, message);
}

void Kormodz::FatalStop(const std::string& message) {
    presenter_.ShowCritical(message);
    // Leaving the user's other sound sources muted would outlive the program.
    if (writeBack_) writeBack_();
    end_(1);
    // An end that returns breaks its contract; nothing of the caller may run after a fatal stop.
    std::abort();
}

}  // namespace zel
