#pragma once

#include <QDoubleSpinBox>

// A double spin box with the key rule of BVSpinBox.
class BVDoubleSpinBox : public QDoubleSpinBox
{
    Q_OBJECT
public:
    explicit BVDoubleSpinBox(QWidget* parent = nullptr);

    int digitLimit = 4;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
