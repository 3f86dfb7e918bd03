// The tool paths of a sliced box in the real view (run under Xvfb): the reader fills the
// preview on a worker thread, the view takes each batch as the main window makes it (even
// while hidden), and the paths are drawn in display mode 2 and not in mode 0. Saves the frame
// as an artefact.
#include <QtTest>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <thread>

#include "FileRW/BVTReader.h"
#include "render/GLWidget.h"
#include "render/GcodePreviewData.h"
#include "render/RenderEngine.h"
#include "scene/AppData.h"
#include "testutil_preview.h"
#include "common/TestTime.h"

using namespace PreviewTest;

namespace {

int differingPixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return a.width() * a.height();
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

} // namespace

class TestPreviewView : public QObject
{
    Q_OBJECT

private slots:
    void slicedBoxShowsInPreviewModeOnly();
};

void TestPreviewView::slicedBoxShowsInPreviewModeOnly()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    AppData::instance()->setSettingsDir(dir.path());

    // Slice a box with the stand-in engine and write the print-task file.
    const QString engine = QStringLiteral(TARNI_BUILD_DIR "/BrevEngine/BrevEngine");
    QVERIFY2(QFile::exists(engine), "the stand-in engine is not built");
    QVERIFY(writeFile(dir.filePath("box.stl"), boxStl(-25, -20, 0, 25, 20, 8)));
    QVERIFY(writeFile(dir.filePath("Brev.ini"), engineIni()));
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(engine, {"-p", "-c", dir.filePath("Brev.ini"), "-s", "posx=98000", "-s", "posy=84000", "-o",
                     dir.filePath("box.gcode"), dir.filePath("box.stl")});
    QVERIFY(p.waitForFinished(TestTime::waitMs(60000)));
    QCOMPARE(p.exitCode(), 0);
    const QStringList lines = QString::fromLocal8Bit(readFile(dir.filePath("box.gcode"))).split('\n', Qt::SkipEmptyParts);
    const QString task = dir.filePath("box.BVT");
    QVERIFY(writePrintTask(dir.path(), task, lines, 1));

    GLWidget view;
    view.resize(640, 480);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QVERIFY(view.isInitialised());
    view.setViewDirect(0);
    view.grabFramebuffer(); // the first frame makes the chunk slots
    QCOMPARE(view.showMode(), 1);
    view.setShowLayer(100);
    view.setSliceView(false);
    const QImage before = view.grabFramebuffer();

    // The reader runs as on the file worker; ready signals reach the view queued.
    chunkPending.store(0);
    BVTReader reader(*AppData::instance()->getGcodePreview(), 1, 145, 145);
    std::atomic<int> lastReady{-1};
    reader.onGcodeReady = [&](bool over) {
        QMetaObject::invokeMethod(
            &view,
            [&view, &lastReady, over] {
                if (over)
                    view.setShowLayer(g_gcodeLayerCount.load());
                view.refreshGcodeView(over);
                lastReady = over ? 1 : 0;
            },
            Qt::QueuedConnection);
    };
    // A hidden (or minimised) view paints nothing; the batch is taken all the same.
    view.hide();
    bool ok = false;
    std::thread worker([&] { ok = reader.LoadGCO(task); });
    QTRY_VERIFY_WITH_TIMEOUT(lastReady.load() == 1, TestTime::waitMs(20000));
    worker.join();
    QVERIFY2(ok, qPrintable(reader.refusal));
    QCOMPARE(chunkPending.load(), 0);
    QVERIFY(view.getRenderer()->gcodeChunkCount() >= 1);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QImage shown = view.grabFramebuffer();
    QCOMPARE(view.showMode(), 2);

    QDir().mkpath(QStringLiteral(TARNI_BUILD_DIR "/artifacts"));
    shown.save(QStringLiteral(TARNI_BUILD_DIR "/artifacts/preview_sliced_box.png"));

    view.setSliceView(false);
    view.setShowLayer(100);
    const QImage hidden = view.grabFramebuffer();
    QCOMPARE(view.showMode(), 0);
    const int drawn = differingPixels(shown, hidden);
    QVERIFY2(drawn > 1000, qPrintable(QString("only %1 pixels of tool path").arg(drawn)));
    QCOMPARE(differingPixels(hidden, before), 0);

    // A low layer on the slider clips the upper layers away.
    view.setSliceView(true);
    view.setShowLayer(2);
    const QImage low = view.grabFramebuffer();
    const int lowDrawn = differingPixels(low, hidden);
    QVERIFY(lowDrawn > 0);
    QVERIFY2(lowDrawn < drawn, qPrintable(QString("%1 vs %2").arg(lowDrawn).arg(drawn)));
}

QTEST_MAIN(TestPreviewView)
#include "tst_previewview.moc"
