#pragma once

#include <QWidget>

namespace Ui {
class BVViewPortClass;
}

// Camera presets the pad sends; the view also knows 5 and 6, which the pad never sends.
enum viewDirect : int {
    ViewDefault = 0,
    ViewFront = 1,
    ViewBack = 2,
    ViewRight = 3,
    ViewLeft = 4,
};

// The cross of five face buttons over the 3D view; it only reports the chosen preset.
class BVViewPort : public QWidget
{
    Q_OBJECT
public:
    explicit BVViewPort(QWidget* parent = nullptr);
    ~BVViewPort() override;

    // Called by the main window on a language change.
    bool retranslate();

signals:
    void sendView(int direct);

protected:
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void on_btn_up_clicked();
    void on_btn_down_clicked();
    void on_btn_left_clicked();
    void on_btn_right_clicked();
    void on_btn_home_clicked();

private:
    Ui::BVViewPortClass* ui;
};
