#pragma once

#include <QTreeWidget>

class QMouseEvent;
class CutModelWidget;
class ManualSupportWidget;
class ModelListWidget;
class MoveModelWidget;
class RotateModelWidget;
class ScaleModelWidget;

// The side tree of edit panels beside the 3D view: six items (Model, Move, Rotate, Scale,
// Cut, Support), each holding one panel, opened one at a time.
class EditTreeWidget : public QTreeWidget
{
    Q_OBJECT
public:
    explicit EditTreeWidget(QWidget* parent = nullptr);

    void initPanels();
    void updatePanels();
    void setPanelsDisabled(bool disabled);
    int contentHeight() const;
    int updateItemStyles();
    void exitCutting();
    void setCuttingDisabled(bool disabled);
    bool isReadyCutting() const;
    void stopSupportWork();
    bool isSupportEditing() const;
    void setSupportDisabled(bool disabled);
    void setSupportSize(double size);
    void retranslatePanels();

    ModelListWidget* modelList() const { return modelListPanel; }
    MoveModelWidget* movePanel() const { return movePanelWidget; }
    RotateModelWidget* rotatePanel() const { return rotatePanelWidget; }
    ScaleModelWidget* scalePanel() const { return scalePanelWidget; }
    CutModelWidget* cutPanel() const { return cutPanelWidget; }
    ManualSupportWidget* supportPanel() const { return supportPanelWidget; }

signals:
    void ItemExpandStateChanged();
    void changeStyle(bool style);
    void sendMousePress(QMouseEvent* event);
    void sendMouseRelease(QMouseEvent* event);
    void sendMouseMove(QMouseEvent* event);
    void signExitSupportWork();

public slots:
    void slotitemExpanded(QTreeWidgetItem* item);
    void slotcollapseItem(const QTreeWidgetItem* item);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void limitScroll(int value);
    void stopWork();

    int lastScrollValue = -1;
    bool scrollLimiterReady = true;
    int panelHeight[7] = {122, 170, 206, 138, 106, 138, 150};
    ModelListWidget* modelListPanel = nullptr;
    MoveModelWidget* movePanelWidget = nullptr;
    RotateModelWidget* rotatePanelWidget = nullptr;
    ScaleModelWidget* scalePanelWidget = nullptr;
    CutModelWidget* cutPanelWidget = nullptr;
    ManualSupportWidget* supportPanelWidget = nullptr;
    QTreeWidgetItem* currentOpenItem = nullptr;
    bool supportStyle = true;
};
