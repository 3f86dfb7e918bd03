#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include "UI/BrevMessageBox.h"
#include "Update/Firmware/DownloadFirmware.h"
#include "scene/AppData.h"
#include "testutil_http.h"

namespace {

struct Item
{
    QString name;
    QString version;
};

// A version document; each item's files are served under /<name>/<version>/.
QByteArray document(const QList<Item>& items, const QString& base, bool numberAsString = true)
{
    QJsonObject updates;
    if (numberAsString)
        updates.insert("firmware-num", QString::number(items.size()));
    else
        updates.insert("firmware-num", items.size());
    for (int k = 0; k < items.size(); ++k) {
        const QString root = base + "/" + items[k].name + "/" + items[k].version;
        QJsonObject o;
        o.insert("firmware-name", items[k].name);
        o.insert("latest-version", items[k].version);
        o.insert("download-url", root + "/bin");
        o.insert("log-CN", root + "/cn");
        o.insert("log-EN", root + "/en");
        updates.insert(QStringLiteral("firmware-num%1").arg(k + 1), o);
    }
    QJsonObject top;
    top.insert("updates", updates);
    return QJsonDocument(top).toJson();
}

void touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("old");
}

QStringList filesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files, QDir::Name);
}

} // namespace

class TestFirmwareStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void decide_data();
    void decide();
    void download();
    void brokenDocuments_data();
    void brokenDocuments();
    void storedFiles_data();
    void storedFiles();
    void pruning();

private:
    void serveItem(const Item& item, int status = 200, const QByteArray& disposition = QByteArray());
    void runCheck(DownloadFirmware& fw);

    TestHttpServer server;
    QScopedPointer<QTemporaryDir> app;
    QList<int> kinds;
};

void TestFirmwareStore::initTestCase()
{
    QVERIFY(server.start());
    useTestServer(server);
    BrevMessageBox::setAnswerHook([this](BrevMessageBox& box) {
        kinds << box.kind();
        return 1;
    });
}

void TestFirmwareStore::init()
{
    server.clear();
    kinds.clear();
    app.reset(new QTemporaryDir);
    QVERIFY(app->isValid());
    AppData::instance()->setAppDir(app->path());
}

void TestFirmwareStore::cleanupTestCase()
{
    BrevMessageBox::setAnswerHook(nullptr);
}

void TestFirmwareStore::serveItem(const Item& item, int status, const QByteArray& disposition)
{
    const QString root = "/" + item.name + "/" + item.version;
    server.set(root + "/bin", "image " + item.version.toUtf8(), status, disposition);
    server.set(root + "/cn", "cn log", status);
    server.set(root + "/en", "en log", status);
}

void TestFirmwareStore::runCheck(DownloadFirmware& fw)
{
    QSignalSpy done(&fw, &DownloadFirmware::downloadsFinished);
    fw.requestVersionInfo();
    // One signal per document without downloads, one when a document's downloads end.
    QVERIFY(waitUntil([&] { return done.count() >= 2; }));
    QTest::qWait(20);
}

// Whether a server version is fetched, by the newest local image.
void TestFirmwareStore::decide_data()
{
    QTest::addColumn<QString>("local"); // images in the store, comma separated; empty: none
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("fetched");
    QTest::newRow("no local image") << "" << "1.0" << true;
    QTest::newRow("numeric compare") << "1.2.9" << "1.2.10" << true;
    QTest::newRow("same") << "1.2.10" << "1.2.10" << false;
    QTest::newRow("fewer parts") << "1.3.0" << "1.3" << false;
    QTest::newRow("more parts") << "1.3" << "1.3.0" << true;
    QTest::newRow("older server") << "2.0" << "1.9" << false;
    QTest::newRow("newest by number") << "1.2,1.2.9,1.2.10" << "1.2.10" << false;
}

void TestFirmwareStore::decide()
{
    QFETCH(QString, local);
    QFETCH(QString, server);
    QFETCH(bool, fetched);
    const Item item{"PX5", server};
    const QStringList locals = local.split(',', Qt::SkipEmptyParts);
    for (const QString& v : locals)
        touch(app->path() + "/firmware/PX5/PX5firm_V" + v + ".bin");
    this->server.set("/version/PX5/firm", document({item}, this->server.baseUrl()));
    serveItem(item);
    DownloadFirmware fw;
    runCheck(fw);
    const QString image = app->path() + "/firmware/PX5/PX5firm_V" + server + ".bin";
    QCOMPARE(QFile::exists(image) && !locals.contains(server), fetched);
    QCOMPARE(kinds, fetched ? QList<int>{47} : QList<int>{});
}

void TestFirmwareStore::download()
{
    const QList<Item> px6{{"PX6", "2.1"}, {"PX6-H", "1.0"}};
    server.set("/version/PX6/firm", document(px6, server.baseUrl()));
    serveItem(px6[0]);
    serveItem(px6[1], 200, "attachment; filename=../../Hfirm.bin");
    DownloadFirmware fw;
    QVERIFY(QFileInfo(app->path() + "/firmware").isDir());
    runCheck(fw);
    QCOMPARE(kinds, QList<int>{48});
    const QString store = app->path() + "/firmware";
    QCOMPARE(filesIn(store + "/PX6"), (QStringList{"PX6firm_V2.1.bin", "PX6firm_V2.1_CN.log", "PX6firm_V2.1_EN.log"}));
    QFile image(store + "/PX6/PX6firm_V2.1.bin");
    QVERIFY(image.open(QIODevice::ReadOnly));
    QCOMPARE(image.readAll(), QByteArray("image 2.1"));
    // A server-given name stays inside the item's folder.
    QVERIFY(filesIn(store + "/PX6-H").contains("Hfirm.bin"));
    QVERIFY(!QFile::exists(app->path() + "/Hfirm.bin"));
    QVERIFY(!QFile::exists(store + "/Hfirm.bin"));
}

// Documents and downloads that must leave the store as it was, without a message.
void TestFirmwareStore::brokenDocuments_data()
{
    QTest::addColumn<QByteArray>("doc");
    QTest::addColumn<int>("itemStatus");
    QTest::addColumn<int>("messages");
    QTest::newRow("count as number") << QByteArray("number") << 200 << 0;
    QTest::newRow("not json") << QByteArray("{{") << 200 << 0;
    QTest::newRow("huge count") << QByteArray("huge") << 200 << 0;
    QTest::newRow("image missing") << QByteArray() << 404 << 1;
    QTest::newRow("folder name") << QByteArray("escape") << 200 << 0;
    // The version is part of the file names: it must not lead out of the item's folder.
    QTest::newRow("version with a slash") << QByteArray("version /../../../1.0") << 200 << 0;
    QTest::newRow("version with a backslash") << QByteArray("version \\..\\1.0") << 200 << 0;
    // Half an image, its change logs whole: none of them is kept.
    QTest::newRow("image cut, length given") << QByteArray("cut") << 200 << 1;
    QTest::newRow("image cut, no length") << QByteArray("cut, no length") << 200 << 1;
}

void TestFirmwareStore::brokenDocuments()
{
    QFETCH(QByteArray, doc);
    QFETCH(int, itemStatus);
    QFETCH(int, messages);
    const Item item{"PX5", "1.0"};
    if (doc == "number")
        doc = document({item}, server.baseUrl(), false);
    else if (doc == "huge")
        doc = R"({"updates":{"firmware-num":"99999999999"}})";
    else if (doc == "escape")
        doc = document({Item{"..", "1.0"}}, server.baseUrl());
    else if (doc.startsWith("version "))
        doc = document({Item{"PX5", QString::fromUtf8(doc.mid(8))}}, server.baseUrl());
    const bool cut = doc.startsWith("cut");
    const bool declareLength = !doc.endsWith("no length");
    if (doc.isEmpty() || cut)
        doc = document({item}, server.baseUrl());
    server.set("/version/PX5/firm", doc);
    serveItem(item, itemStatus);
    if (cut)
        server.cut("/PX5/1.0/bin", 4, declareLength);
    serveItem(Item{"..", "1.0"});
    DownloadFirmware fw;
    runCheck(fw);
    QCOMPARE(kinds.size(), messages);
    const QString store = app->path() + "/firmware";
    QCOMPARE(QDir(store).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QCOMPARE(filesIn(app->path()), QStringList());
}

// Which of an item's files reach the store, by how each is served: a file moved elsewhere
// on the server is followed; a change log is kept only whole and within its cap.
void TestFirmwareStore::storedFiles_data()
{
    QTest::addColumn<QString>("file"); // the one served differently: bin or en
    QTest::addColumn<QStringList>("stored");
    const QStringList all{"PX5firm_V1.0.bin", "PX5firm_V1.0_CN.log", "PX5firm_V1.0_EN.log"};
    const QStringList noEnglish{"PX5firm_V1.0.bin", "PX5firm_V1.0_CN.log"};
    QTest::newRow("image redirected") << "bin" << all;
    QTest::newRow("change log redirected") << "en" << all;
    QTest::newRow("change log cut, no length") << "en" << noEnglish;
    QTest::newRow("change log over the cap") << "en" << noEnglish;
}

void TestFirmwareStore::storedFiles()
{
    QFETCH(QString, file);
    QFETCH(QStringList, stored);
    const QByteArray tag = QTest::currentDataTag();
    const Item item{"PX5", "1.0"};
    server.set("/version/PX5/firm", document({item}, server.baseUrl()));
    serveItem(item);
    const QString path = "/PX5/1.0/" + file;
    const QByteArray body = tag.contains("over the cap") ? QByteArray(1024 * 1024 + 1, 'x') : QByteArray(800, 'x');
    server.set(path, body);
    if (tag.contains("redirected")) {
        server.redirect(path, "/moved/" + file);
        server.set("/moved/" + file, body);
    } else if (tag.contains("cut")) {
        server.cut(path, body.size() / 2, false);
    }
    DownloadFirmware fw;
    runCheck(fw);
    QCOMPARE(kinds, QList<int>{47});
    const QString dir = app->path() + "/firmware/PX5";
    QCOMPARE(filesIn(dir), stored);
    if (stored.size() == 3) {
        QFile f(dir + (file == "bin" ? "/PX5firm_V1.0.bin" : "/PX5firm_V1.0_EN.log"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), body);
    }
}

void TestFirmwareStore::pruning()
{
    const QString dir = app->path() + "/firmware/PX5";
    // Ordered by number, not by name: 1.8 and 1.9 are the oldest.
    for (const char* v : {"1.8", "1.9", "1.10", "1.11", "1.12", "1.13"}) {
        touch(dir + "/PX5firm_V" + v + ".bin");
        touch(dir + "/PX5firm_V" + v + "_CN.log");
        touch(dir + "/PX5firm_V" + v + "_EN.log");
    }
    const Item item{"PX5", "1.14"};
    server.set("/version/PX5/firm", document({item}, server.baseUrl()));
    serveItem(item);
    DownloadFirmware fw;
    runCheck(fw);
    QStringList images = QDir(dir).entryList({"*.bin"}, QDir::Files, QDir::Name);
    QCOMPARE(images, (QStringList{"PX5firm_V1.10.bin", "PX5firm_V1.11.bin", "PX5firm_V1.12.bin",
                                  "PX5firm_V1.13.bin", "PX5firm_V1.14.bin"}));
    QCOMPARE(QDir(dir).entryList({"*.log"}, QDir::Files).size(), 10);
    QVERIFY(!QFile::exists(dir + "/PX5firm_V1.8_CN.log"));
    QVERIFY(!QFile::exists(dir + "/PX5firm_V1.9_EN.log"));
}

QTEST_MAIN(TestFirmwareStore)
#include "tst_firmwarestore.moc"
