#pragma once

#include <QTreeWidget>

class QMouseEvent;

// The side tree of edit panels beside the 3D view. The panels themselves come with the
// editing work; until then the tree holds its six top items and forwards the mouse.
class EditTreeWidget : public QTreeWidget
{
    Q_OBJECT
public:
    explicit EditTreeWidget(QWidget* parent = nullptr);

    void initPanels();
    void updatePanels() {}
    void setPanelsDisabled(bool disabled);
    int contentHeight() const;
    int updateItemStyles();
    void exitCutting() {}
    void setCuttingDisabled(bool) {}
    bool isReadyCutting() const { return false; }
    void stopSupportWork() {}
    bool isSupportEditing() const { return false; }
    void setSupportDisabled(bool) {}
    void setSupportSize(double) {}
    void retranslatePanels() {}

signals:
    void ItemExpandStateChanged();
    void changeStyle(bool style);
    void sendMousePress(QMouseEvent* event);
    void sendMouseRelease(QMouseEvent* event);
    void sendMouseMove(QMouseEvent* event);
    void signExitSupportWork();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
};
