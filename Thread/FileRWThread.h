#pragma once

#include <QString>
#include <QThread>

#include "Thread/SignalTypes.h"

// Loads and saves files away from the GUI thread.
class FileRWThread : public QThread
{
    Q_OBJECT
public:
    explicit FileRWThread(QObject* parent = nullptr);
    ~FileRWThread() override;

    void loadFile(const QString& path);
    void stopThread();

signals:
    void StatusChanged(FileRWStatus status);

protected:
    void run() override;
};
