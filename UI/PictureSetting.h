#pragma once

#include <QDialog>
#include <QPoint>
#include <QSize>

namespace Ui {
class PictureSetting;
}

// Asks how a picture becomes a relief (mode, base and datum thickness, size) and stores the
// choice in the application data on OK; the relief reader builds the mesh from it.
class PictureSetting : public QDialog
{
    Q_OBJECT
public:
    explicit PictureSetting(QWidget* parent = nullptr);
    ~PictureSetting() override;

    // Reads the picture's size and fits the size boxes to its aspect ratio.
    void setImage(const QString& path);

private slots:
    void on_btnCancel_clicked();
    void on_btnOK_clicked();
    void on_doubleSpinBox_4_valueChanged(double arg1);
    void on_doubleSpinBox_2_valueChanged(double arg1);
    void on_btn_win_close_clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool hasAspect() const;

    Ui::PictureSetting* ui;
    QSize pictureSize;
    bool dragging = false;
    QPoint dragOffset;
};
