#include "ui/program_end.h"

#include <QApplication>
#include <QMessageBox>
#include <ostream>
#include <stdexcept>

namespace zel::ui {

ProgramEnd::ProgramEnd() : quit_([](int status) { QCoreApplication::exit(status); }) {}

void ProgramEnd::End(int status) {
    if (requested_) {
        // A failure reported after the end was asked for still sets the status: a failure must
        // never end as success.
        if (status != 0 && status_ == 0) {
            status_ = status;
            quit_(status);
        }
        return;
    }
    requested_ = true;
    status_ = status;
    quit_(status);
}

ErrorReport::ErrorReport(AudioOperations& audio, ProgramEnd& end, std::ostream& log)
    : audio_(audio), end_(end), log_(log) {}

bool ErrorReport::Run(const std::function<void()>& handler) {
    if (end_.Requested()) return false;
    try {
        handler();
        return true;
    } catch (const std::exception& error) {
        Report(error);
    } catch (...) {
        Report(std::runtime_error("Unknown run-time error"));
    }
    return false;
}

void ErrorReport::Report(const std::exception& error) {
    log_ << "zel-test: " << error.what() << std::endl;
    // A second error while the first is on screen (or after the end) only goes to the log: the
    // first report ends the program.
    if (reporting_ || end_.Requested()) return;
    reporting_ = true;
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), QString::fromUtf8(error.what()),
                    QMessageBox::Ok);
    box.exec();
    try {
        ShowWriteBackProblems(audio_.RestoreMixerLevels());
    } catch (const std::exception& failed) {
        log_ << "zel-test: " << failed.what() << std::endl;
    }
    end_.End(1);
}

QString ApplicationTitle() {
    return QCoreApplication::applicationName();
}

void ShowWriteBackProblems(const std::vector<std::string>& problems) {
    if (problems.empty()) return;
    QString text = QStringLiteral("The sound settings could not all be put back as they were:");
    for (const std::string& problem : problems) text += "\n- " + QString::fromStdString(problem);
    text += QStringLiteral("\nPut them back in the desktop's sound settings or with alsamixer.");
    QMessageBox box(QMessageBox::Warning, ApplicationTitle(), text, QMessageBox::Ok);
    box.exec();
}

}  // namespace zel::ui
