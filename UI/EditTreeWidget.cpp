#include "UI/EditTreeWidget.h"

#include <QHeaderView>
#include <QMouseEvent>

EditTreeWidget::EditTreeWidget(QWidget* parent)
    : QTreeWidget(parent)
{
    header()->hide();
    setIndentation(0);
    setColumnCount(1);
    setExpandsOnDoubleClick(false);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus);
    setFixedWidth(214);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setCursor(Qt::ArrowCursor);
    setIconSize(QSize(32, 32));
    setStyleSheet("QTreeWidget{background:#41505e; color:white; border:none; font:bold 16px;}");
}

void EditTreeWidget::initPanels()
{
    clear();
    for (int i = 0; i < 6; ++i) {
        auto* item = new QTreeWidgetItem(this);
        item->setSizeHint(0, QSize(200, 70));
        item->setBackground(0, QColor(30, 30, 30));
    }
}

void EditTreeWidget::setPanelsDisabled(bool disabled)
{
    for (int i = 0; i < topLevelItemCount(); ++i)
        topLevelItem(i)->setDisabled(disabled);
}

int EditTreeWidget::contentHeight() const
{
    int h = 0;
    for (int i = 0; i < topLevelItemCount(); ++i)
        h += topLevelItem(i)->sizeHint(0).height();
    return h;
}

int EditTreeWidget::updateItemStyles()
{
    int expanded = 0;
    for (int i = 0; i < topLevelItemCount(); ++i)
        expanded += topLevelItem(i)->isExpanded() ? 1 : 0;
    return expanded;
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
    QTreeWidget::mouseReleaseEvent(event);
}

void EditTreeWidget::mouseMoveEvent(QMouseEvent* event)
{
    emit sendMouseMove(event);
    QTreeWidget::mouseMoveEvent(event);
}
