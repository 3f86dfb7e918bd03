#include "platform/Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <atomic>
#include <cmath>
#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace Platform {

QString localAppDataBase()
{
    const QString env = qEnvironmentVariable("LOCALAPPDATA");
    if (!env.isEmpty())
        return QDir::fromNativeSeparators(env);
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString dataDirectory()
{
    QString dir = localAppDataBase() + "/Brevant";
    dir.replace('\\', '/');
    return dir;
}

QString executableDir()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
#ifdef Q_OS_LINUX
    return QFileInfo(QFile::symLinkTarget("/proc/self/exe")).absolutePath();
#else
    return QDir::currentPath();
#endif
}

QString tempDirectory()
{
    // Qt gives an empty path for a missing or relative TMPDIR.
    const QString dir = QDir::tempPath();
    return !dir.isEmpty() && QFileInfo(dir).isDir() ? dir : QString();
}

QString tempFilePath(const QString& name)
{
    const QString dir = tempDirectory();
    return dir.isEmpty() ? QString() : dir + '/' + name;
}

QString userSessionId()
{
#ifdef Q_OS_WIN
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return QString::number(qulonglong(session), 16);
#else
    return QString::number(qulonglong(getuid()), 16);
#endif
}

void debugOutput(const QString& text)
{
#ifdef Q_OS_WIN
    OutputDebugStringW(reinterpret_cast<const wchar_t*>(text.utf16()));
    OutputDebugStringW(L"\n");
#else
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fputc('\n', stderr);
#endif
}

namespace {
double initialScale()
{
    bool ok = false;
    const double v = qEnvironmentVariable("TARNI_TIMEOUT_SCALE").toDouble(&ok);
    return ok && v > 0 && std::isfinite(v) ? v : 1.0;
}
std::atomic<double>& scaleValue()
{
    static std::atomic<double> value{initialScale()};
    return value;
}
} // namespace

double timeoutScale()
{
    return scaleValue().load();
}

void setTimeoutScale(double scale)
{
    if (scale > 0 && std::isfinite(scale))
        scaleValue().store(scale);
}

int scaledMs(int ms)
{
    const double v = std::ceil(double(ms) * timeoutScale());
    if (v < 1.0)
        return 1;
    if (v > 2147483647.0)
        return 2147483647;
    return int(v);
}

QStringList extraSerialPorts()
{
    QStringList out;
    const QStringList parts = qEnvironmentVariable("TARNI_SERIAL_PORTS").split(':', Qt::SkipEmptyParts);
    for (const QString& p : parts)
        if (QDir::isAbsolutePath(p))
            out << p;
    return out;
}

} // namespace Platform
