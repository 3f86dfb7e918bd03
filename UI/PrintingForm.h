#pragma once

#include <QWidget>

// The printing panel that follows a running print; filled with the print panels.
class PrintingForm : public QWidget
{
    Q_OBJECT
public:
    explicit PrintingForm(QWidget* parent = nullptr)
        : QWidget(parent) {}
};
