#include "Thread/FileRWThread.h"

FileRWThread::FileRWThread(QObject* parent)
    : QThread(parent)
{
}

FileRWThread::~FileRWThread()
{
    stopThread();
}

void FileRWThread::loadFile(const QString& path)
{
    Q_UNUSED(path);
}

void FileRWThread::stopThread()
{
    if (isRunning()) {
        requestInterruption();
        wait();
    }
}

void FileRWThread::run()
{
}
