// Sends a 10 MB print-task file to the simulated printer over a pseudo-terminal and
// measures the rate; then measures the link's processor time while it idles, polling.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <ctime>

#include "PrinterSim.h"
#include "Thread/CommunicateThread.h"
#include "platform/Platform.h"

namespace {
double threadCpuSeconds(QThread* thread, CommunicateThread* link)
{
    double seconds = 0;
    QMetaObject::invokeMethod(link, [&seconds] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        seconds = double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
    }, Qt::BlockingQueuedConnection);
    Q_UNUSED(thread);
    return seconds;
}

void waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    registerSignalTypes();
    QTemporaryDir dir;
    const QString port = dir.path() + QStringLiteral("/printer");
    qputenv("TARNI_SERIAL_PORTS", port.toLocal8Bit());

    PrinterSim sim;
    if (!sim.start(port)) {
        std::fprintf(stderr, "cannot open a pseudo-terminal\n");
        return 1;
    }
    QThread thread;
    auto* link = new CommunicateThread;
    link->moveToThread(&thread);
    thread.start();

    bool up = false;
    SendBVTStatus last;
    QObject::connect(link, &CommunicateThread::linkStatus, &app, [&up](bool s) { up = s; });
    QObject::connect(link, &CommunicateThread::sendBVTStatusChanged, &app, [&last](SendBVTStatus s) { last = s; });
    QMetaObject::invokeMethod(link, &CommunicateThread::startSerialdetection, Qt::QueuedConnection);
    waitFor([&up] { return up; }, 10000);
    if (!up) {
        std::fprintf(stderr, "no link\n");
        return 1;
    }

    const int size = 10 * 1000 * 1000;
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 131) ^ (i >> 9));
    const QString path = dir.path() + QStringLiteral("/bench.BVT");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != size)
        return 1;
    f.close();

    QElapsedTimer t;
    t.start();
    QMetaObject::invokeMethod(link, [link, path] { link->BVTProcessing(path); }, Qt::QueuedConnection);
    waitFor([&last] { return last.finished || last.failed; }, 120000);
    const double seconds = t.nsecsElapsed() / 1e9;
    const bool ok = last.finished && sim.fileData() == data;
    std::printf("transfer_ok: %d bool\n", ok ? 1 : 0);
    std::printf("transfer_rate: %.2f MB/s\n", size / 1e6 / seconds);
    std::printf("transfer_time: %.3f s\n", seconds);

    // Idle polling: one status query a second.
    const double cpuBefore = threadCpuSeconds(&thread, link);
    QElapsedTimer idle;
    idle.start();
    waitFor([] { return false; }, 5000);
    const double cpu = threadCpuSeconds(&thread, link) - cpuBefore;
    std::printf("idle_cpu: %.3f %%\n", 100.0 * cpu / (idle.nsecsElapsed() / 1e9));

    QMetaObject::invokeMethod(link, &CommunicateThread::stop, Qt::BlockingQueuedConnection);
    QMetaObject::invokeMethod(link, [link] { link->deleteLater(); }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    return ok ? 0 : 1;
}
