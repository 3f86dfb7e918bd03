#pragma once

#include <QDialog>

// The picture-to-relief dialog; filled with its own work.
class PictureSetting : public QDialog
{
    Q_OBJECT
public:
    explicit PictureSetting(QWidget* parent = nullptr)
        : QDialog(parent) {}
    void setImage(const QString&) {}
};
