#pragma once

#include <QDialog>

class ZCyclProgress;

// Set while a wait dialog is open: a job on another thread is reading the scene, so the
// main window refuses keys, drops, file opening and window drags. GUI thread only.
extern bool waitingFlag;

// A busy overlay over the whole main window with a turning picture. Only DoneClose ends it.
class BVWaitDialog : public QDialog
{
    Q_OBJECT
public:
    explicit BVWaitDialog(QWidget* parent = nullptr);
    ~BVWaitDialog() override;

    ZCyclProgress* spinner() const { return m_spinner; }

public slots:
    void DoneClose();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    ZCyclProgress* m_spinner;
};
