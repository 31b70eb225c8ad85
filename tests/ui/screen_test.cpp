// The window on a real X server (ctest starts one through xvfb-run), as another X client sees it:
// `screen_test --grab FILE` saves the whole screen. With ZEL_SCREENSHOTS=DIR it saves the README's
// pictures there, as rendered: what the test shows is what reaches the screen.

#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>

#include "ui/about_box.h"
#include "ui/ui_fakes.h"

using namespace zel;

static QImage OnScreen(QWidget& widget) {
    QTemporaryDir dir;
    QProcess::execute(QCoreApplication::applicationFilePath(), {"--grab", dir.filePath("s.png")});
    return QImage(dir.filePath("s.png"))
        .convertToFormat(QImage::Format_RGB32)
        .copy(QRect(widget.mapToGlobal(QPoint()), widget.size()));
}

class ScreenTest : public QObject {
    Q_OBJECT

  private slots:
    // A presentation blocks the event loop, so only the window's explicit repaints reach the
    // screen before it. At the first tone of each trial the screen must show the window as it
    // is: the counts, the verdict of the last answer, every button that is off.
    void whatPlaysIsOnScreen() {
        testing::WindowRig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window, 60000));
        const QString pictures = qEnvironmentVariable("ZEL_SCREENSHOTS");
        const auto save = [&](QWidget& widget, const QString& name) {
            QVERIFY(pictures.isEmpty() || widget.grab().save(pictures + "/zel-test-" + name));
        };
        save(rig.window, "idle.png");
        QList<bool> same;  // at the first tone of each trial
        rig.audio.onPlay = [&](int played) {
            if (played % 3 != 1) return;
            const QImage seen = OnScreen(rig.window);
            same << (seen == rig.window.grab().toImage().convertToFormat(QImage::Format_RGB32));
        };
        rig.random.Feed({0.75f, 0.25f, 0.5f});  // target first; then second
        rig.Click(CommandButton::cmdStart);
        rig.Click(CommandButton::cmdResponseA);
        rig.Click(CommandButton::cmdResponseA);
        QCOMPARE(same, QList<bool>(3, true));
        save(rig.window, "awaiting.png");
        ui::AboutBox about(rig.registry, rig.launcher, ui::TwipsScale(96, 96));
        about.show();  // as the active window, which shows OK as the default button
        QApplication::setActiveWindow(&about);
        save(about, "about.png");
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--grab") == 0) {
        QGuiApplication app(argc, argv);
        return QGuiApplication::primaryScreen()->grabWindow(0).save(argv[2]) ? 0 : 1;
    }
    zel::ui::ZelApplication app(argc, argv);
    ScreenTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "screen_test.moc"
