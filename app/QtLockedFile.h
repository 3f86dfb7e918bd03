#pragma once

#include <QFile>

namespace QtLP_Private {

// A file with an advisory lock. On Windows the lock is built from named mutexes; elsewhere
// from flock(2), which belongs to the open file, so two QtLockedFile objects conflict even
// inside one process.
class QtLockedFile : public QFile
{
public:
    enum LockMode { NoLock = 0, ReadLock, WriteLock };

    QtLockedFile();
    explicit QtLockedFile(const QString& name);
    ~QtLockedFile() override;

    bool open(OpenMode mode) override;
    bool lock(LockMode mode, bool block = true);
    bool unlock();
    bool isLocked() const { return lockMode_ != NoLock; }
    LockMode lockMode() const { return lockMode_; }

private:
    LockMode lockMode_ = NoLock;
};

} // namespace QtLP_Private
