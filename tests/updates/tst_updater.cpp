#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QScopeGuard>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include "UI/BrevMessageBox.h"
#include "Update/Downloader.h"
#include "Update/UpdateServer.h"
#include "Update/UpdaterTarni.h"
#include "common/FullDisk.h"
#include "scene/AppData.h"
#include "testutil_http.h"

namespace {

QByteArray document(const QString& version, const QString& base)
{
    return QStringLiteral(R"({"updates":{"windows64":{"latest-version":"%1","download-url":"%2/setup",)"
                          R"("log-CN":"%2/logcn","log-EN":"%2/logen"}}})")
        .arg(version, base)
        .toUtf8();
}

struct Box
{
    int kind;
    QString text;
    QString title;
};

} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void versions_data();
    void versions();
    void sizes_data();
    void sizes();
    void check_data();
    void check();
    void installer_data();
    void installer();
    void installerMemory();
    void changeLogLanguage();
    void changeLogs_data();
    void changeLogs();
    void stopByUser_data();
    void stopByUser();

private:
    QWidget* waitForDownloader(UpdaterTarni& u);

    TestHttpServer server;
    QTemporaryDir temp;
    QList<Box> boxes;
    int answer = 1;
    QList<QUrl> opened;
};

void TestUpdater::initTestCase()
{
    QVERIFY(server.start());
    QVERIFY(temp.isValid());
    useTestServer(server);
    UpdateServer::setCapDivisor(1024); // the installer's cap becomes 2 MiB
    qputenv("TMPDIR", temp.path().toLocal8Bit());
    QCOMPARE(QDir::cleanPath(QDir::tempPath()), QDir::cleanPath(temp.path()));
    QCoreApplication::setApplicationVersion(QStringLiteral("3.0.7"));
    BrevMessageBox::setAnswerHook([this](BrevMessageBox& box) {
        boxes << Box{box.kind(), box.text(), box.titleText()};
        return answer;
    });
    Downloader::setOpenUrlHook([this](const QUrl& url) {
        opened << url;
        return true;
    });
}

void TestUpdater::init()
{
    server.clear();
    boxes.clear();
    opened.clear();
    answer = 1;
    AppData::instance()->setSettingsDir(temp.path());
}

void TestUpdater::cleanupTestCase()
{
    BrevMessageBox::setAnswerHook(nullptr);
    Downloader::setOpenUrlHook(nullptr);
}

void TestUpdater::versions_data()
{
    QTest::addColumn<QString>("latest");
    QTest::addColumn<QString>("running");
    QTest::addColumn<bool>("newer");
    QTest::newRow("numeric part") << "3.0.10" << "3.0.7" << true;
    QTest::newRow("shorter older") << "3.0" << "3.0.7" << false;
    QTest::newRow("minor") << "3.1" << "3.0.7" << true;
    QTest::newRow("extra part") << "3.0.7.1" << "3.0.7" << true;
    QTest::newRow("same") << "3.0.7" << "3.0.7" << false;
    QTest::newRow("older") << "2.9.99" << "3.0.7" << false;
    QTest::newRow("trailing zero") << "1.3" << "1.3.0" << false;
    QTest::newRow("more parts") << "1.3.0" << "1.3" << true;
    QTest::newRow("letters read 0") << "3.x.9" << "3.0.7" << true;
    QTest::newRow("empty") << "" << "3.0.7" << false;
}

void TestUpdater::versions()
{
    QFETCH(QString, latest);
    QFETCH(QString, running);
    QFETCH(bool, newer);
    QCOMPARE(UpdateServer::isNewerVersion(latest, running), newer);
}

void TestUpdater::sizes_data()
{
    QTest::addColumn<qlonglong>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("bytes") << 1023LL << "1023 bytes";
    QTest::newRow("kilo") << 1500LL << "1 KB";
    QTest::newRow("kilo top") << 1048575LL << "1023 KB";
    QTest::newRow("mega") << 5500000LL << "5 MB";
    QTest::newRow("giga") << 5LL * 1024 * 1024 * 1024 << "5120 MB";
}

void TestUpdater::sizes()
{
    QFETCH(qlonglong, bytes);
    QFETCH(QString, text);
    QCOMPARE(Downloader::sizeText(bytes), text);
}

// What the user is told after a check, by what the server says.
void TestUpdater::check_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("reminder");
    QTest::addColumn<int>("kind");
    QTest::newRow("newer") << 200 << QByteArray("3.1") << false << 45;
    QTest::newRow("same, from menu") << 200 << QByteArray("3.0.7") << true << 46;
    QTest::newRow("same, at start") << 200 << QByteArray("3.0.7") << false << -1;
    QTest::newRow("server error") << 500 << QByteArray("3.1") << true << -1;
    QTest::newRow("broken document") << 200 << QByteArray() << true << -1;
    QTest::newRow("no platform") << 200 << QByteArray("{}") << true << 46;
}

void TestUpdater::check()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, reminder);
    QFETCH(int, kind);
    QByteArray doc = body == "{}" ? QByteArray(R"({"updates":{}})") : body.isEmpty() ? QByteArray("{not json")
                                                                                  : document(body, server.baseUrl());
    server.set(UpdaterTarni::documentPath(), doc, status);
    answer = 0; // no download
    UpdaterTarni u;
    QSignalSpy finished(&u, &UpdaterTarni::checkFinished);
    u.checkForUpdates(reminder);
    QVERIFY(waitUntil([&] { return finished.count() > 0; }));
    QCoreApplication::processEvents();
    if (kind < 0) {
        QVERIFY(boxes.isEmpty());
    } else {
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.at(0).kind, kind);
        if (kind == 45)
            QVERIFY(boxes.at(0).text.contains("3.1"));
    }
    QVERIFY(!u.downloader()->isVisible());
}

QWidget* TestUpdater::waitForDownloader(UpdaterTarni& u)
{
    u.checkForUpdates(false);
    Downloader* d = u.downloader();
    auto* stack = d->findChild<QStackedWidget*>("stackedWidget");
    if (!waitUntil([&] { return stack->currentWidget()->objectName() == "page_log" || (!d->isVisible() && !boxes.isEmpty()
                                                                                   && boxes.last().kind != 45); }))
        return nullptr;
    return stack->currentWidget();
}

void TestUpdater::installer_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("disposition");
    QTest::addColumn<QString>("savedAs"); // empty: the download fails
    QTest::newRow("named") << 200 << QByteArray("MZ installer") << QByteArray("attachment; filename=Setup_3.1.exe")
                           << "Setup_3.1.exe";
    QTest::newRow("unnamed") << 200 << QByteArray("MZ installer") << QByteArray() << "Tarin.exe";
    QTest::newRow("name with folders") << 200 << QByteArray("MZ") << QByteArray("attachment; filename=../../evil.exe")
                                       << "evil.exe";
    QTest::newRow("missing") << 404 << QByteArray("no") << QByteArray() << "";
    QTest::newRow("empty") << 200 << QByteArray() << QByteArray() << "";
    // Fails as an aborted download does, also when the excess comes with the last bytes.
    QTest::newRow("over the cap") << 200 << QByteArray(2 * 1024 * 1024 + 1, 'M')
                                  << QByteArray("attachment; filename=over.exe") << "";
    // Rows named "cut" break off halfway.
    QTest::newRow("cut, length given") << 200 << QByteArray(100000, 'M') << QByteArray("attachment; filename=cut.exe") << "";
    QTest::newRow("cut, no length") << 200 << QByteArray(100000, 'M') << QByteArray("attachment; filename=cut.exe") << "";
    QTest::newRow("redirected") << 200 << QByteArray("MZ moved") << QByteArray() << "Tarin.exe";
    // The same dialog downloads again later in the run: the second body is measured alone.
    QTest::newRow("twice") << 200 << QByteArray(3000, 'M') << QByteArray() << "Tarin.exe";
    // The temporary folder is full: the download fails with the reason, and leaves nothing.
    QTest::newRow("full disk") << 200 << QByteArray(100000, 'M') << QByteArray("attachment; filename=full.exe") << "";
}

void TestUpdater::installer()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, disposition);
    QFETCH(QString, savedAs);
    server.set(UpdaterTarni::documentPath(), document("3.1", server.baseUrl()));
    server.set("/setup", body, status, disposition);
    const QByteArray tag = QTest::currentDataTag();
    if (tag.startsWith("cut"))
        server.cut("/setup", body.size() / 2, !tag.endsWith("no length"));
    if (tag == "redirected") {
        server.redirect("/setup", "/moved/setup");
        server.set("/moved/setup", body);
    }
    server.set("/logen", "Fixes\n", 200);
    FullDisk disk(temp.path() + "/full", 0);
    std::unique_ptr<FullDisk::Limit> limit;
    const QByteArray tmpdir = qgetenv("TMPDIR");
    if (tag == "full disk") {
        QString why;
        QVERIFY2(disk.setUp(&why) && disk.fillUp(&why), qPrintable(why));
        qputenv("TMPDIR", QFile::encodeName(disk.path()));
        limit = std::make_unique<FullDisk::Limit>(disk);
    }
    auto restore = qScopeGuard([&] { limit.reset(); qputenv("TMPDIR", tmpdir); });
    UpdaterTarni u;
    QWidget* page = waitForDownloader(u);
    QVERIFY(page);
    QCOMPARE(boxes.first().kind, 45);
    Downloader* d = u.downloader();
    if (tag == "twice") {
        QCOMPARE(page->objectName(), QString("page_log"));
        QFile::remove(d->downloadedPath());
        d->startDownload(QUrl(server.baseUrl() + "/setup"));
        auto* stack = d->findChild<QStackedWidget*>("stackedWidget");
        QVERIFY(waitUntil([&] { return !d->isDownloading(); }));
        QCoreApplication::processEvents();
        page = stack->currentWidget();
    }
    if (savedAs.isEmpty()) {
        QCOMPARE(boxes.size(), 2);
        QCOMPARE(boxes.last().title, QString("Down Fail"));
        if (tag == "full disk") {
            QVERIFY2(boxes.last().text.startsWith("Down Fail\nCannot write")
                         && boxes.last().text.contains(QRegularExpression("No space left on device|File too large")),
                     qPrintable(boxes.last().text));
            QCOMPARE(disk.entries(), QStringList());
        } else {
            QCOMPARE(boxes.last().text, QString("Down Fail"));
        }
        QVERIFY(d->downloadedPath().isEmpty());
        const QString named = QString::fromUtf8(disposition).section('=', 1);
        // Neither the file nor a part of it is left behind.
        QVERIFY(named.isEmpty() || QDir(temp.path()).entryList({named + "*"}, QDir::Files).isEmpty());
        return;
    }
    QCOMPARE(page->objectName(), QString("page_log"));
    QCOMPARE(d->size(), QSize(668, 500));
    const QString path = temp.path() + "/" + savedAs;
    QCOMPARE(d->downloadedPath(), path);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), body);
    QVERIFY(!QFile::exists(QDir::cleanPath(temp.path() + "/../../evil.exe")) || savedAs != "evil.exe");
    d->findChild<QPushButton*>("openButton")->click();
    QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(path)});
    QCOMPARE(boxes.size(), 1);
}

// The largest size the kernel lets a socket buffer of one direction grow to.
static qint64 socketBufferMax(const char* name)
{
    QFile f(QStringLiteral("/proc/sys/net/ipv4/") + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().simplified().split(' ');
    return fields.size() == 3 ? fields.at(2).toLongLong() : 0;
}

// However fast the network, the installer is held in memory only a few mebibytes at a time,
// also while the window is too busy to write it out.
void TestUpdater::installerMemory()
{
    constexpr qint64 MiB = 1024 * 1024;
    constexpr qint64 size = 160 * MiB;
    UpdateServer::setCapDivisor(1);
    const auto restoreCaps = qScopeGuard([] { UpdateServer::setCapDivisor(1024); });
    StreamingHttpServer stream;
    QVERIFY(stream.start(size));
    Downloader d;
    d.startDownload(stream.url());
    QVERIFY(waitUntil([&] { return stream.sent() > 8 * MiB || !d.isDownloading(); }));
    QVERIFY(d.isDownloading());
    // Measured from here: the dialog's and the network's first set-up are no part of it
    // (run alone, they were most of the growth).
    const long residentBefore = residentMiB();
    // A long repaint: nothing is written meanwhile, so all the network hands over is held.
    const qint64 sentBefore = stream.sent();
    QThread::msleep(1000);
    const qint64 held = stream.sent() - sentBefore;
    const long residentGrowth = residentMiB() - residentBefore;
    QVERIFY(waitUntil([&] { return !d.isDownloading(); }, TestTime::waitMs(30000)));
    QCoreApplication::processEvents();
    // What the server handed over also lies in the kernel's socket buffers, which this
    // machine's settings may let grow to tens of mebibytes; only the rest is ours.
    const qint64 kernel = socketBufferMax("tcp_rmem") + socketBufferMax("tcp_wmem");
    QVERIFY2(held < kernel + 16 * MiB,
             qPrintable(QStringLiteral("%1 MiB taken while the window was busy, %2 MiB of it the kernel's at most")
                            .arg(held / MiB).arg(kernel / MiB)));
#ifndef TARNI_TEST_SANITIZED
    // (The sanitiser's allocator keeps freed blocks for a while.)
    QVERIFY2(residentGrowth < 64, qPrintable(QStringLiteral("resident size grew by %1 MiB").arg(residentGrowth)));
#else
    Q_UNUSED(residentGrowth);
#endif
    QCOMPARE(QFileInfo(d.downloadedPath()).size(), size);
    QFile::remove(d.downloadedPath());
}

void TestUpdater::changeLogLanguage()
{
    server.set(UpdaterTarni::documentPath(), document("3.1", server.baseUrl()));
    server.set("/setup", "MZ");
    server.set("/logen", "  First fix  \nSecond fix\n", 200, "attachment; filename=en.log");
    server.set("/logcn", QStringLiteral("修复\n").toUtf8());
    AppData::instance()->setLanguage(1);
    UpdaterTarni u;
    Downloader* d = u.downloader();
    QVERIFY(waitForDownloader(u));
    QVERIFY(waitUntil([&] { return !d->logPathCN().isEmpty() && !d->logPathEN().isEmpty(); }));
    QCOMPARE(d->logPathEN(), temp.path() + "/en.log");
    QCOMPARE(d->logPathCN(), temp.path() + "/logCN.log");
    auto* log = d->findChild<QTextEdit*>("LogTextEdit");
    QCOMPARE(log->toPlainText(), QStringLiteral("修复"));
    AppData::instance()->setLanguage(0);
    d->setLog();
    QCOMPARE(log->toPlainText(), QString("First fix\nSecond fix"));
}

// Only the change log that arrived whole is kept and shown.
void TestUpdater::changeLogs_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("kept");
    QTest::newRow("redirected") << QByteArray("Moved fixes\n") << true;
    QTest::newRow("cut, no length") << QByteArray(800, 'x') << false;
    QTest::newRow("over the cap") << QByteArray(1024 + 1, 'x') << false; // the 1 MiB cap, divided
}

void TestUpdater::changeLogs()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, kept);
    const QByteArray tag = QTest::currentDataTag();
    server.set(UpdaterTarni::documentPath(), document("3.1", server.baseUrl()));
    server.set("/logcn", "cn\n");
    server.set("/logen", body);
    if (tag.startsWith("cut"))
        server.cut("/logen", body.size() / 2, false);
    if (tag == "redirected") {
        server.redirect("/logen", "/moved/logen");
        server.set("/moved/logen", body);
    }
    answer = 0; // no installer
    UpdaterTarni u;
    // The version document and both logs have been answered and handled.
    QSignalSpy cn(u.findChildren<QNetworkAccessManager*>().at(1), &QNetworkAccessManager::finished);
    QSignalSpy en(u.findChildren<QNetworkAccessManager*>().at(2), &QNetworkAccessManager::finished);
    u.checkForUpdates(false);
    QVERIFY(waitUntil([&] { return cn.count() == 1 && en.count() == 1; }));
    QCoreApplication::processEvents();
    Downloader* d = u.downloader();
    QCOMPARE(d->logPathCN(), temp.path() + "/logCN.log");
    const QString path = temp.path() + "/logEN.log";
    QCOMPARE(d->logPathEN(), kept ? path : QString());
    QCOMPARE(QFile::exists(path), kept);
    if (kept) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), body);
    }
    QFile::remove(path);
}

// A transfer the user stops ends without a failure message; one the user keeps stays in
// view, to be opened when it is done.
void TestUpdater::stopByUser_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("reply"); // to "Stop download Tarni?"
    QTest::newRow("stop, yes") << "stopButton" << 1;
    QTest::newRow("stop, cancel") << "stopButton" << 0;
    QTest::newRow("close, yes") << "btn_win_close" << 1;
    QTest::newRow("close, cancel") << "btn_win_close" << 0;
}

void TestUpdater::stopByUser()
{
    QFETCH(QString, button);
    QFETCH(int, reply);
    // A server that never answers keeps the download running.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    Downloader d;
    d.startDownload(QUrl(QStringLiteral("http://127.0.0.1:%1/slow").arg(silent.serverPort())));
    QVERIFY(d.isVisible());
    QVERIFY(d.isDownloading());
    auto* close = d.findChild<QPushButton*>("btn_win_close");
    // Its cross is drawn: the strokes meet in the middle.
    QVERIFY(qGray(close->grab().toImage().pixel(close->width() / 2, close->height() / 2)) < 160);
    answer = reply;
    d.findChild<QPushButton*>(button)->click();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.at(0).kind, 25);
    if (reply == 0) {
        QTest::qWait(50);
        QVERIFY(d.isDownloading());
        QVERIFY(d.isVisible());
        QCOMPARE(d.findChild<QStackedWidget*>("stackedWidget")->currentWidget()->objectName(), QString("page_download"));
        return;
    }
    QVERIFY(waitUntil([&] { return !d.isDownloading(); }));
    QCoreApplication::processEvents();
    QCOMPARE(boxes.size(), 1);
    QVERIFY(!d.isVisible());
    // Nothing downloaded: Open says so.
    d.findChild<QPushButton*>("openButton")->click();
    QCOMPARE(boxes.last().kind, 13);
    QVERIFY(opened.isEmpty());
}

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
