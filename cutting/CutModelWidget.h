#pragma once

#include <QWidget>

class QDoubleSpinBox;
class QLabel;
class QPushButton;

// The cut panel's form.
struct CutModelForm
{
    QPushButton* btn_x;
    QPushButton* btn_y;
    QPushButton* btn_z;
    QLabel* labScale_z;
    QDoubleSpinBox* dsbCutting;
    QLabel* labScale_zmm;
    QPushButton* btnReadyCutting;
    QPushButton* btnStartCutting;

    void setupUi(QWidget* w);
    void retranslateUi(QWidget* w);
};

// Chooses the cut axis and plane of the selected model, switches the view into its
// ready-to-cut state and starts the cut.
class CutModelWidget : public QWidget
{
    Q_OBJECT
public:
    explicit CutModelWidget(QWidget* parent = nullptr);

    void updateCutRange();
    void syncCutValue();
    void retranslate();
    void setCuttingDisabled(bool disabled);
    bool isReadyCutting() const;
    void setCutControlsEnabled(bool enabled);
    void exitCutting();
    CutModelForm& form() { return ui; }

signals:
    void signStopSupportWork();

public slots:
    void on_dsbCutting_valueChanged(double value);
    void on_btnStartCutting_clicked();
    void on_btnReadyCutting_clicked();
    void on_btn_z_clicked();
    void on_btn_y_clicked();
    void on_btn_x_clicked();
    void DeleteSlot(int size);
    void slotStopCutWork();

private:
    void chooseAxis(int axis);
    CutModelForm ui;
};
