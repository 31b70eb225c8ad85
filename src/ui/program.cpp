#include "ui/program.h"

#include <QMessageBox>
#include <QSocketNotifier>
#include <QStyle>
#include <QStyleFactory>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "testrun/random_source.h"
#include "testrun/zelmain.h"
#include "ui/about_box.h"
#include "ui/calibration_window.h"
#include "ui/looks.h"
#include "ui/path_registry.h"
#include "ui/zelmain_form.h"

namespace zel::ui {

namespace {

// Qt's platform plugin ends the process on its own when the display goes away (logout with the
// window open, a compositor crash): exit(1) from inside an event loop, the window's or a notice's.
// The write-back runs then too, from an exit handler.
AudioOperations* gWriteBack = nullptr;

void WriteBackAtExit() {
    if (gWriteBack == nullptr) return;
    try {
        gWriteBack->RestoreMixerLevels();
    } catch (...) {
        // Nothing more can be said; what failed has been logged as it failed.
    }
}

}  // namespace

ZelApplication::ZelApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Zel_test"));
    setApplicationVersion(QStringLiteral(ZEL_VERSION));
    setDesktopFileName(QStringLiteral("org.zeltest.ZelTest"));
    setWindowIcon(ProgramIcon());
    // The classic style draws a frame's caption on its border, where the fixed layout expects
    // it, and its controls fit the layout's heights.
    if (QStyle* classic = QStyleFactory::create(QStringLiteral("Windows"))) setStyle(classic);
}

bool ZelApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        Escaped(error);
    } catch (...) {
        Escaped(std::runtime_error("Unknown run-time error"));
    }
    return true;
}

void ZelApplication::Escaped(const std::exception& error) {
    if (report_) {
        report_->Report(error);
        return;
    }
    std::cerr << "zel-test: " << error.what() << std::endl;
    std::exit(1);
}

WindowShell::WindowShell(Registry& registry, ProgramLauncher& launcher, ProgramEnd& end,
                         AudioOperations& audio)
    : registry_(registry), launcher_(launcher), end_(end), audio_(audio) {}

void WindowShell::EndProgram() {
    // Written back already by the quit sequence: this only collects what could not be.
    const std::vector<std::string> problems = audio_.RestoreMixerLevels();
    if (!end_.BySignal()) ShowWriteBackProblems(problems);
    end_.End(problems.empty() ? 0 : 1);
}

void WindowShell::ShowNotice(const std::string& message) {
    QMessageBox box(QMessageBox::Information, ApplicationTitle(), QString::fromStdString(message),
                    QMessageBox::Ok);
    box.exec();
}

void WindowShell::ShowAboutBox() {
    // Created, and so loaded, for every showing; modal, without an owner.
    AboutBox box(registry_, launcher_, TwipsScale(QGuiApplication::primaryScreen()));
    box.exec();
}

bool DisplayAvailable() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

int RunWindow(ZelApplication& app, AudioOperations& audio, std::optional<int> exitSignalFd,
              ProgramEnd& end, ErrorReport& report, const std::function<void()>& load,
              QWidget& window, const std::function<void(int fd)>& watchExitSignal) {
    app.SetErrorReport(&report);
    // A signal during the start-up work (seen while a notice is open) only ends the program:
    // the notice closes, no other opens, and the mixer work done is undone once start-up has
    // finished, so that nothing is left changed.
    std::optional<QSocketNotifier> startUpSignal;
    if (exitSignalFd) {
        startUpSignal.emplace(*exitSignalFd, QSocketNotifier::Read);
        QObject::connect(&*startUpSignal, &QSocketNotifier::activated, [&] {
            startUpSignal->setEnabled(false);
            end.End(0);
        });
    }
    static const bool registered = std::atexit(WriteBackAtExit) == 0;
    gWriteBack = registered ? &audio : nullptr;
    const bool loaded = report.Run(load);
    startUpSignal.reset();
    int status = 0;
    if (loaded && !end.Requested()) {
        if (exitSignalFd) watchExitSignal(*exitSignalFd);
        window.show();
        status = app.exec();
    }
    app.SetErrorReport(nullptr);
    gWriteBack = nullptr;
    if (end.Requested()) status = end.Status();
    // Every way out has written back by now but a signal during the start-up work; either way
    // this says whether everything went back.
    return audio.RestoreMixerLevels().empty() ? status : 1;
}

int RunProgram(ZelApplication& app, AudioOperations& audio, std::optional<int> exitSignalFd) {
    ProgramEnd end;
    ErrorReport report(audio, end, std::cerr);
    PathRegistry registry;
    DetachedLauncher launcher;
    WindowShell shell(registry, launcher, end, audio);
    ProgramRandom random;

    ZelmainForm window(TwipsScale(QGuiApplication::primaryScreen()));
    Zelmain logic(window, audio, shell, random);
    window.Route(logic, report);
    return RunWindow(
        app, audio, exitSignalFd, end, report, [&] { logic.Form_Load(); }, window,
        [&](int fd) { window.WatchExitSignal(fd); });
}

int RunCalibration(ZelApplication& app, ModZeltest& audio, SoundPlayer& player,
                   std::optional<int> exitSignalFd) {
    ProgramEnd end;
    ErrorReport report(audio, end, std::cerr);
    CalibrationWindow window(audio, player, report);
    return RunWindow(
        app, audio, exitSignalFd, end, report,
        [&] {
            audio.InitialiseAudio();
            window.Load();
        },
        window, [&](int fd) { window.WatchExitSignal(fd); });
}

}  // namespace zel::ui
