// The main window under Qt Test: its state as the listener sees it through a whole run, its keys
// and tab order. What reaches the screen, and input given while a trial plays, are checked on a
// real X server (screen_test.cpp).

#include <QAction>
#include <QGroupBox>
#include <QtTest>
#include <algorithm>

#include "ui/ui_fakes.h"

using namespace zel;
using zel::testing::WindowRig;

namespace {

// The window as the listener sees it, in one line: which buttons are on ('+') or off ('-') in
// the order Start, First, Second, Finish; whether the option groups are on; the three boxes.
QString Seen(WindowRig& rig) {
    QString buttons;
    for (auto button : {CommandButton::cmdStart, CommandButton::cmdResponseA,
                        CommandButton::cmdResponseB, CommandButton::cmdFinish}) {
        buttons += rig.Button(button)->isEnabled() ? '+' : '-';
    }
    int optionsOn = 0;
    for (auto group : {OptionGroup::optFrequency, OptionGroup::optFrequencyDifference,
                       OptionGroup::optTestFormat}) {
        for (QAbstractButton* member : rig.window.Group(group)->buttons()) {
            optionsOn += member->isEnabled();
        }
    }
    const QString options = optionsOn == 14 ? "on" : optionsOn == 0 ? "off" : "mixed";
    return QStringLiteral("%1 options %2 [%3] trials [%4] correct [%5]")
        .arg(buttons, options, rig.window.Caption(Label::lblStatus)->text(),
             rig.window.Caption(Label::lblTrialNumber)->text(),
             rig.window.Caption(Label::lblNumberCorrect)->text());
}

QString Selection(WindowRig& rig) {
    return QStringLiteral("%1 %2 %3")
        .arg(rig.window.Group(OptionGroup::optFrequency)->checkedButton()->text(),
             rig.window.Group(OptionGroup::optFrequencyDifference)->checkedButton()->text(),
             rig.window.Group(OptionGroup::optTestFormat)->checkedButton()->text());
}

// The captions of the controls that `count` presses of Tab land on, one after another.
QString TabPath(int count) {
    QStringList path;
    for (int i = 0; i < count; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        const auto* button = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
        path << (button ? button->text() : QStringLiteral("?"));
    }
    return path.join('|');
}

QGroupBox* Frame4(WindowRig& rig) {
    return rig.window.findChild<QGroupBox*>("Frame4");
}

}  // namespace

class ZelmainFormTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        rig_ = std::make_unique<WindowRig>();
        QVERIFY(QTest::qWaitForWindowActive(&rig_->window));
    }
    void cleanup() { rig_.reset(); }

    void freshStart() {
        QCOMPARE(Seen(*rig_), "+--- options on [] trials [] correct []");
        QCOMPARE(Selection(*rig_), "1000 Hz 5.0% Frequency difference ");
        QCOMPARE(Frame4(*rig_)->title(), "Frequency difference");
        QCOMPARE(rig_->window.windowTitle(), "Zel Test");
        QCOMPARE(QApplication::focusWidget(), rig_->Button(CommandButton::cmdStart));
        // The client area below the menu bar, in pixels at 96 DPI.
        QCOMPARE(rig_->window.centralWidget()->size(), QSize(413, 299));
        QCOMPARE(rig_->window.findChild<QAction*>("mnuFileExit")->text(), "E&xit");
        // Five frames and the 23 controls in them.
        QCOMPARE(rig_->window.centralWidget()->findChildren<QWidget*>().size(), 28);
    }

    // Twips become pixels by each axis's own DPI (1440 twips to the inch).
    void layoutFollowsTheDpi() {
        ui::ZelmainForm wide(ui::TwipsScale(144, 96));
        wide.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wide));
        QCOMPARE(wide.centralWidget()->size(), QSize(619, 299));
        QCOMPARE(wide.Button(CommandButton::cmdResponseB)->geometry(), QRect(144, 56, 122, 57));
    }

    // Index order is left-to-right, and a click reaches the group's handler with the Index.
    void optionClickReachesHandlerWithIndex_data() {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("stored");  // FrequencyIndex, StepIndex, TestFormat
        QTest::newRow("third step") << int(OptionGroup::optFrequencyDifference) << 2 << "0.25%"
                                    << "0 2 0";
        QTest::newRow("selected again") << int(OptionGroup::optFrequency) << 1 << "1000 Hz"
                                        << "1 0 0";
        QTest::newRow("format") << int(OptionGroup::optTestFormat) << 1 << "Frequency modulation "
                                << "0 0 1";
    }
    void optionClickReachesHandlerWithIndex() {
        QFETCH(int, group);
        QFETCH(int, index);
        QFETCH(QString, caption);
        QFETCH(QString, stored);
        QButtonGroup* members = rig_->window.Group(static_cast<OptionGroup>(group));
        QList<QAbstractButton*> byPosition = members->buttons();
        std::sort(byPosition.begin(), byPosition.end(),
                  [](auto* a, auto* b) { return a->x() < b->x(); });
        for (int i = 0; i < byPosition.size(); ++i) QCOMPARE(members->id(byPosition[i]), i);

        QCOMPARE(members->button(index)->text(), caption);
        // Zeroed first, so that the handler must store the Index again.
        TrialSettings& s = rig_->logic.Settings();
        s = TrialSettings{};
        QTest::mouseClick(members->button(index), Qt::LeftButton);
        QCOMPARE(
            QStringLiteral("%1 %2 %3").arg(s.FrequencyIndex).arg(s.StepIndex).arg(s.TestFormat),
            stored);
    }

    // Start, two answers, Finish and Start again: what is on the window while each trial plays
    // and when it is over.
    void wholeRun() {
        struct Step {
            const char* event;
            std::vector<float> draws;  // order, standard level, target level
            const char* whilePlaying;
            const char* after;
        };
        const Step steps[] = {
            {"Start",
             {0.75f, 0.25f, 0.5f},  // target first
             "---- options off [] trials [0] correct [0]",
             "-+++ options off [Select higher] trials [0] correct [0]"},
            {"First",
             {0.5f, 0.0f, 0.5f},  // right; next target second
             "---- options off [Correct] trials [1] correct [1]",
             "-+++ options off [Select higher] trials [1] correct [1]"},
            {"First",
             {0.9f, 0.5f, 0.5f},  // wrong
             "---- options off [Incorrect] trials [2] correct [1]",
             "-+++ options off [Select higher] trials [2] correct [1]"},
            {"Finish", {}, nullptr, "+--- options on [] trials [2] correct [1]"},
            {"Start",
             {0.1f, 0.5f, 0.5f},
             "---- options off [] trials [0] correct [0]",
             "-+++ options off [Select higher] trials [0] correct [0]"},
        };
        std::vector<QString> seenWhilePlaying;
        rig_->audio.onPlay = [&](int) { seenWhilePlaying.push_back(Seen(*rig_)); };
        for (const Step& step : steps) {
            seenWhilePlaying.clear();
            rig_->random.Feed(step.draws);
            const QString event = step.event;
            const auto button = event == "Start"   ? CommandButton::cmdStart
                                : event == "First" ? CommandButton::cmdResponseA
                                                   : CommandButton::cmdFinish;
            QTest::mouseClick(rig_->Button(button), Qt::LeftButton);
            if (step.whilePlaying) {
                QCOMPARE(seenWhilePlaying.size(), std::size_t{3});
                for (const QString& seen : seenWhilePlaying) QCOMPARE(seen, step.whilePlaying);
            } else {
                QVERIFY(seenWhilePlaying.empty());
            }
            QCOMPARE(Seen(*rig_), step.after);
            QCOMPARE(Selection(*rig_), "1000 Hz 5.0% Frequency difference ");
        }
        QCOMPARE(rig_->audio.played, 12);
    }

    void frame4FollowsTheFormat() {
        QButtonGroup* format = rig_->window.Group(OptionGroup::optTestFormat);
        QTest::mouseClick(format->button(1), Qt::LeftButton);
        QCOMPARE(Frame4(*rig_)->title(), "Frequency modulation");
        QTest::mouseClick(rig_->Button(CommandButton::cmdStart), Qt::LeftButton);
        QCOMPARE(rig_->window.Caption(Label::lblStatus)->text(), "Select modulated");
        QTest::mouseClick(rig_->Button(CommandButton::cmdFinish), Qt::LeftButton);
        QCOMPARE(Selection(*rig_), "1000 Hz 5.0% Frequency modulation ");
        QTest::mouseClick(format->button(0), Qt::LeftButton);
        QCOMPARE(Frame4(*rig_)->title(), "Frequency difference");
    }

    void accessKeys_data() {
        QTest::addColumn<bool>("awaiting");  // else idle
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("seen");
        QTest::newRow("Alt+A starts")
            << false << int(Qt::Key_A) << "-+++ options off [Select higher] trials [0] correct [0]";
        QTest::newRow("Alt+I finishes")
            << true << int(Qt::Key_I) << "+--- options on [] trials [0] correct [0]";
        QTest::newRow("Alt+S answers Second")
            << true << int(Qt::Key_S) << "-+++ options off [Select higher] trials [1] correct [1]";
        QTest::newRow("Alt+I while Finish is off")
            << false << int(Qt::Key_I) << "+--- options on [] trials [] correct []";
        QTest::newRow("Alt+S while Second is off")
            << false << int(Qt::Key_S) << "+--- options on [] trials [] correct []";
        QTest::newRow("Alt+A while Start is off")
            << true << int(Qt::Key_A) << "-+++ options off [Select higher] trials [0] correct [0]";
    }
    void accessKeys() {
        QFETCH(bool, awaiting);
        QFETCH(int, key);
        QFETCH(QString, seen);
        if (awaiting) {
            rig_->random.Feed({0.5f, 0.5f, 0.5f});  // target second
            QTest::mouseClick(rig_->Button(CommandButton::cmdStart), Qt::LeftButton);
        }
        QTest::keyClick(&rig_->window, static_cast<Qt::Key>(key), Qt::AltModifier);
        // A button's access key clicks it a moment later, once it has been seen pressed.
        QTest::qWait(250);
        QCOMPARE(Seen(*rig_), seen);
    }

    // Tab goes round the enabled controls in the declared order; an option group is one stop, on
    // its selected member, wherever the selection came from; an arrow key selects within it.
    void tabOrder() {
        const auto group = [&](OptionGroup g) { return rig_->window.Group(g); };
        rig_->Button(CommandButton::cmdStart)->setFocus();
        QCOMPARE(TabPath(4), "1000 Hz|5.0%|Frequency difference |St&art");

        QCOMPARE(TabPath(2), "1000 Hz|5.0%");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
        QCOMPARE(QApplication::focusWidget(),
                 group(OptionGroup::optFrequencyDifference)->button(5));
        QCOMPARE(rig_->logic.Settings().StepIndex, 5);
        QTest::mouseClick(group(OptionGroup::optFrequency)->button(3), Qt::LeftButton);
        rig_->window.SelectOption(OptionGroup::optTestFormat, 1);
        rig_->Button(CommandButton::cmdStart)->setFocus();
        QCOMPARE(TabPath(4), "4000 Hz|2.0%|Frequency modulation |St&art");

        QTest::mouseClick(rig_->Button(CommandButton::cmdStart), Qt::LeftButton);
        rig_->Button(CommandButton::cmdResponseA)->setFocus();
        QCOMPARE(TabPath(4), "F&inish|&Second|&First|F&inish");

        // Finish enables the groups and selects the stored settings again, so the format chosen
        // behind the logic's back is undone, and its stop with it.
        QTest::mouseClick(rig_->Button(CommandButton::cmdFinish), Qt::LeftButton);
        rig_->Button(CommandButton::cmdStart)->setFocus();
        QCOMPARE(TabPath(4), "4000 Hz|2.0%|Frequency difference |St&art");
    }

    void resizingMovesNothing() {
        const auto places = [&] {
            QList<QRect> list;
            for (QWidget* w : rig_->window.centralWidget()->findChildren<QWidget*>()) {
                list << QRect(w->mapTo(&rig_->window, QPoint()), w->size());
            }
            return list;
        };
        const QList<QRect> before = places();
        for (QSize size : {QSize(800, 600), QSize(200, 150)}) {
            rig_->window.resize(size);
            QTest::qWait(20);
            QCOMPARE(places(), before);
        }
    }

  private:
    std::unique_ptr<WindowRig> rig_;
};

QTEST_MAIN(ZelmainFormTest)
#include "zelmain_form_test.moc"
