#include "FileRW/CheckedWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/QsLog.h"

namespace {
constexpr qint64 kCopyBlock = 1 << 20;
}

CheckedWriter::CheckedWriter(const QString& path)
    : target(path)
    , file(path)
{
}

CheckedWriter::~CheckedWriter()
{
    if (!done)
        cancel();
}

QString CheckedWriter::cannotWrite(const QString& path, const QString& why)
{
    return QCoreApplication::translate("CheckedWriter", "Cannot write %1: %2")
        .arg(QDir::toNativeSeparators(path), why);
}

bool CheckedWriter::fail(const QString& why)
{
    if (reason.isEmpty()) {
        reason = cannotWrite(target, why);
        QLOG_WARN() << "FileRW\\CheckedWriter@" << __LINE__ << reason;
    }
    cancel();
    return false;
}

bool CheckedWriter::open(bool text)
{
    // The new file is renamed over the old one: never over a device or a pipe.
    const QFileInfo existing(target);
    if (existing.exists() && !existing.isFile() && !existing.isDir())
        return fail(QCoreApplication::translate("CheckedWriter", "it is not a plain file"));
    textMode = text;
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    return true;
}

bool CheckedWriter::write(const char* data, qint64 size)
{
    if (failed() || done || !file.isOpen())
        return false;
#ifdef Q_OS_WIN
    // Text lines end in CR LF there; converted here, so that the bytes counted are the bytes
    // on disk.
    QByteArray converted;
    if (textMode && size > 0) {
        converted = QByteArray(data, int(size)).replace("\n", "\r\n");
        data = converted.constData();
        size = converted.size();
    }
#endif
    // A short write is tried again: the next one fails with the system's reason.
    while (size > 0) {
        const qint64 n = file.write(data, size);
        if (n <= 0 || file.error() != QFileDevice::NoError)
            return fail(file.errorString());
        written += n;
        data += n;
        size -= n;
    }
    return true;
}

bool CheckedWriter::commit()
{
    if (failed() || done || !file.isOpen())
        return false;
    // The buffered rest goes out here, where its failure can still be seen.
    if (!file.flush() || file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    if (file.size() != written)
        return fail(QStringLiteral("the file holds %1 of %2 bytes").arg(file.size()).arg(written));
    if (!file.commit()) {
        done = true;
        return fail(file.errorString());
    }
    done = true;
    // The file is in place now; one that is not whole on disk is no file at all.
    const QFileInfo onDisk(target);
    if (file.error() != QFileDevice::NoError || !onDisk.isFile() || onDisk.size() != written) {
        const QString why = file.error() != QFileDevice::NoError
            ? file.errorString()
            : QStringLiteral("the file on disk holds %1 of %2 bytes").arg(onDisk.size()).arg(written);
        QFile::remove(target);
        return fail(why);
    }
    return true;
}

void CheckedWriter::cancel()
{
    if (done)
        return;
    done = true;
    if (file.isOpen()) {
        // A cancelled save file is closed without being put in place: its temporary file goes
        // and the target is untouched.
        file.cancelWriting();
        file.commit();
    }
}

bool CheckedWriter::writeWhole(const QString& path, const QByteArray& bytes, QString* error)
{
    CheckedWriter w(path);
    const bool ok = w.open() && w.write(bytes) && w.commit();
    if (!ok && error)
        *error = w.errorString();
    return ok;
}

bool CheckedWriter::copy(const QString& from, const QString& to, QString* error)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QCoreApplication::translate("CheckedWriter", "Cannot read %1: %2")
                         .arg(QDir::toNativeSeparators(from), in.errorString());
        return false;
    }
    CheckedWriter w(to);
    bool ok = w.open();
    QByteArray block;
    while (ok && !in.atEnd()) {
        block = in.read(kCopyBlock);
        if (block.isEmpty() && in.error() != QFileDevice::NoError) {
            if (error)
                *error = QCoreApplication::translate("CheckedWriter", "Cannot read %1: %2")
                             .arg(QDir::toNativeSeparators(from), in.errorString());
            return false;
        }
        ok = w.write(block);
    }
    ok = ok && w.commit();
    if (!ok && error)
        *error = w.errorString();
    return ok;
}
