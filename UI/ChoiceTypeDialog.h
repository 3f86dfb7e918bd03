#pragma once

#include <QDialog>
#include <QPoint>

#include <functional>

#include "Thread/SignalTypes.h"

namespace Ui {
class ChoiceTypeDialog;
}
class QLabel;

// Lets the user say which printer model the host works for. While a printer is connected it
// follows the model the printer reports and offers only that one.
class ChoiceTypeDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ChoiceTypeDialog(QWidget* parent = nullptr);
    ~ChoiceTypeDialog() override;

    // Set when a change of model would end the slice preview; the change is then asked first.
    void setAskBeforeChange(bool ask);
    // Run once that change is confirmed, before leaving the preview; false keeps the current
    // model (the user kept the scene that leaving would drop).
    void setLeaveCheck(std::function<bool()> check) { leaveCheck = std::move(check); }
    // Shows the second model's other variant, which only a printer reports and which has no
    // button of its own (a plain method: no form button to connect it to).
    void on_btn_px6_b_clicked();

signals:
    // A model change was confirmed: the main window leaves its slice preview.
    void sign_ExitBVT();

public slots:
    void on_btn_px5_clicked();
    void on_btn_px6_a_clicked();
    void on_about_close_clicked();
    void slot_update(ChoiceType type);
    void set_choiceDisable(ChoiceType type);
    void on_btn_ok_clicked();
    void slot_choicePX5();
    void slot_choicePX6_A();
    void slot_choicePX6_B();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void highlight(QLabel* chosen);
    void choose(int choice);
    void onLinkStatus(bool up);

    Ui::ChoiceTypeDialog* ui;
    bool dragging = false;
    QPoint dragOffset;
    bool askBeforeChange = false;
    std::function<bool()> leaveCheck;
};
