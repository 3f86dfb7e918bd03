#pragma once

#include "render/ViewHost.h"

#include <vector>

class MeshModel;
struct MeshData;

namespace RenderTest {

// An axis-aligned box mesh from lo to hi, outward faces.
MeshData* boxMesh(const double lo[3], const double hi[3]);
// A model of a box put into MeshList and AppData (selected when it is the first).
MeshModel* addBoxModel(const double lo[3], const double hi[3]);
// Empties AppData's models and supports and the mesh list.
void clearScene();

} // namespace RenderTest

// Records what the view asked of its window.
class FakeViewHost : public ViewHost
{
public:
    int taskState() const override { return state; }
    bool confirmEraseSliceData() override
    {
        ++eraseQuestions;
        return eraseAnswer;
    }
    bool confirmClearSlicePreview() override { return true; }
    bool confirmQuitSupportMode() override { return quitSupportAnswer; }
    bool confirmDeleteSupports() override
    {
        ++supportQuestions;
        return deleteSupportsAnswer;
    }
    void updateStatus() override { ++statusUpdates; }
    void updateSupportButtons() override { ++supportButtonUpdates; }
    void previewCutSection(int positionUm, int axis) override { previews.push_back({positionUm, axis}); }
    void startCut(double positionUm, int axis) override { cuts.push_back({int(positionUm), axis}); }
    void setJobState(int s) override { jobState = s; }

    int state = 0;
    bool eraseAnswer = true;
    int eraseQuestions = 0;
    bool quitSupportAnswer = true;
    bool deleteSupportsAnswer = true;
    int supportQuestions = 0;
    int supportButtonUpdates = 0;
    int statusUpdates = 0;
    int jobState = -1;
    struct Call
    {
        int positionUm;
        int axis;
    };
    std::vector<Call> previews;
    std::vector<Call> cuts;
};
