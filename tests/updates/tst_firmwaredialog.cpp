#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QThread>
#include <QTranslator>

#include "Update/Downloader.h"
#include <QtTest>

#include "BootLoaderSim.h"
#include "PrinterSim.h"
#include "Thread/CommunicateThread.h"
#include "UI/BrevMessageBox.h"
#include "UI/UpdateFirmware.h"
#include "Update/Firmware/firmwareupdata.h"
#include "platform/Platform.h"
#include "scene/AppData.h"
#include "common/TestTime.h"

namespace {

void write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

class TestFirmwareDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void family_data();
    void family();
    void imagesAndLog_data();
    void imagesAndLog();
    void updateByLinkState_data();
    void updateByLinkState();
    void noPrinterPort();
    void finish_data();
    void finish();
    void machineData();
    void translated();

private:
    // Opens the dialog modally, runs check inside, then closes it; returns exec's result.
    int openAndCheck(UpdateFirmware& dlg, const std::function<void()>& check);
    template <typename T> T* child(UpdateFirmware& d, const char* name) { return d.findChild<T*>(name); }

    QScopedPointer<QTemporaryDir> app;
    QList<int> boxes;
};

void TestFirmwareDialog::initTestCase()
{
    registerSignalTypes();
    // Short enough for quick failures, long enough for a reply on a busy machine.
    Platform::setTimeoutScale(TestTime::timeoutScale(0.1));
    // No real serial port is ever touched.
    qputenv("TARNI_SERIAL_PORTS", "/nonexistent/printer0");
    BrevMessageBox::setAnswerHook([this](BrevMessageBox& box) {
        boxes << (box.kind() >= 0 ? box.kind() : 1000 + box.printerError());
        return 1;
    });
}

void TestFirmwareDialog::init()
{
    boxes.clear();
    app.reset(new QTemporaryDir);
    QVERIFY(app->isValid());
    AppData::instance()->setAppDir(app->path());
    AppData::instance()->setSettingsDir(app->path());
    AppData::instance()->setLanguage(0);
    AppData::instance()->setChoiceType(1);
}

void TestFirmwareDialog::cleanupTestCase()
{
    BrevMessageBox::setAnswerHook(nullptr);
}

int TestFirmwareDialog::openAndCheck(UpdateFirmware& dlg, const std::function<void()>& check)
{
    bool ran = false;
    QTimer::singleShot(0, &dlg, [&] {
        // A second open while shown changes nothing.
        if (dlg.isVisible() && dlg.exec() == 0)
            check();
        ran = true;
        dlg.reject();
        dlg.hide(); // also when a failed check left it flashing
    });
    const int r = dlg.exec();
    return ran ? r : -1;
}

void TestFirmwareDialog::family_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("family");
    QTest::addColumn<QStringList>("images");
    QTest::newRow("PX5") << 1 << "PX5" << QStringList{"PX5firm_V1.0.bin"};
    QTest::newRow("PX6") << 2 << "PX6" << QStringList{};
    QTest::newRow("PX6-H") << 3 << "PX6-H" << QStringList{"Hfirm_V2.bin"};
    QTest::newRow("no machine") << 0 << "" << QStringList{"loose.bin"};
}

void TestFirmwareDialog::family()
{
    QFETCH(int, type);
    QFETCH(QString, family);
    QFETCH(QStringList, images);
    const QString store = app->path() + "/firmware";
    write(store + "/PX5/PX5firm_V1.0.bin", "a");
    write(store + "/PX6-H/Hfirm_V2.bin", "b");
    write(store + "/loose.bin", "c");
    QDir().mkpath(store + "/PX6");
    AppData::instance()->setChoiceType(type);
    UpdateFirmware dlg;
    auto* families = child<QComboBox>(dlg, "Firewaregenre_combobox");
    // Before opening: every store folder.
    QCOMPARE(families->count(), 3);
    dlg.findChild<QLabel*>("snum")->setText("SN1");
    dlg.findChild<QLabel*>("versionnum")->setText("V1");
    const int r = openAndCheck(dlg, [&] {
        QCOMPARE(families->count(), 1);
        QCOMPARE(families->currentText(), family);
        auto* box = child<QComboBox>(dlg, "Fireware_combobox");
        QStringList shown;
        for (int i = 0; i < box->count(); ++i)
            shown << box->itemText(i);
        QCOMPARE(shown, images);
        QCOMPARE(child<QPushButton>(dlg, "update_pushButton")->isEnabled(), !images.isEmpty());
        QCOMPARE(child<QLabel>(dlg, "snum")->text().isEmpty(), type == 1);
        QCOMPARE(child<QLabel>(dlg, "versionnum")->text().isEmpty(), type == 1);
    });
    QCOMPARE(r, int(QDialog::Rejected));
}

void TestFirmwareDialog::imagesAndLog_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("log");
    QTest::newRow("English") << 0 << "New 1.10\nsecond line";
    QTest::newRow("Chinese") << 1 << QStringLiteral("新 1.10");
}

void TestFirmwareDialog::imagesAndLog()
{
    QFETCH(int, language);
    QFETCH(QString, log);
    const QString dir = app->path() + "/firmware/PX5";
    // Newest first by number: 1.10 comes before 1.9 and 1.2.
    for (const char* v : {"1.2", "1.9", "1.10"}) {
        write(dir + "/PX5firm_V" + v + ".bin", "img");
        write(dir + "/PX5firm_V" + v + "_EN.log", QByteArray("Old ") + v);
    }
    write(dir + "/PX5firm_V1.10_EN.log", "  New 1.10  \r\nsecond line\n");
    write(dir + "/PX5firm_V1.10_CN.log", QStringLiteral("新 1.10\n").toUtf8());
    AppData::instance()->setLanguage(language);
    UpdateFirmware dlg;
    openAndCheck(dlg, [&] {
        auto* box = child<QComboBox>(dlg, "Fireware_combobox");
        QCOMPARE(box->count(), 3);
        QCOMPARE(box->itemText(0), QString("PX5firm_V1.10.bin"));
        QCOMPARE(box->itemText(2), QString("PX5firm_V1.2.bin"));
        QCOMPARE(box->currentIndex(), 0);
        QCOMPARE(dlg.chosenPath(), dir + "/PX5firm_V1.10.bin");
        QCOMPARE(child<QTextEdit>(dlg, "log_textEdit")->toPlainText(), log);
        if (language == 0) {
            box->setCurrentIndex(1);
            QCOMPARE(dlg.chosenPath(), dir + "/PX5firm_V1.9.bin");
            QCOMPARE(child<QTextEdit>(dlg, "log_textEdit")->toPlainText(), QString("Old 1.9"));
        }
    });
}

// The printer link lives on its own thread, as in the program.
struct LinkRig
{
    QThread thread;
    CommunicateThread* link = new CommunicateThread;
    LinkRig()
    {
        link->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, link, &QObject::deleteLater);
        thread.start();
    }
    ~LinkRig()
    {
        thread.quit();
        thread.wait();
    }
};

// Only a linked printer at work keeps the dialog from flashing. A failed flash leaves the
// printer in its boot loader, which answers no handshake: it can be flashed again.
void TestFirmwareDialog::updateByLinkState_data()
{
    QTest::addColumn<int>("printerState");
    QTest::addColumn<bool>("paused");
    QTest::addColumn<QList<int>>("messages");
    QTest::newRow("boot loader, handshake pending") << int(PrinterSim::Idle) << false << QList<int>{26, 49};
    QTest::newRow("printing") << int(PrinterSim::Printing) << false << QList<int>{24};
    QTest::newRow("paused") << int(PrinterSim::Idle) << true << QList<int>{24};
}

void TestFirmwareDialog::updateByLinkState()
{
    QFETCH(int, printerState);
    QFETCH(bool, paused);
    QFETCH(QList<int>, messages);
    write(app->path() + "/firmware/PX5/PX5firm_V1.0.bin", QByteArray(2048, 'F'));
    QTemporaryDir dir;
    qputenv("TARNI_SERIAL_PORTS", (dir.path() + "/printer0").toLocal8Bit());
    PrinterSim sim;
    BootLoaderSim boot(&sim);
    sim.behaviour.progressStep = 0;
    sim.printerState = printerState;
    sim.paused = paused;
    boot.behaviour.silentAt = 1; // the first flash fails
    boot.behaviour.silentTimes = -1;
    QVERIFY(sim.start(dir.path() + "/printer0"));
    LinkRig rig; // ends before the printer
    UpdateFirmware dlg;
    dlg.setLink(rig.link);
    QMetaObject::invokeMethod(rig.link, &CommunicateThread::startSerialdetection);
    auto* update = child<QPushButton>(dlg, "update_pushButton");
    const bool flashes = messages.size() > 1;
    openAndCheck(dlg, [&] {
        QTRY_VERIFY(rig.link->linkState() >= CommunicateThread::StateReady && rig.link->isIdle() == flashes);
        update->click();
        if (!flashes)
            return;
        QTRY_COMPARE(boxes, QList<int>{26});
        boot.behaviour.silentAt = -1;
        QTRY_COMPARE(rig.link->linkState(), int(CommunicateThread::StateHandshake));
        update->click();
        // While it flashes, neither Escape nor closing the window ends the dialog.
        QTest::keyClick(&dlg, Qt::Key_Escape);
        dlg.close();
        QVERIFY(dlg.isVisible());
        QTRY_COMPARE(boxes, messages);
    });
    QCOMPARE(boxes, messages);
}

void TestFirmwareDialog::noPrinterPort()
{
    write(app->path() + "/firmware/PX5/PX5firm_V1.0.bin", "img");
    LinkRig rig;
    UpdateFirmware dlg;
    dlg.setLink(rig.link);
    QSignalSpy stops(&dlg, &UpdateFirmware::startUpdate);
    QSignalSpy detects(&dlg, &UpdateFirmware::startSerialdetection);
    openAndCheck(dlg, [&] {
        child<QPushButton>(dlg, "update_pushButton")->click();
        QVERIFY(child<QPushButton>(dlg, "update_pushButton")->isEnabled());
        QVERIFY(child<QProgressBar>(dlg, "progressBar")->isHidden());
    });
    QCOMPARE(stops.count(), 1);
    QCOMPARE(detects.count(), 1);
    QCOMPARE(boxes, QList<int>{1002});
}

// How a flash ends: the flasher's last reports and what the dialog does with them.
void TestFirmwareDialog::finish_data()
{
    QTest::addColumn<QList<double>>("progress");
    QTest::addColumn<bool>("error");
    QTest::addColumn<QList<int>>("messages");
    QTest::addColumn<int>("bar");
    QTest::newRow("success") << QList<double>{50, 100.0} << false << QList<int>{49} << 100;
    QTest::newRow("not quite") << QList<double>{50, 99.0} << false << QList<int>{} << 99;
    QTest::newRow("error") << QList<double>{33} << true << QList<int>{26} << 33;
}

void TestFirmwareDialog::finish()
{
    QFETCH(QList<double>, progress);
    QFETCH(bool, error);
    QFETCH(QList<int>, messages);
    QFETCH(int, bar);
    UpdateFirmware dlg;
    dlg.show();
    QSignalSpy detects(&dlg, &UpdateFirmware::startSerialdetection);
    auto* update = child<QPushButton>(dlg, "update_pushButton");
    auto* progressBar = child<QProgressBar>(dlg, "progressBar");
    // As after a successful start.
    QMetaObject::invokeMethod(&dlg, [&] {
        update->setEnabled(false);
        progressBar->show();
    });
    for (double p : progress)
        emit dlg.flasher()->updateProgress(p);
    if (error)
        emit dlg.flasher()->updateError();
    QCOMPARE(progressBar->value(), bar);
    // The success message waits for the (scaled) 3000 ms.
    QCOMPARE(boxes, error ? messages : QList<int>{});
    QTest::qWait(Platform::scaledMs(3000) * 3);
    QTRY_COMPARE(boxes, messages);
    QCOMPARE(detects.count(), messages.size());
    const bool done = !messages.isEmpty();
    QCOMPARE(update->isEnabled(), done);
    QCOMPARE(progressBar->isHidden(), done);
}

void TestFirmwareDialog::machineData()
{
    LinkRig rig;
    UpdateFirmware dlg;
    dlg.setLink(rig.link);
    emit rig.link->signSerialNumber("SN-42", "V3.1", "00:11:22");
    QTRY_COMPARE(child<QLabel>(dlg, "snum")->text(), QString("SN-42"));
    QCOMPARE(child<QLabel>(dlg, "versionnum")->text(), QString("V3.1"));
    QCOMPARE(child<QLabel>(dlg, "mac")->text(), QString("00:11:22"));
}

// The Chinese texts reach both dialogs on a language change.
void TestFirmwareDialog::translated()
{
    UpdateFirmware dlg;
    Downloader down;
    QTranslator zh;
    QVERIFY(zh.load(":/brevant_zh.qm"));
    QCoreApplication::installTranslator(&zh);
    QCoreApplication::processEvents();
    QCOMPARE(child<QLabel>(dlg, "label_12")->text(), QStringLiteral("机器信息"));
    QCOMPARE(child<QPushButton>(dlg, "cancel_pushButton")->text(), QStringLiteral("退出"));
    QCOMPARE(down.findChild<QLabel*>("label_12")->text(), QStringLiteral("更新软件"));
    QCOMPARE(Downloader::sizeText(10), QStringLiteral("10 字节"));
    QCoreApplication::removeTranslator(&zh);
    QCoreApplication::processEvents();
    QCOMPARE(child<QLabel>(dlg, "label_12")->text(), QString("Machine information"));
}

QTEST_MAIN(TestFirmwareDialog)
#include "tst_firmwaredialog.moc"
