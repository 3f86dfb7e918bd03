#pragma once

#include <QWidget>

class QLabel;

// The slice-information panel's form, written by hand.
class Ui_PrintMessageForm
{
public:
    QWidget* widget;
    QLabel* label_3;
    QLabel* label_printtime;
    QLabel* label;
    QLabel* label_length;

    void setupUi(QWidget* form);
    void retranslateUi(QWidget* form);
};

// The panel over the 3D view with the print time and filament length of the loaded print task.
class PrintMessageForm : public QWidget
{
    Q_OBJECT
public:
    explicit PrintMessageForm(QWidget* parent = nullptr);

    Ui_PrintMessageForm& form() { return ui; }

public slots:
    void setPrintMessage(QString time, QString length);
    void hideMessage();

protected:
    void changeEvent(QEvent* e) override;

private:
    Ui_PrintMessageForm ui;
};
