#include "app/QsLog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QMutex>
#include <QRunnable>
#include <QThreadPool>

#include <cstdlib>
#include <vector>

namespace QsLogging {

namespace {
const char* const LevelTexts[] = {"TRACE", "DEBUG", "INFO ", "WARN ", "ERROR", "FATAL"};
// Plain characters: a statement ending during static destruction still finds them.
const char* const TimestampFormat = "yyyy-MM-ddThh:mm:ss.zzz";
Logger* g_logger = nullptr;
QBasicMutex g_instanceMutex;
} // namespace

QString LevelToText(Level level)
{
    if (level == OffLevel)
        return QString();
    if (int(level) >= 0 && int(level) < 6)
        return QString::fromLatin1(LevelTexts[int(level)]);
    return QStringLiteral("INFO ");
}

class LoggerImpl
{
public:
    LoggerImpl()
    {
        pool.setMaxThreadCount(1);
        pool.setExpiryTimeout(-1);
        destinations.reserve(2);
    }
    QThreadPool pool;
    QMutex mutex;
    Level level = InfoLevel;
    std::vector<DestinationPtr> destinations;
    bool includeTimeStamp = true;
    bool includeLogLevel = true;
};

class LogWriterRunnable : public QRunnable
{
public:
    LogWriterRunnable(QString message, Level level)
        : text(std::move(message)), level(level) {}
    void run() override { Logger::instance().write(text, level); }

private:
    QString text;
    Level level;
};

Logger::Logger()
    : d(new LoggerImpl)
{
}

Logger::~Logger()
{
    d->pool.waitForDone();
    delete d;
}

Logger& Logger::instance()
{
    QMutexLocker lock(&g_instanceMutex);
    if (!g_logger) {
        g_logger = new Logger();
        static bool hooked = false;
        if (!hooked) {
            // The application's end comes before any static is destroyed; the exit handler,
            // registered after the statics built so far, covers a process without one.
            qAddPostRoutine(&Logger::dropDestinations);
            std::atexit(&Logger::dropDestinations);
            hooked = true;
        }
    }
    return *g_logger;
}

void Logger::dropDestinations()
{
    Logger* logger = nullptr;
    {
        QMutexLocker lock(&g_instanceMutex);
        logger = g_logger;
    }
    if (!logger)
        return;
    // The pool's runnables take the instance lock: drain without holding it.
    logger->d->pool.waitForDone();
    std::vector<DestinationPtr> dropped;
    {
        QMutexLocker lock(&logger->d->mutex);
        dropped.swap(logger->d->destinations);
    }
}

void Logger::destroyInstance()
{
    // Drain before forgetting the instance: the pool's runnables reach it through instance().
    dropDestinations();
    Logger* logger = nullptr;
    {
        QMutexLocker lock(&g_instanceMutex);
        logger = g_logger;
        g_logger = nullptr;
    }
    delete logger;
}

Level Logger::levelFromLogMessage(const QString& logMessage, bool* conversionSucceeded)
{
    for (int i = 0; i < 6; ++i) {
        if (logMessage.startsWith(QLatin1String(LevelTexts[i]))) {
            if (conversionSucceeded)
                *conversionSucceeded = true;
            return Level(i);
        }
    }
    if (conversionSucceeded)
        *conversionSucceeded = false;
    return OffLevel;
}

void Logger::addDestination(DestinationPtr destination)
{
    QMutexLocker lock(&d->mutex);
    d->destinations.push_back(std::move(destination));
}

void Logger::setLoggingLevel(Level newLevel) { d->level = newLevel; }
Level Logger::loggingLevel() const { return d->level; }
void Logger::setIncludeTimestamp(bool e) { d->includeTimeStamp = e; }
bool Logger::includeTimestamp() const { return d->includeTimeStamp; }
void Logger::setIncludeLogLevel(bool l) { d->includeLogLevel = l; }
bool Logger::includeLogLevel() const { return d->includeLogLevel; }

void Logger::flush()
{
    d->pool.waitForDone();
}

void Logger::enqueueWrite(const QString& message, Level level)
{
    d->pool.start(new LogWriterRunnable(message, level));
}

void Logger::write(const QString& message, Level level)
{
    QMutexLocker lock(&d->mutex);
    for (const DestinationPtr& dest : d->destinations)
        dest->write(message, level);
}

Logger::Helper::~Helper()
{
    Logger& logger = Logger::instance();
    QString text;
    if (logger.includeLogLevel())
        text = LevelToText(level) + ' ';
    if (logger.includeTimestamp())
        text += QDateTime::currentDateTime().toString(QLatin1String(TimestampFormat)) + ' ';
    // QDebug leaves a blank after the last item.
    if (buffer.endsWith(' '))
        buffer.chop(1);
    text += buffer;
    logger.enqueueWrite(text, level);
}

} // namespace QsLogging
