#pragma once

#include <QMutex>
#include <QWidget>

class QTableWidget;

// The model list's form.
struct ModelListForm
{
    QTableWidget* tbwModel_list;

    void setupUi(QWidget* w);
    void retranslateUi(QWidget* w);
};

// The scene's models as a table: hide or show, select by name, rename, copy, delete.
class ModelListWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ModelListWidget(QWidget* parent = nullptr);

    void updateValues();
    void addRow(int row);
    QTableWidget* table() const { return ui.tbwModel_list; }

    // The scene holds at most this many models.
    static constexpr int modelLimit = 50;

public slots:
    void OnButtonClicked();
    void OnItemSelectionChanged();
    void OnItemChanged();
    void pasteModel();

private:
    // Places a copy of m 0.00 to 9.99 mm off on X and Y and appends it.
    void appendCopy(const class MeshModel* m, bool keepSupportFlag);
    void copyModel(const class MeshModel* m, bool keepSupportFlag);
    void refreshRow(int row);
    QString elidedName(const QString& name) const;
    void updateStatus();

    ModelListForm ui;
    int columnCount = 5;
    int lastModelCount = 0;
    QMutex mutex;
};
