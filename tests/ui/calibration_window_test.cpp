// The calibration window, offscreen, on a real sound server with two null sinks.

#include "ui/calibration_window.h"

#include <QFileDialog>
#include <QRegularExpression>
#include <QStyleFactory>
#include <QtTest>
#include <fstream>
#include <optional>

#include "support/real_audio.h"
#include "support/sound_server.h"
#include "ui/ui_fakes.h"

using namespace zel;
using testing::Has;
using testing::ServerKind;
using testing::TestSoundServer;

// Answers a message box with the button captioned `button` (nothing: Discard), noting its text.
static QString Answer(QWidget* w, const QString& button) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box) return "?";
    for (QAbstractButton* b : box->buttons())
        if (b->text() == button) b->click();
    if (box->isVisible()) box->done(QMessageBox::Discard);
    return box->text();
}

class CalibrationWindowTest : public QObject {
    Q_OBJECT

  private slots:
    // The look the program gives its windows.
    void initTestCase() { QApplication::setStyle(QStyleFactory::create("Windows")); }

    void onAServer() {
        std::string why;
        const ServerKind kind = TestSoundServer::Available(ServerKind::PulseAudio, why)
                                    ? ServerKind::PulseAudio
                                    : ServerKind::PipeWire;
        if (!TestSoundServer::Available(kind, why)) {
            if (std::getenv("ZEL_TEST_ALL_SERVERS")) QFAIL(why.c_str());
            QSKIP(why.c_str());
        }
        TestSoundServer server(kind);
        const auto volume = [&](const QString& sink) {
            const std::string out = server.Pactl({"get-sink-volume", sink}).out;
            return std::stoll(out.substr(out.find("mono: ") + 6));
        };
        // The program's stream: the sink it plays on, and its volume in dB.
        const auto stream = [&] {
            const QString listed =
                QString::fromStdString(server.Pactl({"list", "sink-inputs"}).out);
            const auto found =
                QRegularExpression(
                    R"(Sink: (\d+)[\s\S]*?Volume: mono: +\d+ / +\d+% / +(-?[\d.]+) dB)")
                    .match(listed);
            return std::pair{found.captured(1), found.captured(2).toDouble()};
        };
        const auto sinkId = [&](const QString& name) {
            for (const QString& line :
                 QString::fromStdString(server.Pactl({"list", "short", "sinks"}).out).split('\n'))
                if (line.section('\t', 1, 1) == name) return line.section('\t', 0, 0);
            return QString();
        };
        server.Pactl({"set-sink-volume", "testsink", "40000"});
        server.Pactl({"load-module", "module-null-sink", "sink_name=othersink", "rate=22050",
                      "channels=1", "format=s16le", "norewinds=1"});
        server.Pactl({"set-sink-volume", "othersink", "30000"});
        QTemporaryDir folder;
        const std::string file = folder.filePath("Zel_test.ini").toStdString();
        std::ofstream(file) << "; lab 3, headphones A\n[Calibration]\nWave_volume=&H8000\n"
                               "; measured 2026-12-01\nMaster_volume=&H1000\n\n[Notes]\nby=JS\n";

        testing::RealAudio real;
        const auto openAudio = [&](const QString& dir) {
            return std::make_unique<ModZeltest>(real.Platform(), dir.toStdString(), EndProcess,
                                                [](const std::string&) {});
        };
        auto audio = openAudio(folder.path());
        std::vector<int> ends;
        ui::ProgramEnd end{[&](int status) { ends.push_back(status); }};
        std::ostringstream errors;
        ui::ErrorReport report{*audio, end, errors};
        auto window = std::make_unique<ui::CalibrationWindow>(*audio, *real.backend.player, report);
        QVERIFY(report.Run([&] {
            audio->InitialiseAudio();
            window->Load();
        }));
        window->show();
        QCOMPARE(window->Outputs()->count(), 2);
        QCOMPARE(window->Outputs()->currentText(), QString("Null Output (testsink)"));

        // +6 dB on the wave line: the stream's own volume, on the server's own scale.
        const double before = stream().second;
        QTest::mouseClick(window->StepButton(Calibrator::Line::Wave, 6), Qt::LeftButton);
        QVERIFY2(std::abs(stream().second - before - 6) < 0.02,
                 qPrintable(QString::number(stream().second)));

        // The tone moves with the output chosen; the first one's level goes back.
        QTest::mouseClick(window->PlayButton(), Qt::LeftButton);
        QCOMPARE(window->PlayButton()->text(), QString("&Stop"));
        QCOMPARE(stream().first, sinkId("testsink"));
        if (const char* pictures = std::getenv("ZEL_SCREENSHOTS"))  // for the README
            QVERIFY(window->grab().save(QString(pictures) + "/zel-test-calibration.png"));
        window->Outputs()->activated(1);
        QCOMPARE(stream().first, sinkId("othersink"));
        QCOMPARE(volume("testsink"), 40000);
        QCOMPARE(volume("othersink"), 4096);
        QCOMPARE(window->PlayButton()->text(), QString("&Stop"));

        // Saved into the file offered: everything else in it stays, and the test reads it back.
        QStringList offered;
        const auto chooser = [&](const QString& answer) {
            return [&offered, answer](const std::filesystem::path& path) {
                offered << QString::fromStdString(path.string());
                return std::filesystem::path(answer.isEmpty() ? path.string()
                                                              : answer.toStdString());
            };
        };
        window->ChooseFilesWith(chooser({}));
        QTest::mouseClick(window->SaveButton(), Qt::LeftButton);
        QCOMPARE(offered, QStringList{QString::fromStdString(file)});
        QCOMPARE(QString::fromStdString(testing::ReadFile(QString::fromStdString(file))),
                 QString("; lab 3, headphones A\n[Calibration]\nWave_volume=&HA125\n"
                         "; measured 2026-12-01\nMaster_volume=&H1000\nOutput=othersink\n\n"
                         "[Notes]\nby=JS\n"));
        // The keys step the line with the focus.
        for (const auto& [key, dB] : {std::pair{Qt::Key_Up, 1},
                                      {Qt::Key_Down, -1},
                                      {Qt::Key_PageDown, -6},
                                      {Qt::Key_PageUp, 6}}) {
            const double was = stream().second;
            QTest::keyClick(window->LineLevel(Calibrator::Line::Wave), key);
            QVERIFY2(std::abs(stream().second - was - dB) < 0.02, qPrintable(QString::number(key)));
        }
        // A change after the save is asked about once when the window closes.
        QTest::keyClick(window->LineLevel(Calibrator::Line::Speakers), Qt::Key_PageDown);
        {
            testing::ModalWatcher watcher([](QWidget* w) { return Answer(w, "&Discard"); });
            window->close();
            QCOMPARE(watcher.shown, QStringList{"Save the calibration before closing?"});
        }
        QCOMPARE(ends, std::vector<int>{0});
        QVERIFY(!window->PlayButton()->text().contains("Stop"));
        QVERIFY(audio->RestoreMixerLevels().empty());
        QCOMPARE(volume("testsink"), 40000);
        QCOMPARE(volume("othersink"), 30000);
        window.reset();

        auto test = openAudio(folder.path());
        test->InitialiseAudio();
        QCOMPARE(volume("othersink"), 4096);
        QCOMPARE(test->WaveVolumeSetting(), 0xA125);
        QVERIFY(test->RestoreMixerLevels().empty());

        // Where the settings file cannot be written, another place is offered, with the command
        // that installs it. (As root every file can be written: a folder where the new file would
        // go stands in for the permission.)
        QTemporaryDir system;
        QDir(system.path()).mkdir("Zel_test.ini.new");
        const QString systemFile = system.filePath("Zel_test.ini");
        auto unwritable = openAudio(system.path());
        ui::ProgramEnd end2{[&](int status) { ends.push_back(status); }};
        ui::ErrorReport report2{*unwritable, end2, errors};
        ui::CalibrationWindow other(*unwritable, *real.backend.player, report2);
        unwritable->InitialiseAudio();
        other.Load();
        const QString elsewhere = folder.filePath("mine.ini");
        offered.clear();
        other.ChooseFilesWith([&](const std::filesystem::path& path) {
            offered << QString::fromStdString(path.string());
            return offered.size() == 1 ? path : std::filesystem::path(elsewhere.toStdString());
        });
        testing::ModalWatcher watcher([](QWidget* w) { return Answer(w, "Save &Elsewhere..."); });
        QTest::mouseClick(other.SaveButton(), Qt::LeftButton);
        QCOMPARE(offered.size(), 2);
        QCOMPARE(offered[0], systemFile);
        QVERIFY2(watcher.shown.value(0).startsWith(systemFile + " cannot be written"),
                 qPrintable(watcher.shown.join('|')));
        QVERIFY(Has(testing::ReadFile(elsewhere), "[Calibration]\nWave_volume=&H8000\n"));
        QCOMPARE(other.Status()->text(), "Saved in " + elsewhere +
                                             ". To install it for everyone: sudo install -m 644 " +
                                             elsewhere + " " + systemFile);
        QVERIFY(unwritable->RestoreMixerLevels().empty());
    }
};

QTEST_MAIN(CalibrationWindowTest)
#include "calibration_window_test.moc"
