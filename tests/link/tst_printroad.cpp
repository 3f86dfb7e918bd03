// The main road through the real window: a model is loaded, the print button slices it
// with the engine, the print-task file is sent to a simulated printer and the print starts.
#include <QtTest>

#include <QTemporaryDir>

#include "PrinterSim.h"
#include "Thread/CommunicateThread.h"
#include "Thread/FDMSliceProcess.h"
#include "Thread/ThreadPool.h"
#include "UI/BrevMessageBox.h"
#include "UI/MainWindow.h"
#include "UI/PrintingForm.h"
#include "app/Startup.h"
#include "platform/Platform.h"
#include "render/GLWidget.h"
#include "scene/AppData.h"
#include "common/CubeStl.h"
#include "common/TestTime.h"


class TestPrintRoad : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    // The printer answers from its own thread, as a real one does whatever the window is busy
    // with (slicing, drawing the preview).
    QThread simThread;
    PrinterSim* sim = nullptr;
    MainWindow* window = nullptr;
    QList<int> asked;

    // Runs f on the printer's thread and gives back its result.
    template <typename F>
    auto onPrinter(F f) -> decltype(f())
    {
        decltype(f()) result{};
        QMetaObject::invokeMethod(sim, [&] { result = f(); }, Qt::BlockingQueuedConnection);
        return result;
    }

    // The questions asked besides the slice's offers to send (29) and to print (39).
    QString unexpected() const
    {
        QStringList out;
        for (int kind : asked)
            if (kind != 29 && kind != 39)
                out << QString::number(kind);
        return out.isEmpty() ? QString() : QStringLiteral("asked kinds ") + out.join(QLatin1Char(' '));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        Platform::setTimeoutScale(TestTime::timeoutScale(0.2));
        qputenv("LOCALAPPDATA", (dir.path() + "/local").toLocal8Bit());
        char arg0[] = "tarni";
        char* argv[] = {arg0, nullptr};
        initEnvironment(1, argv);
        const QString engine = QStringLiteral(TARNI_BUILD_DIR "/BrevEngine/BrevEngine");
        QVERIFY2(QFileInfo(engine).isExecutable(), "the engine must be built");
        const QString appDir = dir.path() + "/app";
        QVERIFY(QDir().mkpath(appDir + "/BrevEngine"));
        QVERIFY(QFile::copy(engine, appDir + "/BrevEngine/" + FDMSliceProcess::engineFileName()));
        AppData::instance()->setAppDir(appDir);
        AppData::instance()->setChoiceType(1);

        const QString port = dir.path() + "/printer0";
        simThread.start();
        sim = new PrinterSim;
        sim->moveToThread(&simThread);
        QVERIFY(onPrinter([&] { return sim->start(port); }));
        qputenv("TARNI_SERIAL_PORTS", port.toLocal8Bit());

        BrevMessageBox::setAnswerHook([this](BrevMessageBox& box) {
            // Printer errors as 1000 + their code.
            asked << (box.kind() >= 0 ? box.kind() : 1000 + box.printerError());
            return box.kind() == 17 ? 0 : 1;
        });
        window = new MainWindow();
        QVERIFY(window->startUp());
    }

    void cleanupTestCase()
    {
        window->close();
        delete window;
        BrevMessageBox::setAnswerHook(nullptr);
        QMetaObject::invokeMethod(sim, [this] { delete sim; }, Qt::BlockingQueuedConnection);
        simThread.quit();
        simThread.wait();
        Platform::setTimeoutScale(1.0);
    }

    void slicesSendsAndPrints()
    {
        // The printer is found and linked.
        QTRY_VERIFY_WITH_TIMEOUT(ThreadPool::instance()->isLinked(), TestTime::waitMs(15000));
        QTRY_COMPARE(window->form().labMain_light->text(), QStringLiteral("Connected"));

        window->openFile(writeCube(dir.path() + "/cube.stl", 15.0f, 0.0f));
        QTRY_COMPARE_WITH_TIMEOUT(AppData::instance()->modelCount(), 1, TestTime::waitMs(10000));
        QTRY_VERIFY_WITH_TIMEOUT(!ThreadPool::instance()->isBusy(), TestTime::waitMs(10000));
        AppData::instance()->selectModel(0, 1);
        window->updateStatus();

        // Print: slice first (no slice data yet), then offer to send (29), then to print (39).
        asked.clear();
        window->on_btnMain_print_clicked();
        // Any other question on the way is a failure: it is named rather than waited out.
        const auto offered = [this](int kind) { return asked.contains(kind) || !unexpected().isEmpty(); };
        QTRY_VERIFY_WITH_TIMEOUT(offered(29), TestTime::waitMs(60000));
        QVERIFY2(unexpected().isEmpty(), qPrintable(unexpected()));
        QTRY_VERIFY_WITH_TIMEOUT(offered(39), TestTime::waitMs(60000));
        QVERIFY2(unexpected().isEmpty(), qPrintable(unexpected()));
        QTRY_COMPARE_WITH_TIMEOUT(onPrinter([this] { return sim->printerState; }), int(PrinterSim::Printing), TestTime::waitMs(10000));

        const QString printFile = AppData::instance()->getSettingsDir() + "/gco/cube.BVT";
        QFile bvt(printFile);
        QVERIFY(bvt.open(QIODevice::ReadOnly));
        QCOMPARE(onPrinter([this] { return sim->fileName(); }), QStringLiteral("cube.BVT"));
        QCOMPARE(onPrinter([this] { return sim->fileData(); }), bvt.readAll());
        // A copy is kept in the program's "gco" folder and heads the recent files.
        QVERIFY(QFileInfo::exists(AppData::instance()->getAppDir() + "/gco/cube.BVT"));
        QVERIFY(AppData::instance()->getRecentFiles().contains("cube.BVT"));
        QCOMPARE(window->view()->showMode(), 2);
    }

    // A print-task file already kept in the program's "gco" folder is sent as it is and stays
    // there whole; one from elsewhere is copied in. The printer gets its bytes either way.
    void sendsAKeptFile_data()
    {
        QTest::addColumn<bool>("kept");
        QTest::newRow("kept in gco") << true;
        QTest::newRow("from elsewhere") << false;
    }
    void sendsAKeptFile()
    {
        QFETCH(bool, kept);
        const QString gco = AppData::instance()->getAppDir() + "/gco";
        const QString path = (kept ? gco : dir.path()) + "/kept.BVT";
        QFile::remove(gco + "/kept.BVT");
        QVERIFY(QFile::copy(AppData::instance()->getSettingsDir() + "/gco/cube.BVT", path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        file.close();
        onPrinter([this] { return sim->printerState = PrinterSim::Idle; });
        QTRY_VERIFY_WITH_TIMEOUT(ThreadPool::instance()->linkWorker()->isIdle(), TestTime::waitMs(10000));

        window->openFile(path);
        QTRY_COMPARE_WITH_TIMEOUT(window->view()->showMode(), 2, TestTime::waitMs(10000));
        QTRY_VERIFY_WITH_TIMEOUT(!ThreadPool::instance()->isBusy(), TestTime::waitMs(10000));
        QCOMPARE(ThreadPool::instance()->printFilePath(), path);
        asked.clear();
        window->on_btnMain_print_clicked();
        // Send, then the offer to print; a failed transfer's box ends the wait as well.
        QTRY_VERIFY_WITH_TIMEOUT(asked.size() >= 2, TestTime::waitMs(30000));
        QCOMPARE(asked, (QList<int>{35, 39}));
        QCOMPARE(onPrinter([this] { return sim->fileName(); }), QStringLiteral("kept.BVT"));
        QCOMPARE(onPrinter([this] { return sim->fileData(); }), bytes);
        for (const QString& copy : {path, gco + "/kept.BVT"}) {
            QFile f(copy);
            QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(copy));
            QCOMPARE(f.readAll(), bytes);
        }
        QVERIFY(AppData::instance()->getRecentFiles().contains(QStringLiteral("kept.BVT")));
    }

    // A pause the printer refuses leaves the panel showing the print going on, ready to try again.
    void refusedPauseIsNotShown()
    {
        onPrinter([this] {
            sim->behaviour.progressStep = 0;
            return sim->printerState = PrinterSim::Printing;
        });
        auto* panel = window->findChild<PrintingForm*>();
        QVERIFY(panel);
        QTRY_VERIFY_WITH_TIMEOUT(panel->isVisible(), TestTime::waitMs(10000));
        CommunicateThread* link = ThreadPool::instance()->linkWorker();
        QTRY_COMPARE_WITH_TIMEOUT(link->linkState(), int(CommunicateThread::StatePrinting), TestTime::waitMs(10000));
        // Looked at right after each report the panel takes.
        bool shownPaused = false;
        QObject watch;
        connect(link, &CommunicateThread::signPrintStatus, &watch,
                [&] { shownPaused = shownPaused || panel->isPaused(); }, Qt::QueuedConnection);
        onPrinter([this] { return sim->behaviour.refuseControl = true; });
        const int controls = onPrinter([this] { return sim->requestCount(SerialFrame::ReqControl); });
        QMetaObject::invokeMethod(panel, "on_btn_pause_clicked");
        QTRY_COMPARE(onPrinter([this] { return sim->requestCount(SerialFrame::ReqControl); }), controls + 1);
        QCOMPARE(onPrinter([this] { return sim->requestsOf(SerialFrame::ReqControl).last().data.at(0); }), char(SerialFrame::CtlPause));
        // The answer is taken when the link asks for the status again; printing resumes its reports.
        QTRY_VERIFY(onPrinter([this] { return sim->requests().last().command == SerialFrame::ReqStatus; }));
        QTRY_COMPARE_WITH_TIMEOUT(link->linkState(), int(CommunicateThread::StatePrinting), TestTime::waitMs(10000));
        QTRY_VERIFY(panel->findChild<QWidget*>("btn_pause")->isEnabled());
        onPrinter([this] { return sim->behaviour.refuseControl = false; });
        QVERIFY(!shownPaused);
        QVERIFY(!onPrinter([this] { return sim->paused; }));
    }
};

QTEST_MAIN(TestPrintRoad)
#include "tst_printroad.moc"
