#pragma once

// The About box: the program's icon, title and version, a line on what the test does, a notice,
// OK, and System Info, which starts the system's information program found through the registry.
// It is loaded afresh (Form_Load) every time it is created; it is created for every showing.

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <cstdint>
#include <string>

#include "ui/program_launcher.h"
#include "ui/registry.h"
#include "ui/twips.h"

namespace zel::ui {

inline constexpr const char* kSysInfoUnavailable = "System Information Is Unavailable At This Time";

class AboutBox final : public QDialog {
  public:
    AboutBox(Registry& registry, ProgramLauncher& launcher, const TwipsScale& scale);

    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void StartSysInfo();
    // Reads one value of the key `KeyName` below `KeyRoot` into `KeyVal`: text as it is (one
    // terminating zero dropped), a 32-bit number as signed decimal text, any other type leaves
    // `KeyVal` alone. False, with `KeyVal` empty, when the key or the value cannot be read
    // (a value of more than 1024 bytes cannot). A value of no bytes at all is a run-time error.
    bool GetKeyValue(const int32_t& KeyRoot, const std::string& KeyName,
                     const std::string& SubKeyRef, std::string& KeyVal);

  protected:
    // Esc and the close box unload the box as OK does.
    void reject() override { cmdOK_Click(); }

  private:
    Registry& registry_;
    ProgramLauncher& launcher_;
    QLabel* lblTitle_;
    QLabel* lblVersion_;
};

}  // namespace zel::ui
