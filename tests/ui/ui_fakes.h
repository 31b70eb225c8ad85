#pragma once

#include <QMessageBox>
#include <QtTest>
#include <sstream>

#include "fakes/fake_testrun.h"
#include "testrun/zelmain.h"
#include "ui/path_registry.h"
#include "ui/program.h"
#include "ui/zelmain_form.h"

namespace zel::testing {

// The real window and logic, routed, loaded and shown, with everything around them recorded.
struct WindowRig {
    WindowRig() {
        window.Route(logic, report);
        report.Run([this] { logic.Form_Load(); });
        window.show();
        // Access keys need the active window: make it so now rather than wait for the platform.
        QApplication::setActiveWindow(&window);
    }
    void Click(CommandButton button) { QTest::mouseClick(window.Button(button), Qt::LeftButton); }

    FakeAudio audio;
    FedRandom random;
    std::vector<int> ends;  // the statuses the program was asked to end with
    ui::ProgramEnd end{[this](int status) { ends.push_back(status); }};
    std::ostringstream log;
    ui::ErrorReport report{audio, end, log};
    ui::PathRegistry registry{""};
    ui::DetachedLauncher launcher;
    ui::WindowShell shell{registry, launcher, end, audio};
    ui::ZelmainForm window{ui::TwipsScale(96, 96)};
    Zelmain logic{window, audio, shell, random};
};

// A message box's title, text, icon and buttons; then Enter, to the box's focus (not the
// application's, which follows the platform's activation).
inline QString Answer(QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box) return "not a message box: " + w->objectName();
    const QString seen =
        box->windowTitle() + " | " + box->text() +
        QStringLiteral(" | icon %1 | buttons %2").arg(box->icon()).arg(box->standardButtons());
    QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, Qt::Key_Return);
    return seen;
}

// Notes each modal box (all are dialogs) in `shown` as it opens, by what `answer` returns. One
// left open is closed, so that a failing test cannot hang.
struct ModalWatcher {
    explicit ModalWatcher(std::function<QString(QWidget*)> answer = Answer) {
        QObject::connect(&timer, &QTimer::timeout, [this, answer] {
            QWidget* box = QApplication::activeModalWidget();
            if (!box) return;
            shown << answer(box);
            auto* dialog = qobject_cast<QDialog*>(box);
            if (dialog && dialog == QApplication::activeModalWidget())
                dialog->done(QDialog::Rejected);
        });
        timer.start(10);
    }
    QStringList shown;
    QTimer timer;
};

}  // namespace zel::testing
