#pragma once

// Shows the program's notices to the user. The window shows real message boxes; the stimulus
// tool prints one line each on stderr. Both calls are modal: they return when the user has
// dismissed the notice (at once where nobody is asked).

#include <string>

namespace zel {

class NoticePresenter {
  public:
    virtual ~NoticePresenter() = default;

    // An information notice with an OK button and the given title; an empty title shows the
    // application's name.
    virtual void ShowInformation(const std::string& title, const std::string& message) = 0;
    // A critical notice with an OK button under the application's name. It only shows: ending
    // the program is the caller's business.
    virtual void ShowCritical(const std::string& message) = 0;
};

}  // namespace zel
