#include "testutil_host.h"

#include <QApplication>
#include <QTreeWidgetItem>

#include "UI/BrevMessageBox.h"
#include "UI/EditTreeWidget.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"

FakeHost::FakeHost()
{
    resize(300, 900);
    tree = new EditTreeWidget(this);
    tree->initPanels();
    tree->setPanelsDisabled(false);
}

FakeHost::~FakeHost() = default;

bool FakeHost::confirmEraseSliceData()
{
    ++eraseAsked;
    return allowErase;
}

bool FakeHost::confirmQuitSupportMode()
{
    return allowQuitSupport;
}

void FakeHost::updateStatus()
{
    ++statusUpdates;
    AppData::instance()->refresh();
    tree->updatePanels();
}

bool FakeHost::sendCuttingCommand(int command)
{
    cutCommands << command;
    return command != 3 || acceptCut;
}

void FakeHost::openItem(int top)
{
    QTreeWidgetItem* item = tree->topLevelItem(top);
    if (!item->isExpanded())
        tree->expandItem(item);
    QApplication::processEvents();
}

MessageRecorder::MessageRecorder(int a)
    : answer(a)
{
    BrevMessageBox::setAnswerHook([this](BrevMessageBox& box) {
        kinds << box.kind();
        return answer;
    });
}

MessageRecorder::~MessageRecorder()
{
    BrevMessageBox::setAnswerHook(nullptr);
}

MeshModel* addBoxModel(const std::string& name, double sx, double sy, double sz)
{
    auto* mesh = new MeshData();
    for (int i = 0; i < 8; ++i)
        mesh->vertices.push_back({(i & 1) * sx - sx / 2, ((i >> 1) & 1) * sy - sy / 2, ((i >> 2) & 1) * sz});
    const int f[12][3] = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                          {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    for (auto& t : f)
        mesh->faces.push_back({t[0], t[1], t[2]});
    auto* m = new MeshModel();
    m->name = name;
    m->setMeshSlot(MeshList::instance()->add(mesh));
    m->saveBottomCenter();
    AppData::instance()->addModel(m);
    return m;
}

void addSupportFor(MeshModel* m)
{
    auto* s = new MeshModel();
    s->isSupport = true;
    s->ownerName = m->name;
    AppData::instance()->commitSupport(s);
}

void clearScene()
{
    AppData* data = AppData::instance();
    data->setSupportEditing(false);
    data->setSupportDeleting(false);
    data->removeAllSupports();
    while (data->modelCount() > 0)
        data->removeModel(0);
    data->selectModel(0, 1);
    data->setEditMode(0);
    MeshList::clear(false);
}
