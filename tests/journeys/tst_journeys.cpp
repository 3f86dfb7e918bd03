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
};

QTEST_MAIN(TestJourneys)
#include "tst_journeys.moc"
