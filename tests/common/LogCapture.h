#pragma once

#include <QMutex>
#include <QStringList>

#include <memory>

#include "app/QsLog.h"

// The log lines a test reads back. The lines live in the destination, which the logger owns:
// however late the logger's thread writes, what it writes into is still there.
class LogCapture : public QsLogging::Destination
{
public:
    // The process's one capture, added to the logger on first use.
    static LogCapture& instance()
    {
        static const std::shared_ptr<LogCapture> capture = [] {
            auto c = std::make_shared<LogCapture>();
            QsLogging::Logger::instance().addDestination(c);
            return c;
        }();
        return *capture;
    }

    void write(const QString& message, QsLogging::Level) override
    {
        QMutexLocker lock(&mutex);
        written << message;
    }
    bool isValid() override { return true; }

    // Every line written so far, queued ones included; clear empties the capture.
    QStringList lines(bool clear = false)
    {
        QsLogging::Logger::instance().flush();
        QMutexLocker lock(&mutex);
        QStringList out = written;
        if (clear)
            written.clear();
        return out;
    }

private:
    QMutex mutex;
    QStringList written;
};
