#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QRegExpValidator;
class QSlider;

// The rotate panel's form.
struct RotateModelForm
{
    QLabel* labRotate_x;
    QLabel* labRotate_y;
    QLabel* labRotate_z;
    QSlider* hsdRotate_x;
    QSlider* hsdRotate_y;
    QSlider* hsdRotate_z;
    QLineEdit* letRotate_x;
    QLineEdit* letRotate_y;
    QLineEdit* letRotate_z;
    QLabel* labRotate_xd;
    QLabel* labRotate_yd;
    QLabel* labRotate_zd;
    QPushButton* btnRotate_front;
    QPushButton* btnRotate_left;
    QPushButton* btnRotate_top;
    QPushButton* btnRotate_back;
    QPushButton* btnRotate_right;
    QPushButton* btnRotate_down;
    QPushButton* btn_hide;

    void setupUi(QWidget* w);
    void retranslateUi(QWidget* w);
};

// Rotates the selected model about X, Y and Z by slider or typed whole degrees, or to one of
// six preset orientations.
class RotateModelWidget : public QWidget
{
    Q_OBJECT
public:
    explicit RotateModelWidget(QWidget* parent = nullptr);

    void updateValues();
    void setAxisAngle(int axis, double value);
    void setAngles(double x, double y, double z);
    void checkPresetButton(int n);
    RotateModelForm& form() { return ui; }

    // Whole degrees as they are stored for a typed or slid value: 400 gives 40, -10 gives 351,
    // 360 stays 360.
    static int wrappedDegrees(double value);

public slots:
    void on_hsdRotate_x_valueChanged(int value);
    void on_hsdRotate_y_valueChanged(int value);
    void on_hsdRotate_z_valueChanged(int value);
    void on_letRotate_x_textChanged(const QString& text);
    void on_letRotate_y_textChanged(const QString& text);
    void on_letRotate_z_textChanged(const QString& text);
    void BtnRotateClicked();
    void checkRotateBtn(int value0, int value1, int value2);

protected:
    void changeEvent(QEvent* event) override;

private:
    QList<QPushButton*> presetButtons() const;
    RotateModelForm ui;
    QRegExpValidator* validator = nullptr;
};
