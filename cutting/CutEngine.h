#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cutting/CutWorkData.h"

class MeshModel;
class QObject;
struct MeshData;

// What a cut job hands to the GUI thread: two detached halves and where they go.
struct CutResult
{
    bool ok = false;
    const MeshModel* source = nullptr; // the cut model, matched by identity when committing
    std::string upName;
    std::string downName;
    std::unique_ptr<MeshData> up;
    std::unique_ptr<MeshData> down;
    std::array<double, 3> upShift{0.0, 0.0, 0.0};
};

// Meshes with more vertices than this are not previewed.
constexpr int kPreviewVertexLimit = 40961;

// Fills cutWorkData() with the halves and the section of model at the plane (micrometres).
// Without force, large meshes are skipped. Returns false when nothing was computed.
bool computeCutSection(const MeshModel* model, int modelIndex, int planeUm, int axis, bool force);
// The same for the selected model.
bool computeCutSection(int planeUm, int axis, bool force);
// The halves and the section of a detached mesh under a model matrix (column by column) into
// wd, which may be any work data: the live preview's, on its own thread. It stops early when
// *stop turns true. False when stopped or nothing was computed; wd's identity fields are left
// to the caller.
bool computeSectionOf(const MeshData& mesh, const std::array<double, 16>& matrix, int planeUm, int axis, CutWorkData& wd,
                      const std::atomic<bool>* stop);
// Empties the halves so that the next cut computes its section anew.
void resetCutSection();

// The cut job, run on a pool thread while the GUI leaves the model alone.
CutResult cutModel(const MeshModel* model, int modelIndex, int planeUm, int axis);
// The fewest faces per range the split runs on a core; tests lower it so that small models are
// split in many ranges, and their points shared out over several buckets.
void setSplitGrainForTests(size_t grain);
// Points with more leaving rim edges than this link by a search in their edges sorted by
// direction; below, by a scan. 16 unless set.
void setFanEdgesForTests(size_t edges);
// Whether edges in the plane, as (from, to, shell), cancel each against one the other way in
// its shell: when they do, the lower half's rim is the upper half's turned round.
bool planeEdgesCancelForTests(const std::vector<std::array<int32_t, 3>>& edges);
// The linking of a half's rim on its own: directed edges between points into loops and open
// chains, where several edges leave a point the one turning furthest left taken.
bool linkRimForTests(const std::vector<std::pair<int32_t, int32_t>>& edges, const std::vector<std::array<int64_t, 2>>& xy,
                     std::vector<std::vector<int32_t>>& loops, std::vector<std::vector<int32_t>>& chains);
// Puts the halves in place of the cut model (GUI thread). False when the model is gone.
bool commitCut(CutResult& result);

// Runs the cut of the selected model on Qt's global pool, commits on context's thread and
// then calls done(success). g_jobState tells a stop (2) from other failures.
void startCutJob(int planeUm, int axis, QObject* context, std::function<void(bool)> done);

// Joins the chains the exact linking leaves open (a crack, a missing face): ends within 20 um,
// then the nearest ends up to 10 mm. Loops made go to closed; the rest stays in open.
// False on a stop request.
bool joinOpenChains(ClipperLib::Paths& open, ClipperLib::Paths& closed);

// Sum of the outline's edge lengths (micrometres, each truncated), closing edge included.
int64_t outlinePerimeter(const ClipperLib::Path& outline);
