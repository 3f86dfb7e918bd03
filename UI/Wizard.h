#pragma once

#include <QDialog>

namespace Ui {
class Wizard;
}

// The three-page guide laid over the main window: it darkens the window, shows one picture
// per page in the user's language and, on the first page, leaves the left panel clear. It
// keeps the window's geometry, and the later pictures' arrows stay on the controls they explain.
class Wizard : public QDialog
{
    Q_OBJECT
public:
    explicit Wizard(QWidget* parent = nullptr);
    ~Wizard() override;

private slots:
    void on_btn_next1_clicked();
    void on_btn_next2_clicked();
    void on_btn_finish_clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setPictures(int language);
    void placePictures();

    Ui::Wizard* ui;
    int pageState = 1;
};
