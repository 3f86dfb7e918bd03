#pragma once
// Shared by the fuzz targets: the input handed over as a file, since the readers take paths,
// and a Qt that prints nothing for each refused input.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>

namespace fuzz {

// One file per process and suffix, rewritten for every input; in memory where possible.
inline QString inputFile(const uint8_t* data, size_t size, const char* suffix)
{
    static const QString folder = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    const QString path = QStringLiteral("%1/tarni-fuzz-%2%3").arg(folder).arg(QCoreApplication::applicationPid()).arg(QLatin1String(suffix));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(reinterpret_cast<const char*>(data), qint64(size));
    return path;
}

inline void quietQt()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

// Some readers load Qt plugins or use the event machinery: one application object per process.
inline void application()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    (void)app;
    quietQt();
}

// A stream as it may arrive: the first byte says where the rest is cut in two reads.
// Needs size >= 1.
inline std::array<QByteArray, 2> twoReads(const uint8_t* data, size_t size)
{
    const size_t cut = size_t(data[0]) * (size - 1) / 255;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), int(size - 1));
    return {bytes.left(int(cut)), bytes.mid(int(cut))};
}

} // namespace fuzz
