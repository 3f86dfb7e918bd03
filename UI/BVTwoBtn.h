#pragma once

#include <QString>
#include <QWidget>

class QPushButton;

// A yes/no pair of exclusive buttons standing for two values.
class BVTwoBtn : public QWidget
{
    Q_OBJECT
public:
    explicit BVTwoBtn(QWidget* parent = nullptr);

    void setButtons(QString noText, QString yesText, int noValue, int yesValue);
    int value() const;
    void setValue(int value);
    void setYesChecked(bool yes);

signals:
    void sendClicked(bool value);

public slots:
    void on_btn_yes_clicked();
    void on_btn_no_clicked();

private:
    QString noText;
    QString yesText;
    int noValue = 0;
    int yesValue = 1;
    QPushButton* btn_yes;
    QPushButton* btn_no;
};
