#include "UI/EditTreeWidget.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>

#include "UI/ModelListWidget.h"
#include "UI/MoveModelWidget.h"
#include "UI/RotateModelWidget.h"
#include "UI/ScaleModelWidget.h"
#include "cutting/CutModelWidget.h"
#include "scene/AppData.h"
#include "support/ManualSupportWidget.h"

EditTreeWidget::EditTreeWidget(QWidget* parent)
    : QTreeWidget(parent)
{
    header()->hide();
    setIndentation(0);
    setColumnCount(1);
    setExpandsOnDoubleClick(false);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus);
    setFixedWidth(250);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setCursor(Qt::ArrowCursor);
    setIconSize(QSize(32, 32));
    setStyleSheet("QTreeWidget{background:#41505e; color:white; border:none; font:bold 16px;}");
    connect(this, &QTreeWidget::itemExpanded, this, &EditTreeWidget::slotitemExpanded);
    connect(this, &QTreeWidget::itemCollapsed, this, &EditTreeWidget::slotcollapseItem);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &EditTreeWidget::limitScroll);
}

void EditTreeWidget::initPanels()
{
    if (modelListPanel)
        return;
    clear();
    currentOpenItem = nullptr;
    modelListPanel = new ModelListWidget(this);
    movePanelWidget = new MoveModelWidget(this);
    rotatePanelWidget = new RotateModelWidget(this);
    scalePanelWidget = new ScaleModelWidget(this);
    cutPanelWidget = new CutModelWidget(this);
    supportPanelWidget = new ManualSupportWidget(this);

    connect(this, &EditTreeWidget::signExitSupportWork, supportPanelWidget, &ManualSupportWidget::slotStopSupportWork);
    connect(cutPanelWidget, &CutModelWidget::signStopSupportWork, supportPanelWidget,
            &ManualSupportWidget::slotStopSupportWork);
    connect(supportPanelWidget, &ManualSupportWidget::signStopCutWork, cutPanelWidget, &CutModelWidget::slotStopCutWork);

    QWidget* panels[6] = {modelListPanel, movePanelWidget, rotatePanelWidget,
                          scalePanelWidget, cutPanelWidget, supportPanelWidget};
    for (int i = 0; i < 6; ++i) {
        auto* top = new QTreeWidgetItem(this);
        auto* child = new QTreeWidgetItem(top);
        child->setSizeHint(0, QSize(200, panelHeight[i]));
        top->setSizeHint(0, QSize(200, 70));
        top->setBackground(0, QColor(30, 30, 30));
        setItemWidget(child, 0, panels[i]);
    }
}

void EditTreeWidget::updatePanels()
{
    if (!modelListPanel)
        return;
    modelListPanel->updateValues();
    movePanelWidget->updateValues();
    rotatePanelWidget->updateValues();
    scalePanelWidget->updateValues();
    supportPanelWidget->updateFromAppData();
    cutPanelWidget->syncCutValue();
}

void EditTreeWidget::setPanelsDisabled(bool disabled)
{
    if (!modelListPanel)
        return;
    for (QWidget* w : {static_cast<QWidget*>(modelListPanel), static_cast<QWidget*>(movePanelWidget),
                       static_cast<QWidget*>(rotatePanelWidget), static_cast<QWidget*>(scalePanelWidget),
                       static_cast<QWidget*>(cutPanelWidget), static_cast<QWidget*>(supportPanelWidget)})
        w->setDisabled(disabled);
    cutPanelWidget->setCuttingDisabled(disabled);
}

int EditTreeWidget::contentHeight() const
{
    int h = 0;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        const QTreeWidgetItem* top = topLevelItem(i);
        h += top->sizeHint(0).height();
        if (top->isExpanded() && i < 7)
            h += panelHeight[i];
    }
    return h;
}

int EditTreeWidget::updateItemStyles()
{
    int expanded = 0;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* top = topLevelItem(i);
        top->setBackground(0, QColor(28, 44, 54));
        if (top->isExpanded()) {
            top->setForeground(0, QColor(84, 200, 234));
            ++expanded;
        } else {
            top->setForeground(0, Qt::white);
        }
    }
    if (QTreeWidgetItem* support = topLevelItem(5)) {
        if (support->isExpanded() && !supportStyle) {
            supportStyle = true;
            emit changeStyle(true);
        } else if (!support->isExpanded() && supportStyle) {
            supportStyle = false;
            emit changeStyle(false);
        }
    }
    return expanded;
}

void EditTreeWidget::exitCutting()
{
    if (cutPanelWidget)
        cutPanelWidget->exitCutting();
}

void EditTreeWidget::setCuttingDisabled(bool disabled)
{
    if (cutPanelWidget)
        cutPanelWidget->setCuttingDisabled(disabled);
}

bool EditTreeWidget::isReadyCutting() const
{
    return cutPanelWidget && cutPanelWidget->isReadyCutting();
}

void EditTreeWidget::stopSupportWork()
{
    if (supportPanelWidget)
        supportPanelWidget->slotStopSupportWork();
}

bool EditTreeWidget::isSupportEditing() const
{
    return supportPanelWidget && supportPanelWidget->isSupportEditing();
}

void EditTreeWidget::setSupportDisabled(bool disabled)
{
    if (supportPanelWidget)
        supportPanelWidget->setSupportDisabled(disabled);
}

void EditTreeWidget::setSupportSize(double size)
{
    if (supportPanelWidget)
        supportPanelWidget->setSupportSize(size);
}

void EditTreeWidget::retranslatePanels()
{
    if (cutPanelWidget)
        cutPanelWidget->retranslate();
    if (supportPanelWidget)
        supportPanelWidget->retranslate();
}

void EditTreeWidget::slotitemExpanded(QTreeWidgetItem* item)
{
    if (!item || item == currentOpenItem)
        return;
    const QString text = item->text(0).trimmed();
    struct Word
    {
        const char* english;
        const char* chinese;
        int mode;
    };
    static const Word words[6] = {{"Model", "模型", 0}, {"Rotate", "旋转", 2}, {"Move", "移动", 1},
                                  {"Scale", "缩放", 3}, {"Cut", "切割", 4},    {"Support", "支撑", 0}};
    for (const Word& w : words) {
        if (text.contains(QLatin1String(w.english)) || text.contains(QString::fromUtf8(w.chinese))) {
            AppData::instance()->setEditMode(w.mode);
            break;
        }
    }
    // The item closed here is no longer the open one, so closing it keeps the mode just set.
    QTreeWidgetItem* previous = currentOpenItem;
    currentOpenItem = item;
    if (previous)
        collapseItem(previous);
}

void EditTreeWidget::slotcollapseItem(const QTreeWidgetItem* item)
{
    if (item && item == currentOpenItem)
        AppData::instance()->setEditMode(0);
}

void EditTreeWidget::stopWork()
{
    if (cutPanelWidget)
        cutPanelWidget->slotStopCutWork();
    if (supportPanelWidget)
        supportPanelWidget->slotStopSupportWork();
}

void EditTreeWidget::limitScroll(int value)
{
    if (!scrollLimiterReady)
        return;
    scrollLimiterReady = false;
    QScrollBar* bar = verticalScrollBar();
    if (lastScrollValue == -1) {
        lastScrollValue = 0;
    } else {
        int v = value;
        // Large jumps and moves onto either end advance 20 pixels per step.
        if (v - lastScrollValue > 200 || v == bar->maximum())
            v = std::min(bar->maximum(), lastScrollValue + 20);
        if (v - lastScrollValue < -200 || v == bar->minimum())
            v = std::max(bar->minimum(), lastScrollValue - 20);
        lastScrollValue = v;
    }
    bar->setValue(lastScrollValue);
    scrollLimiterReady = true;
}

void EditTreeWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->pos().x() < 5)
        emit sendMousePress(event);
    QTreeWidget::mousePressEvent(event);
}

void EditTreeWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->pos().x() < 5)
        emit sendMouseRelease(event);
    if (event->button() == Qt::LeftButton) {
        QTreeWidgetItem* item = itemAt(event->pos());
        if (item && item->childCount() > 0) {
            if (item->isExpanded()) {
                collapseItem(item);
                AppData::instance()->setEditMode(0);
                stopWork();
            } else {
                expandItem(item);
                stopWork();
            }
            emit ItemExpandStateChanged();
        }
    }
    QTreeWidget::mouseReleaseEvent(event);
}

void EditTreeWidget::mouseMoveEvent(QMouseEvent* event)
{
    emit sendMouseMove(event);
    QTreeWidget::mouseMoveEvent(event);
}
