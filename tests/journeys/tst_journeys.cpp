// What a person does with the real program, end to end: the built program runs on an X server
// of this test's own with its own folders, is driven with real pointer and key events, and is
// judged from outside by what it draws, the files it writes and what a simulated printer receives.
#include <QtTest>

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QSettings>

#include <cstdio>
#include <memory>

#include "PrinterSim.h"
#include "FileRW/TeaCipher.h"
#include "Thread/SerialFrame.h"
#include "common/CubeStl.h"
#include "testutil_desk.h"

using namespace SerialFrame;

namespace {

// Places in the main window (its own coordinates) of a 1280 x 800 window.
const QPoint kOpen(232, 39), kExport(401, 39), kSettings(645, 39), kMenu(1149, 11), kClose(1259, 11);
const QPoint kPrint(1181, 700), kPause(1133, 717), kStop(1162, 717);
const int kPanelX = 46; // the edit panel on the window's left
const int kMoveHead = 189, kRotateHead = 259, kScaleHead = 329, kCutHead = 399, kSupportHead = 469;

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
    bool plugPrinter()
    {
        sim.reset(new PrinterSim);
        sim->behaviour.machine.model = 3;
        sim->behaviour.machine.serialNumber = "SIM0001";
        return sim->start(port());
    }

    // The program with the second printer model already chosen, up and drawn.
    bool launch(const QStringList& args = {})
    {
        app.reset(new Tarni(program, port()));
        app->choose(2);
        return app->start(args) && app->startUp();
    }

    // Opens (or closes) a panel of the edit tree; opening waits until its first field shows.
    bool togglePanel(int head, QPoint field = QPoint())
    {
        app->clickAt(kPanelX, head);
        if (field.isNull()) {
            QTest::qWait(200);
            return true;
        }
        return Desk::waitFor([&] { return (app->grabMain().pixel(field) & 0xffffff) == 0xffffff; }, TestTime::waitMs(5000));
    }

    // Selects a number field of a panel, types the value and confirms it.
    void setField(int x, int y, const QString& value)
    {
        app->clickAt(x, y, 3);
        Desk::type(value);
        Desk::key(QStringLiteral("Return"));
    }

    // A point on the shaft of the gizmo's red X arrow near the model, in window coordinates.
    QPoint redArrow(QPointF centre) const
    {
        const QImage img = app->grabMain();
        double sx = 0, sy = 0;
        int n = 0;
        for (int y = int(centre.y()) - 60; y < int(centre.y()) + 60; ++y)
            for (int x = int(centre.x()) - 60; x < int(centre.x()) + 60; ++x) {
                const QRgb c = img.pixel(x, y);
                const double d = std::hypot(x - centre.x(), y - centre.y());
                if (qRed(c) > 180 && qGreen(c) < 80 && qBlue(c) < 80 && d > 15 && d < 45) {
                    sx += x;
                    sy += y;
                    ++n;
                }
            }
        return n ? QPoint(int(sx / n), int(sy / n)) : QPoint();
    }

    bool linked()
    {
        return Desk::waitFor([&] { return sim->requestCount(ReqStatus) > 0; }, TestTime::waitMs(15000));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(Desk::haveXdotool(), "xdotool is needed (tools/setup.sh installs it)");
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
        const QRect dialog = app->waitWindow(QStringLiteral("About"), TestTime::waitMs(20000));
        QVERIFY2(!dialog.isNull(), "the printer-model dialog did not show");
        QVERIFY(app->startUp());

        // Double-clicking the second model's picture chooses it.
        Desk::click(dialog.topLeft() + QPoint(422, 220), 2);
        QVERIFY(app->waitGone(QStringLiteral("About")));
        QVERIFY2(Desk::waitFor([&] { return app->model().count > 300; }, TestTime::waitMs(10000)), "the model is not on the plate");

        QSettings ini(app->dataDir() + QStringLiteral("/setting.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("General/ChoiceType")).toInt(), 2);
        QCOMPARE(ini.value(QStringLiteral("Box/Length")).toInt(), 145);
        QVERIFY(QFileInfo::exists(app->dataDir() + QStringLiteral("/log.txt")));
    }

    // Open with the open button, edit with the panels and the mouse, cut, support, export and
    // step through the preview.
    void editAndExport()
    {
        QVERIFY2(launch(), "the main window did not show");
        app->clickAt(kOpen.x(), kOpen.y());
        QVERIFY(app->fileDialog(QStringLiteral("Import Model"), cube("part.stl", 15)));
        QVERIFY2(Desk::waitFor([&] { return app->model().count > 300; }, TestTime::waitMs(10000)), "the opened model is not on the plate");
        const Desk::Blob opened = app->model();

        // The move panel, then the gizmo's X arrow dragged with the mouse.
        QVERIFY(togglePanel(kMoveHead, {100, 251}));
        setField(117, 251, QStringLiteral("30"));
        QVERIFY(Desk::waitFor([&] { return app->model().centre.x() > opened.centre.x() + 30; }, TestTime::waitMs(5000)));
        Desk::Blob moved;
        QPoint arrow;
        QVERIFY2(Desk::waitFor([&] {
            moved = app->model();
            arrow = redArrow(moved.centre);
            return !arrow.isNull();
        }, TestTime::waitMs(5000)), "no X arrow on the selected model");
        const QPoint along = arrow - moved.centre.toPoint();
        // Back towards the middle of the plate, where the doubled model still fits.
        Desk::drag(app->at(arrow.x(), arrow.y()), app->at(arrow.x(), arrow.y()) - along);
        QVERIFY2(Desk::waitFor([&] { return (app->model().centre - moved.centre).manhattanLength() > 20; }, TestTime::waitMs(5000)),
                 "dragging the arrow did not move the model");
        QVERIFY(togglePanel(kMoveHead));

        // Twice the size, then turned about Z.
        const Desk::Blob small = app->model();
        QVERIFY(togglePanel(kScaleHead, {120, 479}));
        setField(140, 479, QStringLiteral("2"));
        QVERIFY2(Desk::waitFor([&] { return app->model().count > small.count * 5 / 2; }, TestTime::waitMs(5000)), "the scale panel did not scale");
        QVERIFY(togglePanel(kScaleHead));
        QVERIFY(togglePanel(kRotateHead, {175, 369}));
        const QImage square = app->grabMain().copy(app->viewPart());
        setField(183, 369, QStringLiteral("45"));
        QVERIFY2(Desk::waitFor([&] { return Desk::changedShare(square, app->grabMain().copy(app->viewPart())) > 0.002; }, TestTime::waitMs(5000)),
                 "the rotate panel did not turn the model");
        QVERIFY(togglePanel(kRotateHead));

        // Cut in the middle (the file exported below shows the halves).
        QVERIFY(togglePanel(kCutHead, {90, 487}));
        app->clickAt(66, 523); // ready
        const QImage ready = app->grabMain().copy(app->viewPart());
        app->clickAt(182, 523); // cut
        QVERIFY2(Desk::waitFor([&] { return Desk::changedShare(ready, app->grabMain().copy(app->viewPart())) > 0.005; }, TestTime::waitMs(20000)),
                 "the cut did not cut");
        QVERIFY(app->settle());
        app->clickAt(66, 523); // leave the cut
        QVERIFY(togglePanel(kCutHead));

        // Lifted 10 mm, it gets supports under it.
        QVERIFY(togglePanel(kMoveHead, {100, 325}));
        setField(117, 325, QStringLiteral("10"));
        QVERIFY(togglePanel(kMoveHead));
        QTest::qWait(300);
        const QImage bare = app->grabMain().copy(app->viewPart());
        QVERIFY(togglePanel(kSupportHead, {74, 526}));
        app->clickAt(68, 625);
        QTest::qWait(300);
        QVERIFY(app->settle());
        QVERIFY2(Desk::waitFor([&] { return Desk::changedShare(bare, app->grabMain().copy(app->viewPart())) > 0.0008; }, TestTime::waitMs(5000)),
                 "no supports were made");
        QVERIFY(togglePanel(kSupportHead));

        // Exported: the file holds the lifted upper half of the doubled cube, on its supports.
        const QString task = base.path() + QStringLiteral("/edited.BVT");
        app->clickAt(kExport.x(), kExport.y());
        QVERIFY(app->fileDialog(QStringLiteral("Save GCode"), task));
        QVERIFY2(app->answer(0, 1, TestTime::waitMs(60000)), "the export was not reported");
        const double height = printHeight(task);
        QVERIFY2(height > 24 && height < 26, qPrintable(QString::number(height)));

        // The preview shows every layer; stepping the layer slider down hides the upper ones.
        // (Tool paths are counted below the place of the message box just closed.)
        const QRect paths(560, 490, 440, 220);
        QVERIFY(app->settle());
        const int all = Desk::modelPixels(app->grabMain(), paths).count;
        app->clickAt(272, 146); // the layer slider, right of the edit panel
        for (int i = 0; i < 8; ++i)
            Desk::key(QStringLiteral("Page_Down"));
        QVERIFY2(Desk::waitFor([&] { return Desk::modelPixels(app->grabMain(), paths).count < all * 9 / 10; }, TestTime::waitMs(10000)),
                 "the layer slider did not change the preview");
    }

    // The open dialog lists the models of its folder, whatever the case of their suffix; a
    // double click on a name opens that model.
    void openByClickingName()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        QVERIFY(!writeCube(folder.path(), QStringLiteral("clicked.STL"), 15).isEmpty());
        QFile notes(folder.filePath(QStringLiteral("notes.txt")));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.close();
        app.reset(new Tarni(program, port()));
        app->choose(2);
        {
            QSettings ini(app->dataDir() + QStringLiteral("/setting.ini"), QSettings::IniFormat);
            ini.setValue(QStringLiteral("Paths/OpenDir"), folder.path());
        }
        QVERIFY2(app->start() && app->startUp(), "the main window did not show");
        app->clickAt(kOpen.x(), kOpen.y());
        QVERIFY2(app->pickListedFile(QStringLiteral("Import Model")), "the open dialog did not list the one model");
        QVERIFY2(Desk::waitFor([&] { return app->model().count > 300; }, TestTime::waitMs(10000)), "the picked model is not on the plate");
    }

    // The print button slices, Ok sends, Ok prints; the print panel pauses, resumes and stops.
    void printRoad()
    {
        QVERIFY(plugPrinter());
        sim->behaviour.progressStep = 1; // the print lasts while the panel is used
        QVERIFY2(launch({cube("road.stl", 15)}), "the main window did not show");
        QVERIFY2(linked(), "no link to the printer");
        QVERIFY(Desk::waitFor([&] { return app->model().count > 300; }, TestTime::waitMs(10000)));

        app->clickAt(kPrint.x(), kPrint.y());
        QVERIFY2(app->answer(0, 2, TestTime::waitMs(60000)), "no offer to send after slicing");
        QVERIFY2(app->answer(0, 2, TestTime::waitMs(60000)), "no offer to print after sending");
        QVERIFY(Desk::waitFor([&] { return sim->printerState == PrinterSim::Printing; }, TestTime::waitMs(10000)));

        // The printer got exactly the file the program kept.
        QFile kept(program + QStringLiteral("/gco/road.BVT"));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(sim->fileName(), QStringLiteral("road.BVT"));
        QVERIFY(sim->fileData() == kept.readAll());
        QVERIFY(printHeight(kept.fileName()) > 14.5);

        // Pause, resume and stop from the print panel, each confirmed with Ok.
        app->clickAt(kPause.x(), kPause.y());
        QVERIFY(app->answer(0, 2));
        QVERIFY2(Desk::waitFor([&] { return sim->paused; }, TestTime::waitMs(10000)), "pause did not reach the printer");
        app->clickAt(kPause.x(), kPause.y());
        QVERIFY(app->answer(0, 2));
        QVERIFY2(Desk::waitFor([&] { return !sim->paused; }, TestTime::waitMs(10000)), "resume did not reach the printer");
        app->clickAt(kStop.x(), kStop.y());
        QVERIFY(app->answer(0, 2));
        QVERIFY2(Desk::waitFor([&] { return sim->printerState == PrinterSim::Idle; }, TestTime::waitMs(10000)), "stop did not reach the printer");
        QCOMPARE(sim->requestsOf(ReqControl).last().data.at(0), char(CtlStop));
    }

    // A paste after slicing asks first: the printer gets the file of both models, never the
    // one-model file sliced before the paste.
    void pasteAfterSlicing()
    {
        const QPoint sliceSwitch(482, 39);
        QVERIFY(plugPrinter());
        QVERIFY2(launch({cube("twice.stl", 15)}), "the main window did not show");
        QVERIFY2(linked(), "no link to the printer");
        QVERIFY(Desk::waitFor([&] { return app->model().count > 300; }, TestTime::waitMs(10000)));
        app->clickAt(kPrint.x(), kPrint.y());
        QVERIFY2(app->answer(1, 2, TestTime::waitMs(60000)), "no offer to send after slicing");
        QFile sliced(app->dataDir() + QStringLiteral("/gco/twice.BVT"));
        QVERIFY(sliced.open(QIODevice::ReadOnly));
        const QByteArray oneModel = sliced.readAll();
        QVERIFY(!oneModel.isEmpty());

        // Back to the model view, the slice kept; then the paste key.
        app->clickAt(sliceSwitch.x(), sliceSwitch.y());
        QTest::qWait(300);
        Desk::key(QStringLiteral("ctrl+v"));
        QVERIFY2(app->answer(0, 2), "the paste did not ask about the slice");
        app->clickAt(kPrint.x(), kPrint.y());
        QVERIFY2(app->answer(0, 2, TestTime::waitMs(60000)), "no offer to send after slicing again");
        QVERIFY2(app->answer(0, 2, TestTime::waitMs(60000)), "no offer to print after sending");
        QVERIFY(Desk::waitFor([&] { return sim->printerState == PrinterSim::Printing; }, TestTime::waitMs(10000)));
        // The copy lies a few millimetres aside: the two cubes print more than one.
        QVERIFY(sim->fileData() != oneModel);
        QVERIFY2(sim->fileData().size() > oneModel.size() * 11 / 10,
                 qPrintable(QString("the printer got %1 bytes, one model makes %2").arg(sim->fileData().size()).arg(oneModel.size())));
    }

    // Closing with a model on the plate asks to save: Cancel keeps the window, Save writes a
    // project that reopens to the same scene, Don't save quits without writing.
    void closingWithUnsavedWork()
    {
        QVERIFY2(launch({cube("keep.stl", 15)}), "the main window did not show");
        QVERIFY(Desk::waitFor([&] { return app->model().count > 300; }, TestTime::waitMs(10000)));
        // Moved first, so that the reopened scene shows the project's place, not a default one.
        const Desk::Blob before = app->model();
        QVERIFY(togglePanel(kMoveHead, {100, 251}));
        setField(117, 251, QStringLiteral("40"));
        QVERIFY2(Desk::waitFor([&] { return app->model().centre.x() > before.centre.x() + 40; }, TestTime::waitMs(5000)), "the move panel did not move the model");
        QVERIFY(togglePanel(kMoveHead));
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
        QCOMPARE(app->waitExit(TestTime::waitMs(15000)), 0);
        QVERIFY(QFileInfo(project).size() > 0);
        QVERIFY(app->log().contains(QStringLiteral("close, task state 0")));

        QVERIFY2(launch({project}), "the main window did not show");
        QVERIFY2(Desk::waitFor([&] { return app->model().count > 300; }, TestTime::waitMs(10000)), "the project did not reopen");
        const Desk::Blob again = app->model();
        QVERIFY2(qAbs(again.centre.x() - moved.centre.x()) < 4 && qAbs(again.centre.y() - moved.centre.y()) < 4,
                 "the reopened model is not where it was saved");
        QVERIFY(qAbs(again.count - moved.count) < moved.count / 10);

        const QDateTime written = QFileInfo(project).lastModified();
        app->clickAt(kClose.x(), kClose.y());
        QVERIFY(app->answer(1, 3));
        QCOMPARE(app->waitExit(TestTime::waitMs(15000)), 0);
        QCOMPARE(QFileInfo(project).lastModified(), written);
    }

    // A second start hands its file to the running program and ends at once with 0 (before the
    // three seconds of a splash screen).
    void secondInstance()
    {
        QVERIFY2(launch({cube("one.stl", 15)}), "the main window did not show");
        QVERIFY(Desk::waitFor([&] { return app->model().count > 300; }, TestTime::waitMs(10000)));
        const QImage one = app->grabMain().copy(app->viewPart());

        // Bigger and elsewhere, so that it cannot hide behind the first.
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(app->runAgain({writeCube(base.path() + QStringLiteral("/two.stl"), 25, -40)}), 0);
        QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(Desk::waitFor([&] { return Desk::changedShare(one, app->grabMain().copy(app->viewPart())) > 0.003; }, TestTime::waitMs(10000)),
                 "the handed file did not open");
        // Without a file it only raises the running window.
        QCOMPARE(app->runAgain({}), 0);
        QVERIFY(app->running());
        QCOMPARE(app->windows(QStringLiteral("Brevant")).size(), 1);

        app->clickAt(kClose.x(), kClose.y());
        QVERIFY(app->answer(1, 3));
        QCOMPARE(app->waitExit(TestTime::waitMs(15000)), 0);
    }

    // Another printer model with a model on the plate: the plate changes, the model stays.
    void changingPrinterModel()
    {
        // No printer is linked: while one is, the printer decides the model.
        QVERIFY2(launch({cube("stay.stl", 15)}), "the main window did not show");
        QVERIFY(Desk::waitFor([&] { return app->model().count > 300; }, TestTime::waitMs(10000)));
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
        QVERIFY2(Desk::waitFor([&] { return Desk::changedShare(round, app->grabMain().copy(app->viewPart())) > 0.02; }, TestTime::waitMs(5000)),
                 "the plate was not redrawn for the other printer");
        QVERIFY2(app->model().count > 300, "the model left the plate");

        // With slice data the change also leaves the preview; the unsaved model is not dropped
        // without the save question, and Cancel there keeps printer and scene.
        app->clickAt(kExport.x(), kExport.y());
        QVERIFY(app->fileDialog(QStringLiteral("Save GCode"), base.path() + QStringLiteral("/stay.BVT")));
        QVERIFY(app->answer(0, 1, TestTime::waitMs(60000)));
        app->clickAt(kMenu.x(), kMenu.y());
        QTest::qWait(300);
        app->clickAt(1209, 122);
        const QRect again = app->waitWindow(QStringLiteral("About"));
        QVERIFY(!again.isNull());
        Desk::click(again.topLeft() + QPoint(422, 220));
        Desk::click(again.topLeft() + QPoint(333, 418));
        QVERIFY2(app->answer(0, 2), "no question about leaving the preview");
        QVERIFY2(app->answer(2, 3, 5000), "the unsaved model was dropped without the save question");
        if (!app->waitGone(QStringLiteral("About"), 1000))
            Desk::click(again.topLeft() + QPoint(654, 22));
        QVERIFY(app->waitGone(QStringLiteral("About")));
        QSettings after(app->dataDir() + QStringLiteral("/setting.ini"), QSettings::IniFormat);
        QCOMPARE(after.value(QStringLiteral("General/ChoiceType")).toInt(), 1);
        // Closing still finds the model to ask about.
        app->clickAt(kClose.x(), kClose.y());
        QVERIFY(app->answer(1, 3));
        QCOMPARE(app->waitExit(TestTime::waitMs(15000)), 0);
    }

    // Levelling, filament feed and return, and the door switch, from the settings window.
    void settingsReachPrinter()
    {
        QVERIFY(plugPrinter());
        QVERIFY2(launch(), "the main window did not show");
        QVERIFY2(linked(), "no link to the printer");
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
        QVERIFY2(Desk::waitFor([&] { return sim->requestCount(ReqPX6Leveling) > 0; }, TestTime::waitMs(10000)), "levelling did not reach the printer");
        QVERIFY2(sim->requestsOf(ReqPX6Leveling).first().data.contains("0.9"), sim->requestsOf(ReqPX6Leveling).first().data.constData());
        QVERIFY2(app->answer(0, 1), "levelling did not report its end");

        // The door switch made active.
        Desk::click(w.topLeft() + QPoint(207, 338));
        Desk::click(w.topLeft() + QPoint(579, 472));
        QVERIFY2(Desk::waitFor([&] { return sim->doorSwitch == 1; }, TestTime::waitMs(10000)), "the door switch did not reach the printer");

        // Filament fed and returned, each asked first and reported at its end.
        Desk::click(w.topLeft() + QPoint(200, 52));
        Desk::click(w.topLeft() + QPoint(169, 115));
        QVERIFY(app->answer(0, 2));
        QVERIFY2(Desk::waitFor([&] { return controls(CtlFeed) == 1; }, TestTime::waitMs(10000)), "feeding did not reach the printer");
        QVERIFY(app->answer(0, 1));
        Desk::click(w.topLeft() + QPoint(490, 115));
        QVERIFY(app->answer(0, 2));
        QVERIFY2(Desk::waitFor([&] { return controls(CtlReturn) == 1; }, TestTime::waitMs(10000)), "returning did not reach the printer");
        QVERIFY(app->answer(0, 1));
    }
};

int main(int argc, char** argv)
{
    PrivateDisplay display;
    if (!display.start(1600, 1000)) {
        std::fprintf(stderr, "cannot start Xvfb (tools/setup.sh installs it)\n");
        return 1;
    }
    // Pixels are read back from the X server.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestJourneys journeys;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&journeys, argc, argv);
}
#include "tst_journeys.moc"
