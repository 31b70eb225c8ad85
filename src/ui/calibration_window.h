#pragma once

// The calibration window (zel-test --calibrate): the output, the steady calibration tone at a base
// frequency, the two levels stepped in dB on this output, the [Calibration] section they make and
// its saving, a trial played at those levels to listen to, and a status line. It routes each event
// to the calibration's own work (Calibrator, ModZeltest) and shows the outcome; closing it stops
// the tone, and the program then puts everything back.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWidget>
#include <array>
#include <filesystem>
#include <functional>

#include "audio/calibrator.h"
#include "audio/mod_zeltest.h"
#include "testrun/random_source.h"
#include "ui/program_end.h"

namespace zel::ui {

class CalibrationWindow final : public QWidget {
  public:
    // `audio` has the program's sound; `player` is the one it plays through. Both, and `report`,
    // must outlive the window.
    CalibrationWindow(ModZeltest& audio, SoundPlayer& player, ErrorReport& report);

    // After the start-up work: the outputs and what is in use.
    void Load();
    // Readable `fd` ends the program as closing the window does, without asking to save.
    void WatchExitSignal(int fd);

    // How the file to save into is chosen: by default Qt's file dialog, starting from `offered`;
    // nothing when the user cancels.
    using FileChooser = std::function<std::filesystem::path(const std::filesystem::path& offered)>;
    void ChooseFilesWith(FileChooser choose) { choose_ = std::move(choose); }

    // For the tests and the screenshots.
    QComboBox* Outputs() const { return outputs_; }
    QRadioButton* Frequency(int index) const { return frequencies_.at(index); }
    QPushButton* PlayButton() const { return play_; }
    QLineEdit* LineLevel(Calibrator::Line line) const { return levels_.at(Index(line)); }
    QPushButton* StepButton(Calibrator::Line line, int dB) const;
    QPlainTextEdit* SectionText() const { return section_; }
    QPushButton* CopyButton() const { return copy_; }
    QPushButton* SaveButton() const { return save_; }
    QPushButton* TrialButton() const { return trial_; }
    QLabel* Status() const { return status_; }

  protected:
    // Asks once whether to save an unsaved calibration, then ends the program.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    static int Index(Calibrator::Line line) { return line == Calibrator::Line::Wave ? 0 : 1; }
    void Build();
    void Handle(const std::function<void()>& handler);
    // Shows the levels, their gains and the section as they are now.
    void Show();
    void Say(const std::string& text);
    void PlayOrStop();
    void Step(Calibrator::Line line, double dB);
    void ChooseOutput(int index);
    void ChooseFrequency(int index);
    // Keeps the tone going; says who else sounds, or why it stopped.
    void Tick();
    void PlayTrial();
    // Saves into the file chosen (the settings file offered first); where it may not be written,
    // offers another place and says how to install it. False when nothing was saved.
    bool Save();
    void End();
    // The tone stopped for what `work` does, then started again if it was playing.
    void Pausing(const std::function<void()>& work);

    ModZeltest& audio_;
    Calibrator calibrator_;
    ErrorReport& report_;
    ProgramRandom random_;
    std::string saved_;  // the section as it was read or last saved
    std::vector<OutputInfo> listed_;
    std::string others_;
    QTimer ticks_;
    FileChooser choose_;

    QComboBox* outputs_ = nullptr;
    std::array<QRadioButton*, 5> frequencies_{};
    QPushButton* play_ = nullptr;
    std::array<QLineEdit*, 2> levels_{};
    std::array<QLabel*, 2> gains_{};
    std::array<std::array<QPushButton*, 4>, 2> steps_{};
    QPlainTextEdit* section_ = nullptr;
    QPushButton* copy_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* trial_ = nullptr;
    QLabel* status_ = nullptr;
};

}  // namespace zel::ui
