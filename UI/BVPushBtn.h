#pragma once

#include <QPushButton>

// A push button that reports double-clicks instead of handling them.
class BVPushBtn : public QPushButton
{
    Q_OBJECT
public:
    explicit BVPushBtn(QWidget* parent = nullptr);

signals:
    void DblClick();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};
