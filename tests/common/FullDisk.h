#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <csignal>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

// A folder where a file may take only `room` more bytes, as on a full disk. Two ways:
// - a small tmpfs, filled up, when this process may mount one (root, as in CI);
// - otherwise a file-size limit (RLIMIT_FSIZE, with SIGXFSZ ignored so that a write past it
//   fails with EFBIG instead of ending the process), held by a Limit while the write runs.
// TARNI_TEST_FULL_DISK=limit takes the second way even as root. When neither can be set up,
// setUp() says why: the test must fail, not pass without a full disk. Files made between
// setUp() and fillUp() are there before the disk is full.
class FullDisk
{
public:
    FullDisk(const QString& folder, qint64 room) : dir(folder), room(room) {}
    ~FullDisk()
    {
        if (isMounted)
            ::umount2(QFile::encodeName(dir).constData(), MNT_DETACH);
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    bool setUp(QString* why)
    {
        if (!QDir().mkpath(dir))
            return failed(why, "cannot make " + dir);
        if (qgetenv("TARNI_TEST_FULL_DISK") != "limit" && ::geteuid() == 0) {
            const QByteArray path = QFile::encodeName(dir);
            if (::mount("tmpfs", path.constData(), "tmpfs", 0, "size=300k,mode=0777") == 0) {
                isMounted = true;
                return true;
            }
        }
        struct rlimit l;
        if (::getrlimit(RLIMIT_FSIZE, &l) != 0 || (l.rlim_max != RLIM_INFINITY && l.rlim_max < rlim_t(room)))
            return failed(why, "neither a tmpfs nor a file-size limit can be set up");
        usesLimit = true;
        return true;
    }

    // After the files that are to be there already have been made: the disk is full now.
    bool fillUp(QString* why) { return !isMounted || fill(why); }

    bool limited() const { return usesLimit; }
    const QString& path() const { return dir; }
    // What is in the folder besides the filler: a failed write must leave nothing here.
    QStringList entries() const
    {
        QStringList names = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
        names.removeAll(QStringLiteral(".filler"));
        return names;
    }

    // Holds the file-size limit on this whole process while it lives (limit mode only).
    class Limit
    {
    public:
        explicit Limit(const FullDisk& disk) : active(disk.usesLimit)
        {
            if (!active)
                return;
            ::getrlimit(RLIMIT_FSIZE, &saved);
            oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit l = saved;
            l.rlim_cur = rlim_t(disk.room);
            ::setrlimit(RLIMIT_FSIZE, &l);
        }
        ~Limit()
        {
            if (!active)
                return;
            ::setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, oldHandler);
        }
        Limit(const Limit&) = delete;
        Limit& operator=(const Limit&) = delete;

    private:
        bool active;
        struct rlimit saved {};
        void (*oldHandler)(int) = SIG_DFL;
    };

private:
    static bool failed(QString* why, const QString& text)
    {
        if (why)
            *why = text;
        return false;
    }

    // Fills the tmpfs to the last page, then gives `room` bytes back (whole pages).
    bool fill(QString* why)
    {
        const QByteArray filler = QFile::encodeName(dir + "/.filler");
        const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0)
            return failed(why, "cannot make the filler");
        const QByteArray block(4096, 'f');
        off_t size = 0;
        for (;;) {
            const ssize_t n = ::write(fd, block.constData(), size_t(block.size()));
            if (n <= 0)
                break;
            size += n;
        }
        const off_t back = off_t((room + 4095) / 4096 * 4096);
        const bool ok = ::ftruncate(fd, size > back ? size - back : 0) == 0;
        ::close(fd);
        return ok || failed(why, "cannot make room on the tmpfs");
    }

    QString dir;
    qint64 room;
    bool isMounted = false;
    bool usesLimit = false;
};
