#pragma once

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>

#include "Thread/FileRWThread.h"
#include "Thread/SignalTypes.h"

class QThread;
class QWidget;
class FDMSliceProcess;
class CommunicateThread;
struct MeshData;

// Drives the three workers, relays their reports and keeps the task state that the
// main window and the view read. Lives on the GUI thread; one exists at a time.
class ThreadPool : public QObject
{
    Q_OBJECT
public:
    // Task states.
    enum { Idle = 0, LoadingModel = 1, PrintFileReady = 2, Slicing = 3, Sending = 4, Leveling = 6 };
    // What the current slice is for.
    enum { TaskNone = 0, TaskExport = 1, TaskPrint = 2 };

    explicit ThreadPool(QWidget* mainWindow);
    ~ThreadPool() override;

    // The one pool, or null.
    static ThreadPool* instance();

    int progress() const { return m_progress; }
    bool isBusy() const { return m_busy; }
    bool isLinked() const { return m_linked; }
    int taskState() const { return m_taskState; }
    int hasPrintFile() const { return m_printFile; }
    void setHasPrintFile(int flag) { m_printFile = flag; }
    int taskKind() const { return m_taskKind; }

    FileRWThread* fileWorker() const { return m_fileWorker; }
    FDMSliceProcess* sliceWorker() const { return m_sliceWorker; }
    CommunicateThread* linkWorker() const { return m_linkWorker; }

    // Read by the slicing worker from its own thread.
    QString printFilePath() const;
    void setPrintFile(int kind, QString path);
    void startSlice(int kind, QString path);
    void killSlice();
    // Whether the print-task file at hand was sliced from this plate and the plate has
    // changed since. A file opened from disk belongs to no plate and is never stale.
    bool sliceIsStale() const;
    // Run before a slice goes to the printer: a stale one is refused (signStaleSlice tells
    // the window to drop it), so the printer never gets a file of another plate.
    bool sliceMayBePrinted();
    // Keeps a sent print-task file in the program's "gco" folder and heads the recent files with it.
    void copyIntoProgramGco(const QString& path);

    // Adds a mesh made on another thread as a new model. The scene is changed on the GUI
    // thread; a caller on another thread waits until that is done.
    void addMeshModel(MeshData* mesh, QString name, bool notify);

    void stopThreads();

signals:
    void ThreadStatusChanged();
    void SliceViewSign();
    void signSlice();
    void signSliceKill();
    // The main window connects these two itself, queued.
    void signWaitDialogHide(int bshow);
    void signSupportSzie(double size);
    void signStopCommunicateThread();
    void signBeginPrint(QString printName);
    void signBeginSendBVT(QString path);
    void signStaleSlice();

public slots:
    void on_fileRWThread_StatusChanged(FileRWStatus s);
    void slotSliceChanged(int p);
    void slotLink(bool up);
    void on_SendGcode_StatusChanged(SendBVTStatus s);
    void slotPX5_1LevelingStatus(PX5_1LevelingStatus v);
    void slotPX6LevelingStatus(PX6LevelingStatus v);

private:
    void onSliceFailed(const QString& reason);
    void showErrorBox(Error e);
    void placeLoadedModels(const FileRWStatus& s, const QString& suffix);
    void offerSending();
    void commitMeshModel(MeshData* mesh, const QString& name, bool notify);
    void setPrintFilePath(const QString& path);

    bool m_busy = false;
    int m_progress = 0;
    bool m_linked = false;
    int m_taskState = Idle;
    int m_printFile = 0;
    QPointer<QWidget> m_mainWindow;
    QPointer<FileRWThread> m_fileWorker;
    FDMSliceProcess* m_sliceWorker = nullptr;
    QThread* m_sliceThread = nullptr;
    CommunicateThread* m_linkWorker = nullptr;
    QThread* m_linkThread = nullptr;
    QString m_printFilePath;
    int m_taskKind = TaskNone;
    bool m_slicedFromPlate = false;
    uint64_t m_sliceRevision = 0;
    QMutex m_addMutex;
    mutable QMutex m_pathMutex;
};
