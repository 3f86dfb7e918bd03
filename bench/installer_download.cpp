// How much memory an installer download takes: a local server sends an installer of the
// given size (MiB, default 512) with its length, and the peak resident size is compared
// before and after. Run: bench_installer_download [MiB]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

#include "UI/BrevMessageBox.h"
#include "Update/Downloader.h"

namespace {

long peakRssMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// Sends the body a mebibyte at a time as the socket drains, so the server holds little.
void serve(QTcpSocket* socket, qint64 size)
{
    const QByteArray block(1024 * 1024, 'M');
    auto sent = std::make_shared<qint64>(0);
    auto feed = [socket, size, block, sent] {
        while (*sent < size && socket->bytesToWrite() < 4 * block.size()) {
            const qint64 n = qMin<qint64>(block.size(), size - *sent);
            socket->write(block.constData(), n);
            *sent += n;
        }
        if (*sent >= size && socket->bytesToWrite() == 0)
            socket->disconnectFromHost();
    };
    socket->write("HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(size)
                  + "\r\nContent-Disposition: attachment; filename=bench.exe\r\nConnection: close\r\n\r\n");
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, feed);
    feed();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 mib = argc > 1 ? qMax(1LL, QByteArray(argv[1]).toLongLong()) : 512;
    QTemporaryDir temp;
    qputenv("TMPDIR", temp.path().toLocal8Bit());
    BrevMessageBox::setAnswerHook([](BrevMessageBox&) { return 1; });

    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, mib] {
            if (socket->property("served").toBool() || !socket->readAll().contains("\r\n\r\n"))
                return;
            socket->setProperty("served", true);
            serve(socket, mib * 1024 * 1024);
        });
    });

    const long before = peakRssMiB();
    QElapsedTimer clock;
    clock.start();
    Downloader downloader;
    downloader.startDownload(QUrl(QStringLiteral("http://127.0.0.1:%1/setup").arg(server.serverPort())));
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!downloader.isDownloading())
            app.quit();
    });
    poll.start(50);
    app.exec();
    const long after = peakRssMiB();

    std::printf("installer_size: %lld MiB\n", mib);
    std::printf("installer_kept: %lld MiB\n", QFileInfo(downloader.downloadedPath()).size() / (1024 * 1024));
    std::printf("installer_peak_rss_growth: %ld MiB\n", after - before);
    std::printf("installer_seconds: %.2f s\n", clock.elapsed() / 1000.0);
    return 0;
}
