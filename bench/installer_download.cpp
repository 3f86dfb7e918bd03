// How much memory an installer download takes when the network outruns the window: a local
// server on a thread of its own sends an installer of the given size (MiB, default 1200) with
// its length, once to an idle window and once to a window busy 20 ms of every 25 (a heavy
// repaint). A sampler thread records the resident size. Run: bench_installer_download [MiB]
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>

#include "UI/BrevMessageBox.h"
#include "Update/Downloader.h"
#include "updates/testutil_http.h"

namespace {

struct Run
{
    long peakGrowth = 0;
    long heldAfter = 0;
    double seconds = 0;
    qint64 keptMiB = 0;
};

Run download(QApplication& app, const QUrl& url, int busyMs)
{
    std::atomic<bool> sampling{true};
    std::atomic<long> peak{0};
    const long before = residentMiB();
    QThread* sampler = QThread::create([&] {
        while (sampling.load()) {
            peak.store(qMax(peak.load(), residentMiB()));
            QThread::msleep(5);
        }
    });
    sampler->start();

    Run run;
    QElapsedTimer clock;
    clock.start();
    {
        Downloader downloader;
        downloader.startDownload(url);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (busyMs > 0)
                QThread::msleep(busyMs);
            if (!downloader.isDownloading())
                app.quit();
        });
        poll.start(busyMs > 0 ? 25 - busyMs : 50);
        app.exec();
        run.seconds = clock.elapsed() / 1000.0;
        run.keptMiB = QFileInfo(downloader.downloadedPath()).size() / (1024 * 1024);
        QFile::remove(downloader.downloadedPath());
    }
    sampling.store(false);
    sampler->wait();
    delete sampler;
    run.peakGrowth = peak.load() - before;
    run.heldAfter = residentMiB() - before;
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 mib = argc > 1 ? qMax(1LL, QByteArray(argv[1]).toLongLong()) : 1200;
    QTemporaryDir temp;
    qputenv("TMPDIR", temp.path().toLocal8Bit());
    BrevMessageBox::setAnswerHook([](BrevMessageBox&) { return 1; });

    StreamingHttpServer server;
    if (!server.start(mib * 1024 * 1024))
        return 1;

    std::printf("installer_size: %lld MiB\n", mib);
    for (int busyMs : {0, 20}) {
        const Run run = download(app, server.url(), busyMs);
        const char* name = busyMs > 0 ? "busy_window" : "idle_window";
        std::printf("%s_kept: %lld MiB\n", name, run.keptMiB);
        std::printf("%s_peak_rss_growth: %ld MiB\n", name, run.peakGrowth);
        std::printf("%s_rss_held_after: %ld MiB\n", name, run.heldAfter);
        std::printf("%s_seconds: %.2f s\n", name, run.seconds);
    }

    return 0;
}
