#pragma once

#include <QDialog>
#include <QPoint>
#include <QString>

namespace Ui {
class BrevMessageBoxClass;
}

// A frameless modal box with an icon, a title line, a text and up to three buttons.
// Exec results: 1 the first button, 0 the second (or the box was hidden), 2 the third;
// the close button, Escape and a close by the window manager give closeResult.
class BVMessageBox : public QDialog
{
    Q_OBJECT
public:
    enum MES_ICON { Information = 1, Warning = 2, Critical = 3 };
    enum MES_BTN { FirstButton = 0, SecondButton = 1, ThirdButton = 2 };
    Q_ENUM(MES_ICON)
    Q_ENUM(MES_BTN)

    explicit BVMessageBox(QWidget* parent = nullptr);
    ~BVMessageBox() override;

    void setCloseResult(int result) { closeResult = result; }
    int getCloseResult() const { return closeResult; }
    void setFocusButton(int btn);
    void disableClose();
    bool isCloseEnabled() const { return closeEnabled; }

    // What the box shows, for callers and tests that answer it without showing it.
    QString titleText() const;
    QString text() const;
    QString buttonText(int btn) const;
    bool isButtonShown(int btn) const;
    int focusButton() const;

public slots:
    void on_btn_ok_clicked();
    void on_btn_close_clicked();
    void on_btn_no_clicked();
    void on_btn_cancel_clicked();
    void setIcon(MES_ICON icon);
    void setWindowTitle(QString title);
    void setStandardButtons(int num);
    void setButtonText(MES_BTN btn, QString text);
    void setText(QString text);
    void addButton(MES_BTN btn);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

    QPushButton* button(int btn) const;

private:
    bool dragging = false;
    QPoint dragOffset;
    int closeResult = 0;
    bool closeEnabled = true;
    Ui::BrevMessageBoxClass* ui;
    int pendingFocus = 0;
};
