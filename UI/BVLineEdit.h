#pragma once

#include <QLineEdit>

// A name field: a single click selects without editing, a double-click starts editing.
class BVLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit BVLineEdit(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};
