#include "testutil_slice.h"

#include <QFile>
#include <QProcess>
#include <QtTest>

#include "FileRW/TeaCipher.h"
#include "common/TestTime.h"

namespace SliceTest {

bool runReferenceCipher(const QStringList& jobs)
{
    QProcess p;
    p.start("python3", QStringList{QString(TEST_SOURCE_DIR) + "/tea_reference.py"} + jobs);
    if (!p.waitForFinished(TestTime::waitMs(60000)) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning() << "python3 reference cipher failed:" << p.errorString() << p.readAllStandardError();
        return false;
    }
    return true;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray decipherPrintTask(const QString& path)
{
    QByteArray data = readFile(path);
    auto* bytes = reinterpret_cast<uint8_t*>(data.data());
    if (teaDecryptBuffer(bytes, size_t(data.size()), TeaCipher::kPrintTaskKey, bytes) != size_t(data.size()))
        return QByteArray();
    while (data.endsWith('\0'))
        data.chop(1);
    return data;
}

QByteArray engineGcode(const QStringList& lines, const char* lineEnd)
{
    QByteArray out;
    for (const QString& l : lines)
        out += l.toLatin1() + lineEnd;
    return out;
}

} // namespace SliceTest
