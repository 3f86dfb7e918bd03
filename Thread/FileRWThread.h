#pragma once

#include <QMutex>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

#include <array>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>

#include "Thread/SignalTypes.h"

class QTimer;
class FileReaderWriter;
struct MeshData;
struct ProjectData;

// Set after every save the worker has carried out, just before its finished report.
extern std::atomic<bool> g_saveDone;

// Loads and saves files on its own thread, one request after another. Readers build detached
// meshes and models; the finished step commits them to the scene on the GUI thread, so a
// finished load's status carries models that are already in AppData.
class FileRWThread : public QThread
{
    Q_OBJECT
public:
    // The print-task reader (filled in by the preview code); exceptions count as failure.
    using PrintTaskReader = std::function<bool(FileReaderWriter& reader, const QString& path)>;

    explicit FileRWThread(QObject* parent = nullptr);
    ~FileRWThread() override;

    // GUI thread. A load that replaces the scene leaves it as it is until the file has been
    // read whole: signReplaceScene comes then, right before the new models are committed.
    void loadFile(const QString& path, bool replacesScene = false);
    void loadFiles(const QStringList& paths);
    // mesh: a MeshData* to write (copied now), or 0 for a project save of the scene (copied now).
    // Returns the request's id, which signRequestDone carries back.
    quint64 saveFile(const QString& path, quint64 mesh);
    // Queues a save and runs the event loop until that very save has finished; its result.
    bool saveFileAndWait(const QString& path, quint64 mesh);
    // Drops queued loads and stops the running one early; saves always finish.
    void cancelLoads();
    // Ends the worker: queued saves are still written, loads are dropped.
    void stopThread();

    FileReaderWriter* readerWriter() const { return rw; }
    static void setPrintTaskReader(PrintTaskReader reader);
    // The file's name without folder and last suffix (a leading dot is kept), local 8-bit.
    static std::string modelName(const QString& path);

signals:
    void StatusChanged(FileRWStatus status);
    void signPrintMessage(QString time, QString length);
    void signSendGcodeReady(bool isover);
    // Emitted on the GUI thread right after a request's finished StatusChanged.
    void signRequestDone(quint64 id, bool success);
    // GUI thread: a load that replaces the scene has succeeded; the scene is to be cleared now.
    void signReplaceScene();

protected:
    void run() override;

private slots:
    void reportProgress();

private:
    struct Request
    {
        quint64 id = 0;
        FileRWStatus status;
        std::shared_ptr<MeshData> mesh;        // a save's own copy of the mesh
        std::shared_ptr<ProjectData> project;  // a project save's copy of the scene
        std::array<double, 4> reliefParams{1.0, 2.0, 75.0, 1.28};
        bool replacesScene = false;
    };
    struct Result;

    quint64 enqueue(Request r);
    void process(const Request& r, Result& out);
    void started(quint64 id, FileRWStatus status);
    void finish(const Request& r, const std::shared_ptr<Result>& result);
    void startWork();

    QTimer* timer = nullptr;
    QMutex mutex;
    QWaitCondition wake;
    FileReaderWriter* rw = nullptr;
    std::deque<Request> queue;
    // The request being carried out (guarded by mutex).
    bool busy = false;
    bool startReported = false;
    quint64 currentId = 0;
    FileRWStatus current;
    bool quitting = false;
    bool stopped = false; // GUI side: no more commits after stopThread
    quint64 nextId = 1;
};
