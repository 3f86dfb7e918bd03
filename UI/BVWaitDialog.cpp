#include "UI/BVWaitDialog.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include "UI/ZCyclProgress.h"

bool waitingFlag = false;

BVWaitDialog::BVWaitDialog(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("BVWaitDialog"));
    setStyleSheet(QStringLiteral("background-color: rgb(255, 255, 255,0);"));
    resize(677, 572);
    setMinimumSize(85, 85);
    // No window type: with a parent this is an overlay inside the parent's window.
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    waitingFlag = true;

    const QWidget* top = parent ? parent->window() : this;
    const int w = top->width();
    const int h = top->height();
    m_spinner = new ZCyclProgress(QStringLiteral(":/new/wait"), 18, this);
    m_spinner->move(w / 2 - 42, h / 2 - 42);
    m_spinner->startAnimation(25);
    setGeometry(0, 0, w, h);
}

BVWaitDialog::~BVWaitDialog()
{
    // A dialog destroyed without DoneClose must not leave the main window locked.
    waitingFlag = false;
}

void BVWaitDialog::DoneClose()
{
    m_spinner->stopAnimation();
    waitingFlag = false;
    done(2);
}

void BVWaitDialog::keyPressEvent(QKeyEvent* event)
{
    // Swallowed: Escape must not close it, and no key may reach the window underneath.
    event->accept();
}

void BVWaitDialog::mouseMoveEvent(QMouseEvent* event)
{
    event->ignore();
}

void BVWaitDialog::dragEnterEvent(QDragEnterEvent* event)
{
    event->acceptProposedAction();
}

void BVWaitDialog::dragMoveEvent(QDragMoveEvent* event)
{
    event->acceptProposedAction();
}

void BVWaitDialog::dropEvent(QDropEvent* event)
{
    // Nothing may be opened while a job reads the scene.
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
}

void BVWaitDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    setFocus(Qt::OtherFocusReason);
}
