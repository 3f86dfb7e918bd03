#pragma once

#include <QObject>
#include <QThreadPool>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

class MeshModel;
struct CutWorkData;
struct MeshData;

// The live section of the cut plane, computed off the GUI thread so that moving the plane
// never waits for it. Each request works on a copy of the model's mesh (kept while the mesh
// stays the same), so the job reads nothing the GUI thread may change. Only the latest
// request counts: an older job is stopped and its result dropped. A result is put into the
// cut's work data on the GUI thread, and only while no cut job runs, so the cut can reuse it.
class SectionPreview : public QObject
{
    Q_OBJECT

public:
    explicit SectionPreview(QObject* parent = nullptr);
    // Stops the job in flight and waits for it; its result is dropped.
    ~SectionPreview() override;

    // GUI thread. The section of the model at the plane (micrometres) across the axis.
    // Meshes above the preview limit are not previewed.
    void request(const MeshModel* model, int modelIndex, int planeUm, int axis);
    // Drops what is asked or in flight (the cut panel left, the window closing).
    void cancel();
    // A cut job owns the work data until cutEnded(); requests meanwhile are dropped.
    void cutStarted();
    void cutEnded();
    // A job runs or waits to run.
    bool isBusy() const { return running || pending; }

signals:
    // The section for this plane is now in the cut's work data.
    void sectionReady(int planeUm, int axis);

private:
    struct Request
    {
        uint64_t generation = 0;
        const MeshModel* model = nullptr;
        int modelIndex = -1;
        uint64_t stamp = 0;
        std::array<double, 16> matrix{};
        std::array<double, 3> position{};
        int planeUm = 0;
        int axis = -1;
        std::shared_ptr<const MeshData> mesh;
        bool sameSection(const Request& o) const;
    };

    void startPending();
    void finished(const std::shared_ptr<Request>& done, bool ok, const std::shared_ptr<CutWorkData>& result);
    bool stillCurrent(const Request& r) const;

    QThreadPool pool;
    uint64_t generation = 0;
    bool cutRunning = false;
    // The last request taken: a request for the same section is not made again.
    std::shared_ptr<Request> latest;
    std::shared_ptr<Request> pending;
    std::shared_ptr<Request> running;
    std::shared_ptr<std::atomic<bool>> runningStop;
};
