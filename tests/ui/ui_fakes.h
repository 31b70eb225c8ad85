#pragma once

// What the window tests put around the real window: sound, draws, program launches and the
// end of the program, all recorded; and a helper that answers the modal boxes the code opens.

#include <QApplication>
#include <QTimer>
#include <QtTest>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fakes/fake_registry.h"
#include "testrun/audio_operations.h"
#include "testrun/random_source.h"
#include "testrun/zelmain.h"
#include "ui/program.h"
#include "ui/zelmain_form.h"

namespace zel::testing {

// Sound that plays instantly, runs the test's hook on each image, and counts mixer write-backs.
class HookedAudio final : public AudioOperations {
  public:
    void InitialiseAudio() override {}
    int32_t PlayWaveImage(const WaveImage&) override {
        ++played;
        if (onPlay) onPlay(played);
        return 1;
    }
    PresentationEnd EndPresentation() override { return PresentationEnd::Played; }
    void RestoreMixerLevels() override { ++restores; }

    std::function<void(int played)> onPlay;
    int played = 0;
    int restores = 0;
};

// Draws fed by the test; when they run out, 0.
class FedRandom final : public RandomSource {
  public:
    void Feed(const std::vector<float>& values) {
        draws_.insert(draws_.end(), values.begin(), values.end());
    }
    float Draw() override {
        if (draws_.empty()) return 0.0f;
        const float value = draws_.front();
        draws_.pop_front();
        return value;
    }

  private:
    std::deque<float> draws_;
};

class FakeLauncher final : public ui::ProgramLauncher {
  public:
    bool IsOrdinaryFile(const std::string& path) override { return files.contains(path); }
    bool Start(const std::string& path) override {
        tried.push_back(path);
        return startable.contains(path);
    }

    std::set<std::string> files;
    std::set<std::string> startable;
    std::vector<std::string> tried;
};

// The real window and logic, with everything around them recorded.
struct WindowRig {
    WindowRig() {
        window.Route(logic, report);
        report.Run([this] { logic.Form_Load(); });
        window.show();
    }
    QPushButton* Button(CommandButton button) { return window.Button(button); }

    HookedAudio audio;
    FedRandom random;
    std::vector<int> ends;
    ui::ProgramEnd end{[this](int status) { ends.push_back(status); }};
    std::ostringstream log;
    ui::ErrorReport report{audio, end, log};
    FakeRegistry registry;
    FakeLauncher launcher;
    ui::WindowShell shell{registry, launcher, end};
    ui::ZelmainForm window{ui::TwipsScale(96, 96)};
    Zelmain logic{window, audio, shell, random};
};

// Answers modal boxes as they open: `answer` gets each one to read and close it. A box that it
// leaves open is closed, so a failing test cannot hang.
class ModalWatcher {
  public:
    explicit ModalWatcher(std::function<void(QWidget*)> answer) : answer_(std::move(answer)) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* box = QApplication::activeModalWidget();
            if (!box || !box->isVisible()) return;
            ++seen;
            answer_(box);
            if (box == QApplication::activeModalWidget() && box->isVisible()) box->close();
        });
        timer_.start();
    }

    int seen = 0;

  private:
    std::function<void(QWidget*)> answer_;
    QTimer timer_;
};

// Presses `key` on the widget with the focus inside `box` (or on the box).
inline void PressIn(QWidget* box, Qt::Key key) {
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus && box->isAncestorOf(focus) ? focus : box, key);
}

}  // namespace zel::testing
