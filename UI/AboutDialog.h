#pragma once

#include <QDialog>
#include <QPoint>

namespace Ui {
class AboutDialog;
}

// The about box: logo, product name and version; moved by its title strip.
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;

    // Closes the box; the form has no button of that name, so it is a plain method.
    void on_btn_ok_clicked();

private slots:
    void on_about_close_clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    Ui::AboutDialog* ui;
    bool dragging = false;
    QPoint dragOffset;
};
