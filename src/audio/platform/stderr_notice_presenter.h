#pragma once

// Notices for a terminal program: one line each on stderr, "PROGRAM: TEXT" for information and
// "PROGRAM: critical: TEXT" for a critical notice. Line breaks in a text become spaces.

#include <string>

#include "audio/platform/notice_presenter.h"

namespace zel {

class StderrNoticePresenter final : public NoticePresenter {
  public:
    explicit StderrNoticePresenter(std::string program) : program_(std::move(program)) {}
    void ShowInformation(const std::string& title, const std::string& message) override;
    void ShowCritical(const std::string& message) override;

  private:
    void Print(const std::string& text);

    std::string program_;
};

}  // namespace zel
