#pragma once

#include <QWidget>

class BVDoubleSpinBox;
class QLabel;
class QPushButton;

// The move panel's form.
struct MoveModelForm
{
    QLabel* labMove_x;
    QLabel* labMove_y;
    QLabel* labMove_z;
    BVDoubleSpinBox* SpinBox_moveX;
    BVDoubleSpinBox* SpinBox_moveY;
    BVDoubleSpinBox* SpinBox_moveZ;
    QLabel* label;
    QLabel* label_2;
    QLabel* label_3;
    QPushButton* btn_movecenter;
    QPushButton* btn_reset;
    QPushButton* btn_movetoZ0;

    void setupUi(QWidget* w);
    void retranslateUi(QWidget* w);
};

// Moves the selected model by the position of its bottom centre.
class MoveModelWidget : public QWidget
{
    Q_OBJECT
public:
    explicit MoveModelWidget(QWidget* parent = nullptr);

    void updateValues();
    void moveAxisTo(int axis, double value);
    MoveModelForm& form() { return ui; }

public slots:
    void on_SpinBox_moveX_valueChanged(double arg1);
    void on_SpinBox_moveY_valueChanged(double arg1);
    void on_SpinBox_moveZ_valueChanged(double arg1);
    void on_btn_reset_clicked();
    void on_btn_movecenter_clicked();
    void on_btn_movetoZ0_clicked();

protected:
    void changeEvent(QEvent* event) override;

private:
    void translateBy(double dx, double dy, double dz, bool fromBox = false);
    MoveModelForm ui;
};
