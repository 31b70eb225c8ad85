#include "ui/calibration_window.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QVBoxLayout>
#include <cmath>

#include "audio/settings_writer.h"
#include "testrun/headless.h"
#include "testrun/zelmain.h"
#include "ui/looks.h"

namespace zel::ui {

namespace {

constexpr std::array<const char*, 5> kFrequencyCaptions{"&500 Hz", "&1000 Hz", "&2000 Hz",
                                                        "&4000 Hz", "&8000 Hz"};
constexpr std::array<int, 4> kSteps{-6, -1, 1, 6};  // dB
constexpr int16_t kTrialStep = 6;                   // 5.0 %, the test's first setting

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QString Listed(const OutputInfo& output) {
    QString text = Text(output.description + " (" + output.name + ")");
    for (const OutputInfo::Port& port : output.ports) {
        if (port.name == output.activePort) text += Text(", port " + port.description);
    }
    return text;
}

// The command that puts a settings file saved elsewhere where the program reads it.
std::string InstallCommand(const std::filesystem::path& from, const std::filesystem::path& to) {
    return "sudo install -m 644 " + from.string() + " " + to.string();
}

}  // namespace

CalibrationWindow::CalibrationWindow(ModZeltest& audio, SoundPlayer& player, ErrorReport& report)
    : audio_(audio), calibrator_(audio, player, 1000.0f), report_(report) {
    Build();
    choose_ = [this](const std::filesystem::path& offered) -> std::filesystem::path {
        QFileDialog dialog(this, QStringLiteral("Save the calibration"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        // Merged into the file, not written over it: nothing to confirm.
        dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);
        dialog.setDirectory(Text(offered.parent_path().string()));
        dialog.selectFile(Text(offered.string()));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
        return dialog.selectedFiles().front().toStdString();
    };
}

void CalibrationWindow::Build() {
    setWindowTitle(ApplicationTitle() + QStringLiteral(": calibration"));
    setFont(DialogFont());
    auto* layout = new QVBoxLayout(this);

    auto* output = new QGroupBox(QStringLiteral("Output"), this);
    auto* outputRow = new QHBoxLayout(output);
    outputs_ = new QComboBox(output);
    auto* outputLabel = new QLabel(QStringLiteral("&Output:"), output);
    outputLabel->setBuddy(outputs_);
    outputRow->addWidget(outputLabel);
    outputRow->addWidget(outputs_, 1);
    layout->addWidget(output);

    auto* tone =
        new QGroupBox(QStringLiteral("Calibration tone, peak 32,000 (the test's loudest)"), this);
    auto* toneRow = new QHBoxLayout(tone);
    for (std::size_t i = 0; i < frequencies_.size(); ++i) {
        frequencies_[i] = new QRadioButton(QString::fromUtf8(kFrequencyCaptions[i]), tone);
        frequencies_[i]->setChecked(i == 1);  // the test's first setting
        toneRow->addWidget(frequencies_[i]);
        connect(frequencies_[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on) Handle([this, i] { ChooseFrequency(static_cast<int>(i)); });
        });
    }
    play_ = new QPushButton(QStringLiteral("&Play"), tone);
    toneRow->addStretch(1);
    toneRow->addWidget(play_);
    connect(play_, &QPushButton::clicked, this, [this] { Handle([this] { PlayOrStop(); }); });
    layout->addWidget(tone);

    auto* levels =
        new QGroupBox(QStringLiteral("Levels (Up, Down: 1 dB; Page Up, Page Down: 6 dB)"), this);
    auto* grid = new QGridLayout(levels);
    for (const auto line : {Calibrator::Line::Wave, Calibrator::Line::Speakers}) {
        const int row = Index(line);
        auto* name = new QLabel(
            row == 0 ? QStringLiteral("&Wave output") : QStringLiteral("Spea&kers"), levels);
        levels_[row] = new QLineEdit(levels);
        levels_[row]->setReadOnly(true);
        levels_[row]->setMinimumWidth(levels_[row]->fontMetrics().horizontalAdvance("655350") + 8);
        levels_[row]->installEventFilter(this);
        name->setBuddy(levels_[row]);
        gains_[row] = new QLabel(levels);
        grid->addWidget(name, row, 0);
        grid->addWidget(levels_[row], row, 1);
        grid->addWidget(gains_[row], row, 2);
        for (std::size_t k = 0; k < kSteps.size(); ++k) {
            steps_[row][k] = new QPushButton(
                QStringLiteral("%1%2 dB").arg(kSteps[k] > 0 ? "+" : "").arg(kSteps[k]), levels);
            grid->addWidget(steps_[row][k], row, 3 + static_cast<int>(k));
            connect(steps_[row][k], &QPushButton::clicked, this,
                    [this, line, k] { Handle([this, line, k] { Step(line, kSteps[k]); }); });
        }
    }
    layout->addWidget(levels);

    auto* file = new QGroupBox(QStringLiteral("For the settings file"), this);
    auto* fileRow = new QHBoxLayout(file);
    section_ = new QPlainTextEdit(file);
    section_->setReadOnly(true);
    section_->setFixedHeight(section_->fontMetrics().lineSpacing() * 7);
    auto* fileButtons = new QVBoxLayout;
    copy_ = new QPushButton(QStringLiteral("&Copy"), file);
    save_ = new QPushButton(QStringLiteral("Sa&ve..."), file);
    fileButtons->addWidget(copy_);
    fileButtons->addWidget(save_);
    fileButtons->addStretch(1);
    fileRow->addWidget(section_, 1);
    fileRow->addLayout(fileButtons);
    connect(copy_, &QPushButton::clicked, this, [this] {
        QGuiApplication::clipboard()->setText(Text(calibrator_.Section()));
        Say("The section is on the clipboard.");
    });
    connect(save_, &QPushButton::clicked, this, [this] { Handle([this] { Save(); }); });
    layout->addWidget(file);

    trial_ = new QPushButton(QStringLiteral("Play a &trial"), this);
    trial_->setToolTip(QStringLiteral("One trial as the test plays it, at these levels"));
    connect(trial_, &QPushButton::clicked, this, [this] { Handle([this] { PlayTrial(); }); });
    layout->addWidget(trial_, 0, Qt::AlignLeft);

    status_ = new QLabel(this);
    status_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    status_->setWordWrap(true);
    status_->setMinimumHeight(status_->fontMetrics().lineSpacing() * 2 + 4);
    layout->addWidget(status_);

    auto* quit = new QAction(this);
    quit->setShortcut(QKeySequence::Quit);
    addAction(quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);
    connect(outputs_, &QComboBox::activated, this,
            [this](int index) { Handle([this, index] { ChooseOutput(index); }); });
    connect(&ticks_, &QTimer::timeout, this, [this] { Handle([this] { Tick(); }); });
}

void CalibrationWindow::Handle(const std::function<void()>& handler) {
    report_.Run(handler);
}

void CalibrationWindow::Load() {
    listed_.clear();
    audio_.ListOutputs(listed_);
    OutputInfo inUse;
    audio_.OutputInUse(inUse);
    const QSignalBlocker quiet(outputs_);
    outputs_->clear();
    for (const OutputInfo& output : listed_) {
        outputs_->addItem(Listed(output));
        if (output.name == inUse.name) outputs_->setCurrentIndex(outputs_->count() - 1);
    }
    outputs_->setEnabled(!listed_.empty());
    saved_ = calibrator_.Section();
    Show();
}

QPushButton* CalibrationWindow::StepButton(Calibrator::Line line, int dB) const {
    for (std::size_t k = 0; k < kSteps.size(); ++k) {
        if (kSteps[k] == dB) return steps_.at(Index(line)).at(k);
    }
    return nullptr;
}

void CalibrationWindow::Show() {
    for (const auto line : {Calibrator::Line::Wave, Calibrator::Line::Speakers}) {
        const std::optional<double> gain = calibrator_.Gain(line);
        levels_[Index(line)]->setText(QString::number(calibrator_.Level(line)));
        gains_[Index(line)]->setText(!gain               ? QStringLiteral("no dB scale")
                                     : std::isinf(*gain) ? QStringLiteral("silent")
                                                         : QString::asprintf("%+.2f dB", *gain));
    }
    section_->setPlainText(Text(calibrator_.Section()));
    play_->setText(calibrator_.Playing() ? QStringLiteral("&Stop") : QStringLiteral("&Play"));
}

void CalibrationWindow::Say(const std::string& text) {
    status_->setText(Text(text));
    status_->repaint();
}

void CalibrationWindow::PlayOrStop() {
    if (calibrator_.Playing()) {
        calibrator_.Stop();
        ticks_.stop();
    } else if (calibrator_.Start()) {
        ticks_.start(20);
        Say("");
    } else {
        Say(calibrator_.Stopped().empty()
                ? "There is no sound output to play on (the notice at start-up said why)."
                : calibrator_.Stopped());
    }
    others_.clear();
    Show();
}

void CalibrationWindow::Tick() {
    if (!calibrator_.Continue()) {
        ticks_.stop();
        Say(calibrator_.Stopped());
        Show();
        return;
    }
    // The meter reads their sound too.
    const std::vector<std::string> others = calibrator_.Others();
    const std::string told =
        others.empty() ? std::string() : "Also sounding here: " + ListedNames(others) + ".";
    if (told != others_) Say(told);
    others_ = told;
}

void CalibrationWindow::Step(Calibrator::Line line, double dB) {
    const std::string note = calibrator_.Step(line, dB);
    Show();
    Say(note.empty()
            ? std::string()
            : "The " + std::string(line == Calibrator::Line::Wave ? "wave output" : "speakers") +
                  " level is " + note + ".");
}

void CalibrationWindow::Pausing(const std::function<void()>& work) {
    const bool playing = calibrator_.Playing();
    if (playing) calibrator_.Stop();
    work();
    if (playing && calibrator_.Start()) ticks_.start(20);
    Show();
}

void CalibrationWindow::ChooseOutput(int index) {
    if (index < 0 || index >= static_cast<int>(listed_.size())) return;
    const OutputInfo chosen = listed_[static_cast<std::size_t>(index)];
    Pausing([&] { audio_.SwitchOutput(chosen.name, chosen.activePort); });
    Say("Calibrating " + chosen.description + "; what was changed on the output before is back.");
}

void CalibrationWindow::ChooseFrequency(int index) {
    Pausing([&] { calibrator_.Frequency(kBaseFrequencies.at(static_cast<std::size_t>(index))); });
}

void CalibrationWindow::PlayTrial() {
    if (calibrator_.Playing()) calibrator_.Stop();
    ticks_.stop();
    Show();
    Say("Playing a trial...");
    HeadlessWindow window;
    HeadlessShell shell;
    Zelmain trial(window, audio_, shell, random_);
    trial.Settings().SampleRate = 22050;
    int16_t frequency = 0;
    for (std::size_t i = 0; i < frequencies_.size(); ++i) {
        if (frequencies_[i]->isChecked()) frequency = static_cast<int16_t>(i);
    }
    trial.optFrequency_Click(frequency);
    trial.optFrequencyDifference_Click(kTrialStep);
    trial.optTestFormat_Click(kFrequencyDifference);
    trial.cmdStart_Click();
    if (trial.State() != TrialState::AwaitingAnswer) {
        Say("The trial was not played (the notice said why).");
        return;
    }
    trial.cmdFinish_Click();
    Say(std::string("A trial played at these levels, as the test plays it: the higher tone (by "
                    "5 %) came ") +
        (trial.CorrectInterval() == 1 ? "first." : "second."));
}

bool CalibrationWindow::Save() {
    const std::filesystem::path offered = audio_.Settings().SettingsPath();
    const std::filesystem::path chosen = choose_(offered);
    if (chosen.empty()) return false;
    const std::string section = calibrator_.Section();
    std::string problem;
    if (SaveCalibration(chosen, section, chosen, problem)) {
        saved_ = section;
        Say("Saved in " + chosen.string() + ".");
        return true;
    }
    // Typically the system's file, writable by root only: saved elsewhere, with the rest of the
    // file it is to replace, it is one command from being in place.
    const std::filesystem::path elsewhere =
        std::filesystem::path(QDir::homePath().toStdString()) / chosen.filename();
    QMessageBox box(
        QMessageBox::Warning, ApplicationTitle(),
        Text(chosen.string() + " cannot be written (" + problem +
             "). Save the calibration elsewhere, then install it for everyone with:\n\n" +
             InstallCommand(elsewhere, chosen)),
        QMessageBox::Cancel, this);
    box.addButton(QStringLiteral("Save &Elsewhere..."), QMessageBox::AcceptRole);
    if (box.exec() != QMessageBox::Cancel) {
        const std::filesystem::path other = choose_(elsewhere);
        if (!other.empty() && SaveCalibration(other, section, chosen, problem)) {
            saved_ = section;
            Say("Saved in " + other.string() +
                ". To install it for everyone: " + InstallCommand(other, chosen));
            return true;
        }
        if (!other.empty()) Say(other.string() + " cannot be written (" + problem + ").");
    }
    return false;
}

void CalibrationWindow::End() {
    ticks_.stop();
    if (calibrator_.Playing()) calibrator_.Stop();
    Show();
    report_.End().End(0);
}

void CalibrationWindow::closeEvent(QCloseEvent* event) {
    if (!report_.End().Requested() && calibrator_.Section() != saved_) {
        const auto answer = QMessageBox::question(
            this, ApplicationTitle(), QStringLiteral("Save the calibration before closing?"),
            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
        if (answer == QMessageBox::Cancel || (answer == QMessageBox::Save && !Save())) {
            event->ignore();
            return;
        }
    }
    End();
    event->accept();
}

bool CalibrationWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    const auto line = watched == levels_[0] ? Calibrator::Line::Wave : Calibrator::Line::Speakers;
    const int key = static_cast<QKeyEvent*>(event)->key();
    const double dB = key == Qt::Key_Up         ? 1
                      : key == Qt::Key_Down     ? -1
                      : key == Qt::Key_PageUp   ? 6
                      : key == Qt::Key_PageDown ? -6
                                                : 0;
    if (dB == 0) return QWidget::eventFilter(watched, event);
    Handle([this, line, dB] { Step(line, dB); });
    return true;
}

void CalibrationWindow::WatchExitSignal(int fd) {
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier, fd] {
        // Once is enough: the program is ending, and nobody may be at the screen to ask.
        notifier->setEnabled(false);
        char discard[256];
        [[maybe_unused]] const ssize_t ignored = ::read(fd, discard, sizeof discard);
        report_.End().Signalled();
        End();
    });
}

}  // namespace zel::ui
