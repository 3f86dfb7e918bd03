#pragma once

#include <QList>
#include <QPair>
#include <QWidget>
#include <string>

#include "UI/PanelHost.h"

class EditTreeWidget;
class MeshModel;

// A stand-in for the main window: records what the panels ask of it and answers as told.
class FakeHost : public QWidget, public PanelHost
{
    Q_OBJECT
public:
    FakeHost();
    ~FakeHost() override;

    bool confirmEraseSliceData() override;
    bool confirmQuitSupportMode() override;
    void updateStatus() override;
    void updateGLView() override { ++repaints; }
    void setCuttingValue(float value) override { cutValues << value; }
    float cuttingValue() const override { return planeValue; }
    bool sendCuttingCommand(int command) override;
    void setCuttingMode(bool ready) override { cutCommands << (ready ? 4 : 5); }
    void setSupportCursor(bool deleting) override { cursors << deleting; }
    void runAutoSupport(double size, double angle) override { autoRuns << qMakePair(size, angle); }

    // Opens one item of the tree as a user would, so its panel is shown and clickable.
    void openItem(int top);

    EditTreeWidget* tree = nullptr;
    bool allowErase = true;
    bool allowQuitSupport = true;
    bool acceptCut = true;
    float planeValue = 0.f;
    int eraseAsked = 0;
    int statusUpdates = 0;
    int repaints = 0;
    QList<float> cutValues;
    QList<int> cutCommands;
    QList<bool> cursors;
    QList<QPair<double, double>> autoRuns;

signals:
    void CutSign(int size);
    void signPaste();
};

// Answers every message box with `answer` and records the kinds asked.
struct MessageRecorder
{
    explicit MessageRecorder(int answer = 1);
    ~MessageRecorder();
    QList<int> kinds;
    int answer;
};

// A box model of the given size (mm), standing on the plate at the origin, added to the scene.
MeshModel* addBoxModel(const std::string& name, double sx, double sy, double sz);
// A support object owned by the model, added to the scene.
void addSupportFor(MeshModel* m);
// Empties the scene and the mesh list.
void clearScene();
