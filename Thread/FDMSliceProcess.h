#pragma once

#include <QMutex>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <optional>

#include "Thread/EngineProgress.h"
#include "Thread/SliceSnapshot.h"

class QTimer;

// Runs the slicing engine on a snapshot of the scene and turns its G-code into the print-task
// file. Lives on a thread of its own; talks to the pool by signals only.
class FDMSliceProcess : public QObject
{
    Q_OBJECT
public:
    explicit FDMSliceProcess(QObject* parent = nullptr);
    ~FDMSliceProcess() override;

    // Hands over the scene for the next slice; call on the GUI thread (SliceSnapshot::take)
    // before signalling slice().
    void setSnapshot(const SliceSnapshot& snapshot);

    // The engine's command line for a snapshot.
    static QStringList engineArguments(const SliceSnapshot& s, const QString& iniPath,
                                       const QString& outputPath, const QString& stlPath);
    static QString engineFileName();

    QString iniPath() const { return iniFile; }
    QString enginePath() const { return engineFile; }
    QString stlPath() const { return stlFile; }
    QString outputPath() const { return outputFile; }
    QStringList arguments() const { return args; }

public slots:
    void Kill();
    void slice();
    void readOut();
    void FDMfinished(int exitCode, QProcess::ExitStatus status = QProcess::NormalExit);
    void timerOut();

signals:
    void progressChanged(int progress);
    // reason: what the user can act on (a file that cannot be written, a missing engine),
    // translated; empty when the engine or its output was at fault.
    void FDMerror(const QString& reason = QString());

private:
    void onProcessError(QProcess::ProcessError error);
    // why goes to the log; userReason, when given, to the user as well.
    void fail(const QString& why, const QString& userReason = QString());
    bool writeEngineStl(QString& error);
    void postProcessGcode();
    void removeTempFiles();
    void cleanPrintFolder();
    QString engineOutputPath() const { return outputFile + "0.tmp"; }

    QString iniFile;
    QString engineFile;
    QString stlFile;
    QString outputFile;
    QStringList args;
    QProcess* process;
    bool killed = false;
    int progress = 0;
    int machineType = 1;
    QTimer* timer;
    EngineProgress parser;
    QString engineFailure; // the engine's last "failed" line of this slice
    SliceSnapshot current;

    QMutex snapshotMutex;
    std::optional<SliceSnapshot> pendingSnapshot;
};
