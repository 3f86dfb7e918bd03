#include "app/QtLockedFile.h"

#include <QtGlobal>

#ifndef Q_OS_WIN
#include <cerrno>
#include <sys/file.h>
#endif

namespace QtLP_Private {

QtLockedFile::QtLockedFile() = default;

QtLockedFile::QtLockedFile(const QString& name)
    : QFile(name)
{
}

QtLockedFile::~QtLockedFile()
{
    if (isOpen())
        unlock();
}

bool QtLockedFile::open(OpenMode mode)
{
    if (mode & QIODevice::Truncate) {
        qWarning("QtLockedFile::open(): Truncate mode not allowed.");
        return false;
    }
    return QFile::open(mode);
}

#ifndef Q_OS_WIN
bool QtLockedFile::lock(LockMode mode, bool block)
{
    if (!isOpen()) {
        qWarning("QtLockedFile::lock(): file is not opened");
        return false;
    }
    if (mode == NoLock)
        return unlock();
    if (mode == lockMode_)
        return true;
    if (lockMode_ != NoLock)
        unlock();
    int op = mode == ReadLock ? LOCK_SH : LOCK_EX;
    if (!block)
        op |= LOCK_NB;
    int rc;
    do {
        rc = ::flock(handle(), op);
    } while (rc == -1 && errno == EINTR);
    if (rc == -1) {
        if (errno != EWOULDBLOCK)
            qWarning("QtLockedFile::lock(): flock failed");
        return false;
    }
    lockMode_ = mode;
    return true;
}

bool QtLockedFile::unlock()
{
    if (!isOpen()) {
        qWarning("QtLockedFile::unlock(): file is not opened");
        return false;
    }
    if (!isLocked())
        return true;
    ::flock(handle(), LOCK_UN);
    lockMode_ = NoLock;
    return true;
}
#else
// Windows: a whole-file lock through LockFileEx gives the same semantics as the named mutexes.
#include <windows.h>
#include <io.h>

bool QtLockedFile::lock(LockMode mode, bool block)
{
    if (!isOpen()) {
        qWarning("QtLockedFile::lock(): file is not opened");
        return false;
    }
    if (mode == NoLock)
        return unlock();
    if (mode == lockMode_)
        return true;
    if (lockMode_ != NoLock)
        unlock();
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(handle()));
    DWORD flags = mode == WriteLock ? LOCKFILE_EXCLUSIVE_LOCK : 0;
    if (!block)
        flags |= LOCKFILE_FAIL_IMMEDIATELY;
    OVERLAPPED ov = {};
    if (!LockFileEx(h, flags, 0, MAXDWORD, MAXDWORD, &ov))
        return false;
    lockMode_ = mode;
    return true;
}

bool QtLockedFile::unlock()
{
    if (!isOpen()) {
        qWarning("QtLockedFile::unlock(): file is not opened");
        return false;
    }
    if (!isLocked())
        return true;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(handle()));
    OVERLAPPED ov = {};
    UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &ov);
    lockMode_ = NoLock;
    return true;
}
#endif

} // namespace QtLP_Private
