#pragma once

#include <QDialog>

// The firmware dialog; filled with the firmware update work.
class UpdateFirmware : public QDialog
{
    Q_OBJECT
public:
    explicit UpdateFirmware(QWidget* parent = nullptr)
        : QDialog(parent) {}
};
