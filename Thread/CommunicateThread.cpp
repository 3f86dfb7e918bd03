#include "Thread/CommunicateThread.h"

CommunicateThread::CommunicateThread(QObject* parent)
    : QObject(parent)
{
}

void CommunicateThread::stop()
{
}

void CommunicateThread::BVTProcessing(QString path)
{
    Q_UNUSED(path);
}

void CommunicateThread::beginPrint(QString printName)
{
    Q_UNUSED(printName);
}
