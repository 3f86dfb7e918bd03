#pragma once

#include <QWidget>

class QPushButton;

// Three exclusive step buttons ("1", "5", "10"); a click reports the button's number.
class BVThreeBtn : public QWidget
{
    Q_OBJECT
public:
    explicit BVThreeBtn(QWidget* parent = nullptr);

    void setButtonTexts(QString first, QString second, QString third);
    void setText(QString text);

signals:
    void sendClicked(double value);

public slots:
    void on_btn_1_clicked();
    void on_btn_2_clicked();
    void on_btn_3_clicked();

private:
    QPushButton* btn_1;
    QPushButton* btn_2;
    QPushButton* btn_3;
};
