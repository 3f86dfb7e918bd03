#pragma once

#include <QWidget>

class BVDoubleSpinBox;
class QLabel;
class QPushButton;

// The scale panel's form.
struct ScaleModelForm
{
    QLabel* labScale_x;
    QLabel* labZomm_y;
    QLabel* labScale_z;
    BVDoubleSpinBox* dsbScale_x;
    BVDoubleSpinBox* dsbScale_y;
    BVDoubleSpinBox* dsbScale_z;
    QLabel* labScale_xmm;
    QLabel* labScale_ymm;
    QLabel* labScale_zmm;
    QLabel* labScale_z_2;
    BVDoubleSpinBox* dsbScale_s;
    QPushButton* btnScale_undo;

    void setupUi(QWidget* w);
    void retranslateUi(QWidget* w);
};

// Scales the selected model uniformly, by one of its sizes or by the overall factor.
class ScaleModelWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ScaleModelWidget(QWidget* parent = nullptr);

    void updateValues();
    void setAxisSize(int axis, double value);
    ScaleModelForm& form() { return ui; }

public slots:
    void on_dsbScale_x_valueChanged(double value);
    void on_dsbScale_y_valueChanged(double value);
    void on_dsbScale_z_valueChanged(double value);
    void on_dsbScale_s_valueChanged(double value);
    void on_btnScale_undo_clicked();

private:
    void scaleTo(double target, bool fromSize = false);
    ScaleModelForm ui;
    // The box the user edited last (0 X, 1 Y, 2 Z, 3 S); the refresh leaves it alone.
    int editingAxis = -1;
};
