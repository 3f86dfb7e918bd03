#pragma once

#include <QWidget>

class QDoubleSpinBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSpinBox;

// The support panel's form.
struct ManualSupportForm
{
    QHBoxLayout* SizeLayout;
    QLabel* labSize;
    QDoubleSpinBox* letSupport_size;
    QLabel* labSize_mm;
    QHBoxLayout* DegreeLayout;
    QLabel* labDegree;
    QSpinBox* letSupport_degree;
    QLabel* labDegree_d;
    QPushButton* btnSupport_add;
    QPushButton* btnSupport_delete;
    QPushButton* btnSupport_auto;
    QPushButton* btnSupport_deleteall;

    void setupUi(QWidget* w);
    void retranslateUi(QWidget* w);
};

// Adds and deletes single supports, runs the automatic supports, deletes them all, and edits
// the column size and the overhang angle.
class ManualSupportWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ManualSupportWidget(QWidget* parent = nullptr);

    void updateFromAppData();
    void setSupportSize(double size);
    void setSupportDisabled(bool disabled);
    void retranslate();
    bool isSupportEditing() const;
    ManualSupportForm& form() { return ui; }

signals:
    void signStopCutWork();

public slots:
    void on_btnSupport_add_clicked();
    void on_btnSupport_delete_clicked();
    void on_btnSupport_auto_clicked();
    void on_btnSupport_deleteall_clicked();
    void on_letSupport_size_editingFinished();
    void on_letSupport_degree_editingFinished();
    void slotStopSupportWork();

private:
    void leaveAdding();
    void repaintView();
    bool supportParameterMayChange(double now, double kept);
    ManualSupportForm ui;
};
