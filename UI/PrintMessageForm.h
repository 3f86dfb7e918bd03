#pragma once

#include <QWidget>

// The slice-information panel (print time, material length); filled with the print panels.
class PrintMessageForm : public QWidget
{
    Q_OBJECT
public:
    explicit PrintMessageForm(QWidget* parent = nullptr)
        : QWidget(parent) {}
};
