#pragma once

#include <QObject>
#include <QString>

#include "Thread/SignalTypes.h"

// The serial link to the printer, on a thread of its own.
class CommunicateThread : public QObject
{
    Q_OBJECT
public:
    explicit CommunicateThread(QObject* parent = nullptr);

public slots:
    void stop();
    void BVTProcessing(QString path);
    void beginPrint(QString printName);

signals:
    void errorMessage(Error error);
    void linkStatus(bool success);
    void signPrintStatus(SendPrintStatus status);
    void sendBVTStatusChanged(SendBVTStatus status);
    void signPX6LevelingStatus(PX6LevelingStatus status);
    void signPX5_1LevelingStatus(PX5_1LevelingStatus status);
};
