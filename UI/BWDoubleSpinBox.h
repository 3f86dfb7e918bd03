#pragma once

#include <QWidget>

class QDoubleSpinBox;
class QPushButton;

// A double spin box between its own minus and plus buttons.
class BWDoubleSpinBox : public QWidget
{
    Q_OBJECT
public:
    explicit BWDoubleSpinBox(QWidget* parent = nullptr);

    void setSingleStep(double step);
    void setSuffix(const QString& suffix);
    void setMinimum(double min);
    void setMaximum(double max);
    void setValue(double value);
    void setAlignment(Qt::Alignment alignment);
    void setDecimals(int decimals);
    QString text() const;

signals:
    void valueChanged(double d);

private:
    QPushButton* btn_dec;
    QDoubleSpinBox* doubleSpinBox;
    QPushButton* btn_add;
};
