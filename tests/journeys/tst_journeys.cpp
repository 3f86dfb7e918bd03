// What a person does with the real program, end to end: the built program runs on this
// display with its own folders, is driven with real pointer and key events, and is judged from
// outside by what it draws, the files it writes and what a simulated printer receives.
#include <QtTest>

#include <QDir>
#include <QScreen>
#include <QSettings>

#include <memory>

#include "PrinterSim.h"
#include "FileRW/TeaCipher.h"
#include "Thread/SerialFrame.h"
#include "common/CubeStl.h"
#include "testutil_desk.h"

using namespace SerialFrame;

namespace {

// Places in the main window (its own coordinates) of a 1280 x 800 window.
const QPoint kOpen(232, 39), kSave(318, 39), kExport(401, 39), kSlice(482, 39), kSettings(645, 39);
const QPoint kMenu(1149, 11), kClose(1259, 11);
const int kPanelX = 1076;
const int kModelHead = 119, kMoveHead = 189, kRotateHead = 259, kScaleHead = 329, kCutHead = 399, kSupportHead = 469;

// The highest Z a print-task file reaches.
double printHeight(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    QByteArray data = f.readAll();
    data.truncate(data.size() / 8 * 8);
    TeaCipher::decipherBlocks(reinterpret_cast<uint8_t*>(data.data()), size_t(data.size()), TeaCipher::kPrintTaskKey);
    double top = 0;
    static const QRegularExpression z(QStringLiteral("^G[01] .*Z([0-9.]+)"));
    for (const QByteArray& line : data.split('\n')) {
        const QRegularExpressionMatch m = z.match(QString::fromLatin1(line));
        if (m.hasMatch())
            top = qMax(top, m.captured(1).toDouble());
    }
    return top;
}

} // namespace

class TestJourneys : public QObject
{
    Q_OBJECT

    QTemporaryDir base;
    QString program; // the program folder: the program and its engine
    std::unique_ptr<PrinterSim> sim;
    std::unique_ptr<Tarni> app;

    QString port() const { return base.path() + QStringLiteral("/printer0"); }
    QString cube(const QString& name, float side) { return writeCube(base.path(), name, side); }

    // A printer of the second model on the port; none when the journey wants it absent.
    void plugPrinter()
    {
        sim.reset(new PrinterSim);
        sim->behaviour.machine.model = 3;
        sim->behaviour.machine.serialNumber = "SIM0001";
        QVERIFY(sim->start(port()));
    }

    // The program with the printer model already chosen, up and drawn.
    void launch(const QStringList& args = {}, int machineType = 2)
    {
        app.reset(new Tarni(program, port()));
        if (machineType)
            app->choose(machineType);
        QVERIFY(app->start(args));
        QVERIFY2(app->startUp(), "the main window did not show");
    }

    void waitLinked()
    {
        QVERIFY2(Desk::waitFor([&] { return sim->requestCount(ReqStatus) > 0; }, 15000), "no link to the printer");
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(Desk::haveXdotool(), "xdotool is needed (tools/setup.sh installs it)");
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "run under an X display (test.sh uses xvfb-run)");
        QVERIFY(base.isValid());
        program = base.path() + QStringLiteral("/program");
        QVERIFY(QDir().mkpath(program + QStringLiteral("/BrevEngine")));
        // A copy, so that the folder the program keeps its files in is this test's own.
        QVERIFY(QFile::copy(QStringLiteral(TARNI_BUILD_DIR "/tarni"), program + QStringLiteral("/tarni")));
        QVERIFY(QFile::copy(QStringLiteral(TARNI_BUILD_DIR "/BrevEngine/BrevEngine"),
                            program + QStringLiteral("/BrevEngine/BrevEngine")));
    }

    void cleanup()
    {
        // What the screen showed when a journey went wrong, for the one who reads the failure.
        if (QTest::currentTestFailed()) {
            const QString shot = QDir::temp().filePath(QStringLiteral("journey-%1.png").arg(QTest::currentTestFunction()));
            Desk::grab(QGuiApplication::primaryScreen()->geometry()).save(shot);
            qWarning("screen at the failure: %s", qPrintable(shot));
            if (app) {
                QFile log(QDir::temp().filePath(QStringLiteral("journey-%1.log").arg(QTest::currentTestFunction())));
                if (log.open(QIODevice::WriteOnly))
                    log.write(app->log().toUtf8());
            }
        }
        app.reset();
        sim.reset();
    }

    // First start: no settings yet, so the printer-model dialog comes first; the model named on
    // the command line lands on the plate once a printer is chosen.
    void firstStart()
    {
        app.reset(new Tarni(program, port()));
        QVERIFY(app->start({cube("first.stl", 15)}));
        const QRect dialog = app->waitWindow(QStringLiteral("About"), 20000);
        QVERIFY2(!dialog.isNull(), "the printer-model dialog did not show");
        QVERIFY(app->startUp());
        QCOMPARE(app->model().count, 0);

        // Double-clicking the second model's picture chooses it.
        Desk::click(dialog.topLeft() + QPoint(422, 220), 2);
        QVERIFY(app->waitGone(QStringLiteral("About")));
        QVERIFY2(Desk::waitFor([&] { return app->model().count > 300; }, 10000), "the model is not on the plate");

        QSettings ini(app->dataDir() + QStringLiteral("/setting.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("General/ChoiceType")).toInt(), 2);
        QCOMPARE(ini.value(QStringLiteral("Box/Length")).toInt(), 145);
        QVERIFY(QFileInfo::exists(app->dataDir() + QStringLiteral("/log.txt")));
    }

    // The print button slices, Ok sends, Ok prints; the print panel pauses, resumes and stops.
    void printRoad()
    {
        plugPrinter();
        sim->behaviour.progressStep = 1; // the print lasts while the panel is used
        launch({cube("road.stl", 15)});
        waitLinked();
        QVERIFY(Desk::waitFor([&] { return app->model().count > 300; }, 10000));

        app->clickAt(1181, 700);
        QVERIFY2(app->answer(0, 2, 60000), "no offer to send after slicing");
        QVERIFY2(app->answer(0, 2, 60000), "no offer to print after sending");
        QVERIFY(Desk::waitFor([&] { return sim->printerState == PrinterSim::Printing; }, 10000));

        // The printer got exactly the file the program kept.
        QFile kept(program + QStringLiteral("/gco/road.BVT"));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(sim->fileName(), QStringLiteral("road.BVT"));
        QVERIFY(sim->fileData() == kept.readAll());
        QVERIFY(printHeight(kept.fileName()) > 14.5);

        // Pause, resume and stop from the print panel, each confirmed with Ok.
        app->clickAt(1133, 717);
        QVERIFY(app->answer(0, 2));
        QVERIFY2(Desk::waitFor([&] { return sim->paused; }, 10000), "pause did not reach the printer");
        app->clickAt(1133, 717);
        QVERIFY(app->answer(0, 2));
        QVERIFY2(Desk::waitFor([&] { return !sim->paused; }, 10000), "resume did not reach the printer");
        app->clickAt(1162, 717);
        QVERIFY(app->answer(0, 2));
        QVERIFY2(Desk::waitFor([&] { return sim->printerState == PrinterSim::Idle; }, 10000), "stop did not reach the printer");
        QCOMPARE(sim->requestsOf(ReqControl).last().data.at(0), char(CtlStop));
    }

    // Closing with a model on the plate asks to save: Cancel keeps the window, Save writes a
    // project that reopens to the same scene, Don't save quits without writing.
    void closingWithUnsavedWork()
    {
        launch({cube("keep.stl", 15)});
        QVERIFY(Desk::waitFor([&] { return app->model().count > 300; }, 10000));
        // Moved first, so that the reopened scene shows the project's place, not a default one.
        const Desk::Blob before = app->model();
        app->clickAt(kPanelX, kMoveHead);
        app->clickAt(1147, 251, 3);
        Desk::type(QStringLiteral("40"));
        Desk::key(QStringLiteral("Return"));
        QVERIFY2(Desk::waitFor([&] { return app->model().centre.x() > before.centre.x() + 40; }, 5000), "the move panel did not move the model");
        app->clickAt(kPanelX, kMoveHead);
        QTest::qWait(300);
        const Desk::Blob moved = app->model();

        app->clickAt(kClose.x(), kClose.y());
        QVERIFY2(app->answer(2, 3), "no save question on closing");
        QTest::qWait(500);
        QVERIFY(app->running());
        QVERIFY(!app->windows(QStringLiteral("Brevant")).isEmpty());

        const QString project = base.path() + QStringLiteral("/scene.brev");
        app->clickAt(kClose.x(), kClose.y());
        QVERIFY(app->answer(0, 3));
        QVERIFY(app->fileDialog(QStringLiteral("Save File"), project));
        QVERIFY2(app->answer(0, 1), "the save was not reported");
        QCOMPARE(app->waitExit(15000), 0);
        QVERIFY(QFileInfo(project).size() > 0);
        QVERIFY(app->log().contains(QStringLiteral("close, task state 0")));

        launch({project});
        QVERIFY2(Desk::waitFor([&] { return app->model().count > 300; }, 10000), "the project did not reopen");
        const Desk::Blob again = app->model();
        QVERIFY2(qAbs(again.centre.x() - moved.centre.x()) < 4 && qAbs(again.centre.y() - moved.centre.y()) < 4,
                 "the reopened model is not where it was saved");
        QVERIFY(qAbs(again.count - moved.count) < moved.count / 10);

        const QDateTime written = QFileInfo(project).lastModified();
        app->clickAt(kClose.x(), kClose.y());
        QVERIFY(app->answer(1, 3));
        QCOMPARE(app->waitExit(15000), 0);
        QCOMPARE(QFileInfo(project).lastModified(), written);
    }

    // A second start hands its file to the running program and ends at once with 0.
    void secondInstance()
    {
        launch({cube("one.stl", 15)});
        QVERIFY(Desk::waitFor([&] { return app->model().count > 300; }, 10000));
        const QImage one = app->grabMain().copy(app->viewPart());

        // Bigger and elsewhere, so that it cannot hide behind the first.
        QCOMPARE(app->runAgain({writeCube(base.path() + QStringLiteral("/two.stl"), 25, -40)}), 0);
        QVERIFY2(Desk::waitFor([&] { return Desk::changedShare(one, app->grabMain().copy(app->viewPart())) > 0.003; }, 10000),
                 "the handed file did not open");
        // Without a file it only raises the running window.
        QCOMPARE(app->runAgain({}), 0);
        QVERIFY(app->running());
        QCOMPARE(app->windows(QStringLiteral("Brevant")).size(), 1);

        app->clickAt(kClose.x(), kClose.y());
        QVERIFY(app->answer(1, 3));
        QCOMPARE(app->waitExit(15000), 0);
    }

    // Another printer model with a model on the plate: the plate changes, the model stays.
    void changingPrinterModel()
    {
        launch({cube("stay.stl", 15)}); // no printer linked: the choice is open
        QVERIFY(Desk::waitFor([&] { return app->model().count > 300; }, 10000));
        const QImage round = app->grabMain().copy(app->viewPart());

        app->clickAt(kMenu.x(), kMenu.y());
        QTest::qWait(300);
        app->clickAt(1209, 122); // "Select Printer"
        const QRect dialog = app->waitWindow(QStringLiteral("About"));
        QVERIFY2(!dialog.isNull(), "the printer-model dialog did not open");
        Desk::click(dialog.topLeft() + QPoint(248, 220)); // the first model
        Desk::click(dialog.topLeft() + QPoint(333, 418)); // Ok
        QVERIFY(app->waitGone(QStringLiteral("About")));
        QSettings ini(app->dataDir() + QStringLiteral("/setting.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("General/ChoiceType")).toInt(), 1);
        QVERIFY2(Desk::waitFor([&] { return Desk::changedShare(round, app->grabMain().copy(app->viewPart())) > 0.02; }, 5000),
                 "the plate was not redrawn for the other printer");
        QVERIFY2(app->model().count > 300, "the model left the plate");
    }

    // Levelling, filament feed and return, and the door switch, from the settings window.
    void settingsReachPrinter()
    {
        plugPrinter();
        launch();
        waitLinked();
        app->clickAt(kSettings.x(), kSettings.y());
        const QRect w = app->waitWindow(QStringLiteral("Setting"));
        QVERIFY2(!w.isNull(), "the settings window did not open");
        sim->clearRequests();
        const auto controls = [&](int code) {
            int n = 0;
            for (const Frame& f : sim->requestsOf(ReqControl))
                n += !f.data.isEmpty() && f.data.at(0) == char(code);
            return n;
        };

        // One step up from 0.8 mm, then levelling with that distance.
        Desk::click(w.topLeft() + QPoint(223, 128));
        Desk::click(w.topLeft() + QPoint(579, 262));
        QVERIFY2(Desk::waitFor([&] { return sim->requestCount(ReqPX6Leveling) > 0; }, 10000), "levelling did not reach the printer");
        QVERIFY2(sim->requestsOf(ReqPX6Leveling).first().data.contains("0.9"), sim->requestsOf(ReqPX6Leveling).first().data.constData());
        QVERIFY2(app->answer(0, 1), "levelling did not report its end");

        // The door switch made active.
        Desk::click(w.topLeft() + QPoint(207, 338));
        Desk::click(w.topLeft() + QPoint(579, 472));
        QVERIFY2(Desk::waitFor([&] { return sim->doorSwitch == 1; }, 10000), "the door switch did not reach the printer");

        // Filament fed and returned, each asked first and reported at its end.
        Desk::click(w.topLeft() + QPoint(200, 52));
        Desk::click(w.topLeft() + QPoint(169, 115));
        QVERIFY(app->answer(0, 2));
        QVERIFY2(Desk::waitFor([&] { return controls(CtlFeed) == 1; }, 10000), "feeding did not reach the printer");
        QVERIFY(app->answer(0, 1));
        Desk::click(w.topLeft() + QPoint(490, 115));
        QVERIFY(app->answer(0, 2));
        QVERIFY2(Desk::waitFor([&] { return controls(CtlReturn) == 1; }, 10000), "returning did not reach the printer");
        QVERIFY(app->answer(0, 1));
    }
};

QTEST_MAIN(TestJourneys)
#include "tst_journeys.moc"
