// The reader behind the file worker: a ".bvt" load reports time and length, hands batches
// over to the GUI thread and finishes; a refused file fails without a ready signal; stopping
// the worker while the reader waits for the GUI does not hang.
#include <QtTest>

#include <QElapsedTimer>
#include <QTemporaryDir>

#include "FileRW/BVTReader.h"
#include "Thread/FileRWThread.h"
#include "Thread/SignalTypes.h"
#include "render/GcodePreviewData.h"
#include "scene/AppData.h"
#include "testutil_preview.h"
#include "common/TestTime.h"

using namespace PreviewTest;

namespace {

QList<FileRWStatus> finished(const QSignalSpy& spy)
{
    QList<FileRWStatus> out;
    for (const auto& args : spy)
        if (args[0].value<FileRWStatus>().finished)
            out << args[0].value<FileRWStatus>();
    return out;
}

} // namespace

class TestFileWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void loadsAndHandsOver_data();
    void loadsAndHandsOver();
    void stopWhileWaitingForTheView();

private:
    QTemporaryDir dir;
    FileRWThread* worker = nullptr;
};

void TestFileWorker::initTestCase()
{
    QVERIFY(dir.isValid());
    qRegisterMetaType<FileRWStatus>("FileRWStatus");
    AppData::instance()->setSettingsDir(dir.path());
    AppData::instance()->setChoiceType(1);
    FileRWThread::setPrintTaskReader(&BVTReader::loadForFileWorker);
}

void TestFileWorker::init()
{
    chunkPending.store(0);
}

void TestFileWorker::loadsAndHandsOver_data()
{
    QTest::addColumn<int>("fileType");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("made for this machine") << 1 << true;
    QTest::newRow("made for another") << 2 << false;
}

void TestFileWorker::loadsAndHandsOver()
{
    QFETCH(int, fileType);
    QFETCH(bool, accepted);
    const QString path = dir.filePath("w.bvt");
    QVERIFY(writePrintTask(dir.path(), path,
                           engineHead() + QStringList{"G0 Z0.2", "G0 X90 Y80", "G1 X100 Y80 E1", "G1 X100 Y90 E2"},
                           fileType));
    FileRWThread w;
    QSignalSpy status(&w, &FileRWThread::StatusChanged);
    QSignalSpy message(&w, &FileRWThread::signPrintMessage);
    std::vector<bool> readies;
    int triangles = 0;
    // The GUI thread's part: take each batch as the renderer would.
    connect(&w, &FileRWThread::signSendGcodeReady, this, [&](bool over) {
        readies.push_back(over);
        AppData::instance()->getGcodePreview()->takeChunk([&](const ToolPathMesh& m) { triangles += m.triangleCount(); });
    });
    w.loadFile(path);
    QTRY_COMPARE_WITH_TIMEOUT(finished(status).size(), 1, TestTime::waitMs(10000));
    QTest::qWait(20); // a queued ready signal may trail the status
    QCOMPARE(finished(status)[0].success, accepted);
    if (accepted) {
        QCOMPARE(message.size(), 1);
        QCOMPARE(message[0][0].toString(), QString("0:10:00"));
        QCOMPARE(message[0][1].toString(), QString("124"));
        QCOMPARE(readies, std::vector<bool>{true});
        QCOMPARE(triangles, 12 + 8);
        QCOMPARE(chunkPending.load(), 0);
    } else {
        QCOMPARE(message.size(), 0);
        QVERIFY(readies.empty());
    }
}

void TestFileWorker::stopWhileWaitingForTheView()
{
    // Two batches, and no view taking the first: stopping must end the wait.
    const QString path = dir.filePath("big.bvt");
    QByteArray text;
    for (const QString& l : engineHead())
        text += l.toLatin1() + '\n';
    const qint64 fill = 2000100 - 3 - 15 - 4;
    text += "G0 Z0.2\nG1 X98 Y84\n" + QByteArray(";\n").repeated(int(fill)) + "G1 X99 Y84\nM25\n";
    QVERIFY(writeFile(path, encipher(plainPrintTask(text, 2000100 - 3))));

    auto* w = new FileRWThread;
    QSignalSpy ready(w, &FileRWThread::signSendGcodeReady);
    w->loadFile(path);
    QTRY_COMPARE_WITH_TIMEOUT(chunkPending.load(), 1, TestTime::waitMs(10000));
    QElapsedTimer t;
    t.start();
    w->stopThread();
    QVERIFY2(t.elapsed() < TestTime::waitMs(2000), qPrintable(QString::number(t.elapsed())));
    delete w;
    QTest::qWait(20);
    // Only the first batch was announced, never the end.
    for (const auto& args : ready)
        QCOMPARE(args[0].toBool(), false);
}

QTEST_MAIN(TestFileWorker)
#include "tst_fileworker.moc"
