#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

// The one way the program writes a file: every write, the flush and the commit are checked,
// and the size on disk must equal what was written. A failed file leaves nothing behind: a
// file of that name that was there before stays as it was, and no empty or partial file of
// the name appears. QSaveFile::commit() alone is not enough: on a full disk it can report
// success after its final flush failed.
class CheckedWriter
{
public:
    explicit CheckedWriter(const QString& path);
    // A file that was not committed is dropped.
    ~CheckedWriter();
    CheckedWriter(const CheckedWriter&) = delete;
    CheckedWriter& operator=(const CheckedWriter&) = delete;

    // text: line ends as the system writes text files.
    bool open(bool text = false);
    // False once any write has failed; later writes are not tried.
    bool write(const char* data, qint64 size);
    bool write(const QByteArray& bytes) { return write(bytes.constData(), bytes.size()); }
    // Flushes, checks and puts the file in place; false leaves nothing of it.
    bool commit();
    // Drops the file, e.g. when the data to write turned out to be unusable.
    void cancel();

    bool failed() const { return !reason.isEmpty(); }
    // For the user: which file could not be written and why.
    QString errorString() const { return reason; }
    qint64 bytesWritten() const { return written; }

    // The whole file in one go; on false, error (when given) says why.
    static bool writeWhole(const QString& path, const QByteArray& bytes, QString* error = nullptr);
    // Copies a file through the same checks, a block at a time.
    static bool copy(const QString& from, const QString& to, QString* error = nullptr);
    // The text the user is shown for a file that cannot be written.
    static QString cannotWrite(const QString& path, const QString& why);

private:
    bool fail(const QString& why);

    QString target;
    QSaveFile file;
    qint64 written = 0;
    bool textMode = false;
    QString reason;
    bool done = false;
};
