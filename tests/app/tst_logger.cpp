#include <QtTest>

#include <QMutex>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>

#include "app/QsLog.h"

using namespace QsLogging;

namespace {

QStringList fileLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

QStringList g_functorLines;
void collect(const QString& message, Level)
{
    g_functorLines << message;
}

// Destroyed after the static below: waits for the logger's thread as a slow machine would, so a
// line that still reaches that static after its destructor ran is always caught.
struct WaitForLoggerAtExit
{
    ~WaitForLoggerAtExit() { Logger::instance().flush(); }
};
WaitForLoggerAtExit g_waitAtExit;

// What a test keeps of the lines it logs: a static of the test, destroyed after main returns.
struct OwnedLines
{
    QSemaphore gate;
    QMutex mutex;
    QStringList lines;
};
OwnedLines g_owned;

// Writes into the test's static, held until the test lets it go, then slowly: lines are still
// queued when the test ends.
class OwnedDestination : public Destination
{
public:
    void write(const QString& message, Level) override
    {
        if (!opened) {
            g_owned.gate.acquire();
            opened = true;
        }
        QThread::usleep(500);
        QMutexLocker lock(&g_owned.mutex);
        g_owned.lines << message;
    }
    bool isValid() override { return true; }

private:
    bool opened = false;
};

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT
private slots:
    // Each test starts with a new logger; the last one leaves its logger to the process's end.
    void init() { Logger::destroyInstance(); }

    void lineFormat()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        Logger& logger = Logger::instance();
        logger.setLoggingLevel(TraceLevel);
        logger.addDestination(DestinationFactory::MakeFileDestination(path));
        QLOG_INFO() << "UI\\MainWindow @" << 456 << 3;
        QLOG_WARN() << "text" << QString("quoted?");
        Logger::destroyInstance();

        const QStringList lines = fileLines(path);
        QCOMPARE(lines.size(), 2);
        const QRegularExpression re("^INFO  \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} UI\\\\MainWindow @ 456 3$");
        QVERIFY2(re.match(lines[0]).hasMatch(), qPrintable(lines[0]));
        QVERIFY2(lines[1].startsWith("WARN  ") && lines[1].endsWith(" text quoted?"), qPrintable(lines[1]));
    }

    void levelFiltering_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("trace") << int(TraceLevel)
                               << QStringList{"TRACE", "DEBUG", "INFO ", "WARN ", "ERROR", "FATAL"};
        QTest::newRow("warn") << int(WarnLevel) << QStringList{"WARN ", "ERROR", "FATAL"};
        QTest::newRow("off") << int(OffLevel) << QStringList{};
    }
    void levelFiltering()
    {
        QFETCH(int, level);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        Logger& logger = Logger::instance();
        logger.setLoggingLevel(Level(level));
        logger.addDestination(DestinationFactory::MakeFileDestination(path));
        QLOG_TRACE() << "t";
        QLOG_DEBUG() << "d";
        QLOG_INFO() << "i";
        QLOG_WARN() << "w";
        QLOG_ERROR() << "e";
        QLOG_FATAL() << "f";
        Logger::destroyInstance();
        QStringList levels;
        for (const QString& l : fileLines(path))
            levels << l.left(5);
        QCOMPARE(levels, expected);
    }

    void switchesOffGiveBareMessage()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        Logger& logger = Logger::instance();
        logger.setIncludeLogLevel(false);
        logger.setIncludeTimestamp(false);
        logger.addDestination(DestinationFactory::MakeFileDestination(path));
        QLOG_ERROR() << "bare" << 1;
        Logger::destroyInstance();
        QCOMPARE(fileLines(path), QStringList{"bare 1"});
    }

    void levelFromMessage_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("ok");
        QTest::newRow("warn") << "WARN  2024-01-01T00:00:00.000 x" << int(WarnLevel) << true;
        QTest::newRow("trace") << "TRACE x" << int(TraceLevel) << true;
        QTest::newRow("info needs blank") << "INFOX" << int(OffLevel) << false;
        QTest::newRow("other") << "hello" << int(OffLevel) << false;
    }
    void levelFromMessage()
    {
        QFETCH(QString, line);
        QFETCH(int, level);
        QFETCH(bool, ok);
        bool converted = !ok;
        QCOMPARE(int(Logger::levelFromLogMessage(line, &converted)), level);
        QCOMPARE(converted, ok);
    }

    void sizeRotation_data()
    {
        QTest::addColumn<int>("backups");
        QTest::addColumn<int>("rotations");
        QTest::addColumn<int>("expectedBackups");
        QTest::newRow("two kept") << 2 << 3 << 2;
        QTest::newRow("twelve behaves as ten") << 12 << 14 << 10;
        QTest::newRow("none kept") << 0 << 3 << 0;
    }
    void sizeRotation()
    {
        QFETCH(int, backups);
        QFETCH(int, rotations);
        QFETCH(int, expectedBackups);
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        DestinationPtr dest = DestinationFactory::MakeFileDestination(path, EnableLogRotation, 100, backups);
        // 60-byte messages: every second one passes 100 bytes and rotates.
        const QString msg(60, 'x');
        for (int i = 0; i < rotations * 2; ++i)
            dest->write(msg + QString::number(i % 10), InfoLevel);
        for (int i = 1; i <= expectedBackups; ++i)
            QVERIFY2(QFile::exists(path + '.' + QString::number(i)), qPrintable(QString::number(i)));
        QVERIFY(!QFile::exists(path + '.' + QString::number(expectedBackups + 1)));
        QVERIFY(QFile::exists(path));
        // The rotating message starts the new file.
        QCOMPARE(fileLines(path).size(), 1);
    }

    void noRotationTruncates()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        {
            DestinationPtr d = DestinationFactory::MakeFileDestination(path);
            d->write("first", InfoLevel);
        }
        {
            DestinationPtr d = DestinationFactory::MakeFileDestination(path);
            d->write("second", InfoLevel);
        }
        QCOMPARE(fileLines(path), QStringList{"second"});
    }

    void functorSkipsSignalForTrace()
    {
        g_functorLines.clear();
        auto dest = std::make_shared<FunctorDestination>(&collect);
        QSignalSpy spy(dest.get(), &FunctorDestination::logMessageReady);
        dest->write("t", TraceLevel);
        dest->write("i", InfoLevel);
        QCOMPARE(g_functorLines, (QStringList{"t", "i"}));
        QCOMPARE(spy.count(), 1);
    }

    void threadsKeepTheirOrder()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        Logger& logger = Logger::instance();
        logger.setIncludeTimestamp(false);
        logger.setIncludeLogLevel(false);
        logger.addDestination(DestinationFactory::MakeFileDestination(path));
        const int threads = 4, perThread = 500;
        QList<QThread*> workers;
        for (int t = 0; t < threads; ++t) {
            workers << QThread::create([t] {
                for (int i = 0; i < perThread; ++i)
                    QLOG_INFO() << t << i;
            });
            workers.last()->start();
        }
        for (QThread* w : workers) {
            w->wait();
            delete w;
        }
        Logger::destroyInstance();
        const QStringList lines = fileLines(path);
        QCOMPARE(lines.size(), threads * perThread);
        QVector<int> next(threads, 0);
        for (const QString& l : lines) {
            const QStringList parts = l.split(' ');
            QCOMPARE(parts.size(), 2);
            const int t = parts[0].toInt();
            QCOMPARE(parts[1].toInt(), next[t]);
            ++next[t];
        }
    }

    // Keep last. Lines still queued as the test ends must not reach the test's static after
    // its destructor ran (AddressSanitizer reports it, whatever the timing).
    void queuedLinesAtExit()
    {
        const int threads = 4, perThread = 250;
        // On the heap from the start, so a late line always touches freed memory.
        g_owned.lines.reserve(threads * perThread);
        Logger& logger = Logger::instance();
        logger.addDestination(std::make_shared<OwnedDestination>());
        QList<QThread*> workers;
        for (int t = 0; t < threads; ++t) {
            workers << QThread::create([t] {
                for (int i = 0; i < perThread; ++i)
                    QLOG_INFO() << "owned" << t << i;
            });
            workers.last()->start();
        }
        for (QThread* w : workers) {
            w->wait();
            delete w;
        }
        g_owned.gate.release();
    }
};

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
