#pragma once

#include <QDebug>
#include <QString>

#include "app/QsLogDest.h"

namespace QsLogging {

class LoggerImpl;

// The program's logger: statements are formatted on the calling thread and written by one
// private pool thread, to every destination in order.
class Logger
{
public:
    static Logger& instance();
    static void destroyInstance();
    static Level levelFromLogMessage(const QString& logMessage, bool* conversionSucceeded = nullptr);

    void addDestination(DestinationPtr destination);
    void setLoggingLevel(Level newLevel);
    Level loggingLevel() const;
    void setIncludeTimestamp(bool e);
    bool includeTimestamp() const;
    void setIncludeLogLevel(bool l);
    bool includeLogLevel() const;
    // Waits until every queued line has been written.
    void flush();

    class Helper
    {
    public:
        explicit Helper(Level logLevel)
            : level(logLevel), qtDebug(&buffer) { qtDebug.noquote(); }
        ~Helper();
        QDebug& stream() { return qtDebug; }

    private:
        Level level;
        QString buffer;
        QDebug qtDebug;
    };

    void write(const QString& message, Level level);

private:
    Logger();
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;
    void enqueueWrite(const QString& message, Level level);
    // Writes every queued line, then forgets the destinations: run as the process ends, so no
    // line reaches a destination whose owner is already destroyed.
    static void dropDestinations();

    LoggerImpl* d;
};

// The level text, five characters wide.
QString LevelToText(Level level);

} // namespace QsLogging

#define QLOG_AT(lvl)                                                                     \
    if (QsLogging::Logger::instance().loggingLevel() > (lvl)) {                          \
    } else                                                                               \
        QsLogging::Logger::Helper(lvl).stream()
#define QLOG_TRACE() QLOG_AT(QsLogging::TraceLevel)
#define QLOG_DEBUG() QLOG_AT(QsLogging::DebugLevel)
#define QLOG_INFO() QLOG_AT(QsLogging::InfoLevel)
#define QLOG_WARN() QLOG_AT(QsLogging::WarnLevel)
#define QLOG_ERROR() QLOG_AT(QsLogging::ErrorLevel)
#define QLOG_FATAL() QLOG_AT(QsLogging::FatalLevel)
