#pragma once

#include <QDialog>

// The settings window (print profiles, levelling, filament); filled with its own work.
class BVSettingWindow : public QDialog
{
    Q_OBJECT
public:
    explicit BVSettingWindow(QWidget* parent = nullptr)
        : QDialog(parent) {}
};
