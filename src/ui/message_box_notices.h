#pragma once

// The sound code's notices as modal message boxes with an OK button.

#include "audio/platform/notice_presenter.h"

namespace zel::ui {

class MessageBoxNotices final : public NoticePresenter {
  public:
    void ShowInformation(const std::string& title, const std::string& message) override;
    void ShowCritical(const std::string& message) override;
};

}  // namespace zel::ui
