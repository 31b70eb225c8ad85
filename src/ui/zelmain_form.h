#pragma once

// The main window: the controls and menus laid out as fixed twips, and the routing of each of
// their events to one handler of the test's logic (Zelmain). It holds no test logic itself.

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QRadioButton>
#include <array>

#include "testrun/zelmain.h"
#include "testrun/zelmain_window.h"
#include "ui/program_end.h"
#include "ui/twips.h"

class QSocketNotifier;

namespace zel::ui {

class ZelmainForm final : public QMainWindow, public ZelmainWindow {
  public:
    explicit ZelmainForm(const TwipsScale& scale);

    // Sends every event of the controls and menus to `logic`, each through `report`.
    void Route(Zelmain& logic, ErrorReport& report);
    // Readable `fd` ends the program the way File > Exit does, mixer write-back included (the
    // sound code's signal handler writes to it). What is read is thrown away.
    void WatchExitSignal(int fd);

    // ZelmainWindow
    void SetButtonEnabled(CommandButton button, bool enabled) override;
    void SetOptionEnabled(OptionGroup group, int16_t index, bool enabled) override;
    void SelectOption(OptionGroup group, int16_t index) override;
    void SetLabelCaption(Label label, const std::string& text) override;
    void SetFrame4Caption(const std::string& text) override;
    void RepaintLabel(Label label) override;
    void RepaintWindow() override;

    QPushButton* Button(CommandButton button) const;
    QButtonGroup* Group(OptionGroup group) const;
    QLabel* Caption(Label label) const;

  protected:
    // The close box leaves the way File > Exit does, so the mixer is written back.
    void closeEvent(QCloseEvent* event) override;

  private:
    void Build(const TwipsScale& scale);
    void BuildMenus();
    void Handle(const std::function<void()>& handler);
    // For the handlers that present a trial: the presentation blocks the event loop, so what
    // the listener clicked or typed meanwhile is still queued when it ends; drop it, or it would
    // reach the answer buttons that have just been enabled.
    void HandleAndDiscardQueuedInput(const std::function<void()>& handler);

    Zelmain* logic_ = nullptr;
    ErrorReport* report_ = nullptr;
    QSocketNotifier* exitSignal_ = nullptr;
    std::array<QPushButton*, 4> buttons_{};
    std::array<QButtonGroup*, 3> groups_{};
    std::array<QLabel*, 3> labels_{};
    QGroupBox* frame4_ = nullptr;
};

}  // namespace zel::ui
