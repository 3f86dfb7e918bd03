#include <QtTest>

#include <QLabel>
#include <QPushButton>
#include <QTranslator>

#include "Thread/CommunicateThread.h"
#include "Thread/FileRWThread.h"
#include "Thread/ThreadPool.h"
#include "UI/PrintMessageForm.h"
#include "UI/PrintingForm.h"
#include "scene/AppData.h"
#include "testutil_printui.h"
#include "common/TestTime.h"


namespace {
SendPrintStatus report(int progress, int nozzle = 200, int bed = 60, bool paused = false, bool ended = false)
{
    SendPrintStatus s;
    s.progress = progress;
    s.nozzleTemp = nozzle;
    s.bedTemp = bed;
    s.paused = paused;
    s.ended = ended;
    return s;
}
} // namespace

class TestPrintPanels : public QObject
{
    Q_OBJECT

    PrintUiFixture* fx = nullptr;
    ThreadPool* pool = nullptr;
    QWidget* host = nullptr;
    PrintingForm* panel = nullptr;

private slots:
    void initTestCase()
    {
        fx = new PrintUiFixture;
        pool = new ThreadPool(nullptr);
    }
    void cleanupTestCase()
    {
        delete pool;
        delete fx;
    }
    void init()
    {
        fx->asked.clear();
        fx->answers.clear();
        AppData::instance()->setChoiceType(3);
        host = new QWidget;
        host->resize(800, 600);
        panel = new PrintingForm(host);
        host->show();
    }
    void cleanup()
    {
        delete host;
    }

    void startsHiddenAndFormLaidOut()
    {
        QVERIFY(panel->isHidden());
        QCOMPARE(panel->width(), 192);
        QCOMPARE(panel->form().label_status->text(), QStringLiteral("Printing"));
        QCOMPARE(panel->form().label_4->text(), QStringLiteral("Ctrl:"));
    }

    void progressAndTemperatures_data()
    {
        QTest::addColumn<int>("progress");
        QTest::addColumn<int>("nozzle");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("nozzleShown");
        QTest::newRow("done") << 10000 << 210 << "100.00" << "210";
        QTest::newRow("tiny") << 5 << 0 << "0.05" << "0";
        QTest::newRow("mid") << 3725 << 199 << "37.25" << "199";
        QTest::newRow("implausible temp") << 100 << -1 << "1.00" << "-1";
    }
    void progressAndTemperatures()
    {
        QFETCH(int, progress);
        QFETCH(int, nozzle);
        QFETCH(QString, shown);
        QFETCH(QString, nozzleShown);
        panel->printStatus(report(progress, nozzle, 55));
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->form().label_progress->text(), shown);
        QCOMPARE(panel->form().label_extruder->text(), nozzleShown);
        QCOMPARE(panel->form().label_bedtemp->text(), QStringLiteral("55"));
    }

    void bedRowByMachine_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("shown");
        QTest::newRow("none") << 0 << true;
        QTest::newRow("PX5") << 1 << false;
        QTest::newRow("PX6A") << 2 << false;
        QTest::newRow("PX6B") << 3 << true;
    }
    void bedRowByMachine()
    {
        QFETCH(int, type);
        QFETCH(bool, shown);
        // A type-1 report first: a later machine with a bed must show the row again.
        AppData::instance()->setChoiceType(1);
        panel->printStatus(report(100));
        AppData::instance()->setChoiceType(type);
        panel->printStatus(report(200, 200, 61));
        QCOMPARE(panel->form().label_bedtemp->isVisible(), shown);
        QCOMPARE(panel->form().label_5->isVisible(), shown);
        QCOMPARE(panel->form().label_8->isVisible(), shown);
    }

    void pauseAndEnd()
    {
        panel->printStatus(report(100, 200, 60, true));
        QVERIFY(panel->isPaused());
        QCOMPARE(panel->form().label_status->text(), QStringLiteral("Pause"));
        QVERIFY(panel->form().btn_pause->styleSheet().contains("start.png"));
        panel->printStatus(report(200));
        QVERIFY(!panel->isPaused());
        QCOMPARE(panel->form().label_status->text(), QStringLiteral("Printing"));
        QVERIFY(panel->form().btn_pause->styleSheet().contains("pause.png"));
        panel->printStatus(report(10000, 0, 0, false, true));
        QVERIFY(panel->isHidden());
    }

    void stopAsks_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("ok") << 1;
        QTest::newRow("cancel") << 0;
    }
    void stopAsks()
    {
        QFETCH(int, answer);
        panel->printStatus(report(100));
        fx->answers[6] = answer;
        QSignalSpy stop(panel, &PrintingForm::signStopPrint);
        panel->form().btn_stop->click();
        QCOMPARE(fx->asked, QList<int>{6});
        QCOMPARE(stop.count(), answer);
        QCOMPARE(panel->form().btn_stop->isEnabled(), answer == 0);
        QCOMPARE(panel->form().btn_pause->isEnabled(), answer == 0);
        QCOMPARE(panel->form().label_status->text(), answer ? QStringLiteral("Wait Stop") : QStringLiteral("Printing"));
        // The next report gives the buttons back.
        panel->printStatus(report(200));
        QVERIFY(panel->form().btn_stop->isEnabled());
    }

    void pauseAsks_data()
    {
        QTest::addColumn<bool>("paused");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("kind");
        QTest::newRow("pause ok") << false << 1 << 8;
        QTest::newRow("pause cancel") << false << 0 << 8;
        QTest::newRow("restore ok") << true << 1 << 9;
        QTest::newRow("restore cancel") << true << 0 << 9;
    }
    void pauseAsks()
    {
        QFETCH(bool, paused);
        QFETCH(int, answer);
        QFETCH(int, kind);
        panel->printStatus(report(100, 200, 60, paused));
        fx->answers[kind] = answer;
        QSignalSpy pause(panel, &PrintingForm::signPausePrint);
        QSignalSpy restore(panel, &PrintingForm::signRestorePrint);
        panel->form().btn_pause->click();
        QCOMPARE(fx->asked, QList<int>{kind});
        QCOMPARE(pause.count(), !paused && answer ? 1 : 0);
        QCOMPARE(restore.count(), paused && answer ? 1 : 0);
        QCOMPARE(panel->form().btn_pause->isEnabled(), answer == 0);
    }

    // The link's reports arrive queued from its thread; a link loss hides the panel and the
    // next report after reconnection starts afresh.
    void followsTheLink()
    {
        CommunicateThread* link = pool->linkWorker();
        onLinkThread([link] { emit link->signPrintStatus(report(4200)); });
        QTRY_VERIFY(panel->isVisible());
        QCOMPARE(panel->form().label_progress->text(), QStringLiteral("42.00"));
        fx->answers[6] = 1;
        panel->form().btn_stop->click();
        QVERIFY(!panel->form().btn_stop->isEnabled());

        onLinkThread([link] { emit link->linkStatus(false); });
        QTRY_VERIFY(panel->isHidden());
        onLinkThread([link] { emit link->signPrintStatus(report(4300, 205, 60, true)); });
        QTRY_VERIFY(panel->isVisible());
        QVERIFY(panel->form().btn_stop->isEnabled());
        QCOMPARE(panel->form().label_status->text(), QStringLiteral("Pause"));
        QCOMPARE(panel->form().label_progress->text(), QStringLiteral("43.00"));
    }

    void printMessage_data()
    {
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("length");
        QTest::addColumn<QString>("shown");
        QTest::newRow("numbers") << "1h 20m" << "1234" << "1234mm";
        QTest::newRow("reader default") << "xxx" << "xxx" << "xxxmm";
    }
    void printMessage()
    {
        QFETCH(QString, time);
        QFETCH(QString, length);
        QFETCH(QString, shown);
        PrintMessageForm form(host);
        QCOMPARE(form.size(), QSize(192, 64));
        QVERIFY(form.testAttribute(Qt::WA_TransparentForMouseEvents));
        // Sent by the file worker as it reads a print-task file.
        emit pool->fileWorker()->signPrintMessage(time, length);
        QCOMPARE(form.form().label_printtime->text(), time);
        QCOMPARE(form.form().label_length->text(), shown);
        form.show();
        form.hideMessage();
        QVERIFY(form.isHidden());
    }

    void translated()
    {
        QTranslator zh;
        QVERIFY(zh.load(":/brevant_zh.qm"));
        PrintMessageForm message(host);
        QCoreApplication::installTranslator(&zh);
        panel->printStatus(report(100, 200, 60, true));
        QCOMPARE(panel->form().label_status->text(), QStringLiteral("暂停"));
        QTRY_COMPARE(panel->form().label->text(), QStringLiteral("状态:"));
        QCOMPARE(message.form().label_3->text(), QStringLiteral("打印时间:"));
        QCoreApplication::removeTranslator(&zh);
        QTRY_COMPARE(panel->form().label->text(), QStringLiteral("State:"));
        QCOMPARE(panel->form().label_status->text(), QStringLiteral("Pause"));
    }
};

QTEST_MAIN(TestPrintPanels)
#include "tst_printpanels.moc"
