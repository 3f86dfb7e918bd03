#pragma once

#include <QFile>
#include <QObject>
#include <QString>
#include <QTextStream>

#include <memory>

namespace QsLogging {

enum Level {
    TraceLevel = 0,
    DebugLevel,
    InfoLevel,
    WarnLevel,
    ErrorLevel,
    FatalLevel,
    OffLevel
};

class Destination
{
public:
    virtual ~Destination() = default;
    virtual void write(const QString& message, Level level) = 0;
    virtual bool isValid() = 0;
};
using DestinationPtr = std::shared_ptr<Destination>;

class RotationStrategy
{
public:
    virtual ~RotationStrategy() = default;
    virtual void setInitialInfo(const QFile& file) = 0;
    virtual void includeMessageInCalculation(const QString& message) = 0;
    virtual bool shouldRotate() = 0;
    virtual void rotate() = 0;
    virtual QIODevice::OpenMode recommendedOpenModeFlag() = 0;
};
using RotationStrategyPtr = std::shared_ptr<RotationStrategy>;

class NullRotationStrategy : public RotationStrategy
{
public:
    void setInitialInfo(const QFile&) override {}
    void includeMessageInCalculation(const QString&) override {}
    bool shouldRotate() override { return false; }
    void rotate() override {}
    QIODevice::OpenMode recommendedOpenModeFlag() override { return QIODevice::Truncate; }
};

class SizeRotationStrategy : public RotationStrategy
{
public:
    static constexpr int MaxBackupCount = 10;
    void setInitialInfo(const QFile& file) override;
    void includeMessageInCalculation(const QString& message) override;
    bool shouldRotate() override;
    void rotate() override;
    QIODevice::OpenMode recommendedOpenModeFlag() override { return QIODevice::Append; }
    void setMaximumSizeInBytes(qint64 size) { maxSize = size; }
    void setBackupCount(int backups);

private:
    QString fileName;
    qint64 currentSize = 0;
    qint64 maxSize = 0;
    int backupCount = 0;
};

class FileDestination : public Destination
{
public:
    FileDestination(const QString& filePath, RotationStrategyPtr strategy);
    void write(const QString& message, Level level) override;
    bool isValid() override { return file.isOpen(); }

private:
    bool openFile();
    QFile file;
    QTextStream stream;
    RotationStrategyPtr rotation;
};

class DebugOutputDestination : public Destination
{
public:
    void write(const QString& message, Level level) override;
    bool isValid() override { return true; }
};

using LogFunction = void (*)(const QString& message, Level level);

class FunctorDestination : public QObject, public Destination
{
    Q_OBJECT
public:
    explicit FunctorDestination(LogFunction f);
    FunctorDestination(QObject* receiver, const char* member);
    void write(const QString& message, Level level) override;
    bool isValid() override { return true; }

signals:
    void logMessageReady(const QString& message, int level);

private:
    LogFunction function = nullptr;
};

enum LogRotationOption { DisableLogRotation = 0, EnableLogRotation = 1 };

struct DestinationFactory
{
    static DestinationPtr MakeFileDestination(const QString& filePath,
                                              LogRotationOption rotation = DisableLogRotation,
                                              qint64 maxSizeBytes = 0, int oldLogsToKeep = 0);
    static DestinationPtr MakeDebugOutputDestination();
    static DestinationPtr MakeFunctorDestination(LogFunction f);
    static DestinationPtr MakeFunctorDestination(QObject* receiver, const char* member);
};

} // namespace QsLogging
