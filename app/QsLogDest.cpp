#include "app/QsLogDest.h"

#include <QTextCodec>

#include <algorithm>
#include <cstdio>

#include "platform/Platform.h"

namespace QsLogging {

namespace {
void toStderr(const QString& text)
{
    const QByteArray b = text.toLocal8Bit();
    std::fwrite(b.constData(), 1, size_t(b.size()), stderr);
    std::fflush(stderr);
}
} // namespace

void SizeRotationStrategy::setInitialInfo(const QFile& file)
{
    fileName = file.fileName();
    currentSize = file.size();
}

void SizeRotationStrategy::includeMessageInCalculation(const QString& message)
{
    currentSize += message.toUtf8().size();
}

bool SizeRotationStrategy::shouldRotate()
{
    return currentSize > maxSize;
}

void SizeRotationStrategy::setBackupCount(int backups)
{
    backupCount = std::min(std::max(backups, 0), MaxBackupCount);
}

void SizeRotationStrategy::rotate()
{
    if (backupCount == 0) {
        if (!QFile::remove(fileName))
            toStderr("QsLog: backup delete failed " + fileName);
        return;
    }
    int lastExisting = 0;
    for (int i = 1; i <= backupCount; ++i) {
        if (!QFile::exists(fileName + '.' + QString::number(i)))
            break;
        lastExisting = std::min(i, backupCount - 1);
    }
    for (int i = lastExisting; i >= 1; --i) {
        const QString from = fileName + '.' + QString::number(i);
        const QString to = fileName + '.' + QString::number(i + 1);
        QFile::remove(to);
        if (!QFile::rename(from, to))
            toStderr("QsLog: could not rename backup " + from + " to " + to);
    }
    const QString first = fileName + ".1";
    if (QFile::exists(first))
        QFile::remove(first);
    if (!QFile::rename(fileName, first))
        toStderr("QsLog: could not rename log " + fileName + " to " + first);
}

FileDestination::FileDestination(const QString& filePath, RotationStrategyPtr strategy)
    : rotation(std::move(strategy))
{
    file.setFileName(filePath);
    if (!openFile())
        toStderr("QsLog: could not open log file " + filePath);
    stream.setDevice(&file);
    stream.setCodec(QTextCodec::codecForName("UTF-8"));
    rotation->setInitialInfo(file);
}

bool FileDestination::openFile()
{
    return file.open(QIODevice::WriteOnly | QIODevice::Text | rotation->recommendedOpenModeFlag());
}

void FileDestination::write(const QString& message, Level)
{
    rotation->includeMessageInCalculation(message);
    if (rotation->shouldRotate()) {
        stream.setDevice(nullptr);
        file.close();
        rotation->rotate();
        if (!openFile())
            toStderr("QsLog: could not reopen log file " + file.fileName());
        rotation->setInitialInfo(file);
        stream.setDevice(&file);
        stream.setCodec(QTextCodec::codecForName("UTF-8"));
    }
    stream << message << '\n';
    stream.flush();
}

void DebugOutputDestination::write(const QString& message, Level)
{
    Platform::debugOutput(message);
}

FunctorDestination::FunctorDestination(LogFunction f)
    : function(f)
{
}

FunctorDestination::FunctorDestination(QObject* receiver, const char* member)
{
    connect(this, SIGNAL(logMessageReady(QString,int)), receiver, member, Qt::QueuedConnection);
}

void FunctorDestination::write(const QString& message, Level level)
{
    if (function)
        function(message, level);
    if (level > TraceLevel)
        emit logMessageReady(message, int(level));
}

DestinationPtr DestinationFactory::MakeFileDestination(const QString& filePath, LogRotationOption rotation,
                                                       qint64 maxSizeBytes, int oldLogsToKeep)
{
    if (rotation == EnableLogRotation) {
        auto strategy = std::make_shared<SizeRotationStrategy>();
        strategy->setMaximumSizeInBytes(maxSizeBytes);
        strategy->setBackupCount(oldLogsToKeep);
        return std::make_shared<FileDestination>(filePath, strategy);
    }
    return std::make_shared<FileDestination>(filePath, std::make_shared<NullRotationStrategy>());
}

DestinationPtr DestinationFactory::MakeDebugOutputDestination()
{
    return std::make_shared<DebugOutputDestination>();
}

DestinationPtr DestinationFactory::MakeFunctorDestination(LogFunction f)
{
    return std::make_shared<FunctorDestination>(f);
}

DestinationPtr DestinationFactory::MakeFunctorDestination(QObject* receiver, const char* member)
{
    return std::make_shared<FunctorDestination>(receiver, member);
}

} // namespace QsLogging
