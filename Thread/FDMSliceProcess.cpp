#include "Thread/FDMSliceProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegExp>
#include <QTimer>

#include <algorithm>
#include <exception>

#include "FileRW/CheckedWriter.h"
#include "FileRW/FileReaderWriter.h"
#include "FileRW/PrintTaskWriter.h"
#include "app/QsLog.h"
#include "platform/Platform.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"

namespace {

constexpr int kReportMs = 100;
constexpr int kKillWaitMs = 30000;

QString folderOf(const QString& path)
{
    return path.left(path.lastIndexOf('/'));
}

} // namespace

FDMSliceProcess::FDMSliceProcess(QObject* parent)
    : QObject(parent)
    , process(new QProcess(this))
    , timer(new QTimer(this))
{
    const AppData* app = AppData::instance();
    iniFile = app->getAppDir() + "/BrevEngine/Brev.ini";
    engineFile = app->getAppDir() + "/BrevEngine/" + engineFileName();
    stlFile = app->getSettingsDir() + "/stl/3DPRINT.stl";
    outputFile = app->getAppDir() + "/gco/3DPRINT.BVT";
    // Before start-up has named the folders there is nowhere of ours to make them in.
    if (!app->getSettingsDir().isEmpty() && !app->getAppDir().isEmpty()) {
        QDir().mkpath(app->getSettingsDir() + "/stl");
        QDir().mkpath(app->getAppDir() + "/gco");
        QDir().mkpath(app->getSettingsDir() + "/gco");
    }

    process->setProcessChannelMode(QProcess::MergedChannels);
    connect(process, &QProcess::readyReadStandardOutput, this, &FDMSliceProcess::readOut);
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &FDMSliceProcess::FDMfinished);
    connect(process, &QProcess::errorOccurred, this, &FDMSliceProcess::onProcessError);
    timer->setInterval(Platform::scaledMs(kReportMs));
    connect(timer, &QTimer::timeout, this, &FDMSliceProcess::timerOut);

    cleanPrintFolder();
}

FDMSliceProcess::~FDMSliceProcess()
{
    if (process->state() != QProcess::NotRunning) {
        killed = true;
        process->kill();
        process->waitForFinished(Platform::scaledMs(kKillWaitMs));
    }
}

QString FDMSliceProcess::engineFileName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("BrevEngine.exe");
#else
    return QStringLiteral("BrevEngine");
#endif
}

void FDMSliceProcess::setSnapshot(const SliceSnapshot& snapshot)
{
    QMutexLocker lock(&snapshotMutex);
    pendingSnapshot = snapshot;
}

QStringList FDMSliceProcess::engineArguments(const SliceSnapshot& s, const QString& ini,
                                             const QString& output, const QString& stl)
{
    QString posx = QStringLiteral("posx=0");
    QString posy = QStringLiteral("posy=0");
    if (s.machineType != 2 && s.machineType != 3) {
        // The engine's origin is the plate corner; the scene's is the plate centre.
        const double x = (s.boxLength * 0.5 + 25.5) * 1000.0;
        const double y = (s.boxWidth * 0.5 + 11.5) * 1000.0;
        posx = "posx=" + QString::number(qint32(std::clamp(x, -2.0e9, 2.0e9)));
        posy = "posy=" + QString::number(qint32(std::clamp(y, -2.0e9, 2.0e9)));
    }
    return {"-p", "-c", ini, "-s", posx, "-s", posy, "-o", output, stl};
}

void FDMSliceProcess::slice()
{
    if (process->state() != QProcess::NotRunning) {
        QLOG_WARN() << "Thread\\FDMSliceProcess@" << __LINE__ << "slice while the engine runs, ignored";
        return;
    }
    {
        QMutexLocker lock(&snapshotMutex);
        if (!pendingSnapshot) {
            lock.unlock();
            fail(QStringLiteral("slice without a scene snapshot"));
            return;
        }
        current = *pendingSnapshot;
        pendingSnapshot.reset();
    }
    if (!current.appDir.isEmpty()) {
        iniFile = current.appDir + "/BrevEngine/Brev.ini";
        engineFile = current.appDir + "/BrevEngine/" + engineFileName();
    }
    if (!current.settingsDir.isEmpty())
        stlFile = current.settingsDir + "/stl/3DPRINT.stl";

    const QFileInfo engine(engineFile);
    if (!engine.isFile() || !engine.isExecutable()) {
        const QString why = QStringLiteral("no engine at %1").arg(engineFile);
        fail(why, tr("The slicing engine %1 is missing.").arg(QDir::toNativeSeparators(engineFile)));
        return;
    }
    progress = 0;
    emit progressChanged(0);
    timer->start();
    parser.reset();
    killed = false;
    engineFailure.clear();

    QString stlError;
    if (!writeEngineStl(stlError)) {
        timer->stop();
        QFile::remove(iniFile);
        fail(stlError, stlError);
        return;
    }
    // The target stays until the new file is complete: the engine writes beside it.
    outputFile = current.outputPath;
    QFile::remove(engineOutputPath());
    machineType = current.machineType;
    args = engineArguments(current, iniFile, engineOutputPath(), stlFile);
    process->start(engineFile, args, QIODevice::ReadWrite);
    progress = 500;
}

bool FDMSliceProcess::writeEngineStl(QString& error)
{
    QDir().mkpath(folderOf(stlFile));
    MeshData empty;
    FileReaderWriter writer;
    const bool ok = writer.saveMesh(stlFile, current.mesh ? current.mesh.get() : &empty);
    current.mesh.reset(); // the engine has it now; free the copy during the slice
    error = writer.failureReason;
    if (!ok && error.isEmpty())
        error = CheckedWriter::cannotWrite(stlFile, QStringLiteral("unknown error"));
    return ok;
}

void FDMSliceProcess::timerOut()
{
    emit progressChanged(progress);
}

void FDMSliceProcess::readOut()
{
    const QByteArray output = process->readAllStandardOutput();
    if (output.contains("failed")) {
        QLOG_WARN() << "Thread\\FDMSliceProcess@" << __LINE__ << QString::fromLocal8Bit(output).trimmed();
        // The engine's own reason, for the user when it ends in failure.
        for (const QByteArray& line : output.split('\n'))
            if (line.contains("failed"))
                engineFailure = QString::fromLocal8Bit(line).trimmed();
    }
    if (parser.feed(output))
        progress = parser.value();
}

void FDMSliceProcess::Kill()
{
    if (process->state() == QProcess::NotRunning)
        return;
    killed = true;
    process->kill();
    process->waitForFinished(Platform::scaledMs(kKillWaitMs));
}

void FDMSliceProcess::onProcessError(QProcess::ProcessError error)
{
    // A start failure ends without finished(); every other error is followed by it.
    if (error != QProcess::FailedToStart)
        return;
    timer->stop();
    QFile::remove(iniFile);
    const QString why = process->errorString();
    fail(QStringLiteral("the engine failed to start: %1").arg(why),
         tr("The slicing engine %1 cannot be started: %2").arg(QDir::toNativeSeparators(engineFile), why));
}

void FDMSliceProcess::FDMfinished(int exitCode, QProcess::ExitStatus status)
{
    QFile::remove(iniFile);
    timer->stop();
    if (killed) {
        // Our own kill, whatever exit the process reports.
        killed = false;
        emit progressChanged(-1);
        removeTempFiles();
        return;
    }
    if (status != QProcess::NormalExit || exitCode != 0) {
        readOut(); // the engine's last words may still be waiting
        removeTempFiles();
        fail(QStringLiteral("the engine ended with %1 (%2)")
                 .arg(exitCode)
                 .arg(status == QProcess::NormalExit ? "normal exit" : "crash"),
             engineFailure.isEmpty() ? QString() : tr("The slicing engine stopped: %1").arg(engineFailure));
        return;
    }
    try {
        postProcessGcode();
    } catch (const std::exception&) {
        Platform::debugOutput("catch changeBVT error");
        removeTempFiles();
        emit FDMerror();
    }
}

void FDMSliceProcess::postProcessGcode()
{
    PrintTaskWriter writer(machineType, current.temperature, current.hotbed);
    const bool ok = writer.postProcess(engineOutputPath(), outputFile);
    QFile::remove(engineOutputPath());
    if (!ok) {
        fail(writer.error(), writer.userError());
        return;
    }
    progress = 10000;
    emit progressChanged(10000);
}

void FDMSliceProcess::fail(const QString& why, const QString& userReason)
{
    QLOG_ERROR() << "Thread\\FDMSliceProcess@" << __LINE__ << why;
    emit FDMerror(userReason);
}

void FDMSliceProcess::removeTempFiles()
{
    QFile::remove(engineOutputPath());
    // The engine writes its output under a name of its own first.
    QFile::remove(engineOutputPath() + "0.tmp");
    const QDir folder(folderOf(outputFile));
    if (!folder.exists())
        return;
    QRegExp pattern("*.BVT[0-9].tmp", Qt::CaseSensitive, QRegExp::Wildcard);
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden)) {
        if (pattern.exactMatch(name))
            QFile::remove(folder.filePath(name));
    }
}

void FDMSliceProcess::cleanPrintFolder()
{
    const QDir folder(AppData::instance()->getSettingsDir() + "/gco");
    if (AppData::instance()->getSettingsDir().isEmpty() || !folder.exists())
        return;
    const QRegExp keep(".BVT", Qt::CaseSensitive);
    const QRegExp picture(".JPG", Qt::CaseSensitive);
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden)) {
        if (keep.indexIn(name) < 0 || picture.indexIn(name) >= 0)
            QFile::remove(folder.filePath(name));
    }
}
