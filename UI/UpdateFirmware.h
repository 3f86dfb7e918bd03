#pragma once

#include <QDialog>
#include <QPoint>
#include <QPointer>
#include <QString>

class CommunicateThread;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTextEdit;
class QTimer;
class QWidget;
class firmwareupdata;

// The modal dialog that flashes a firmware image from the local store into the printer:
// machine data, the images of the machine's firmware family with the chosen one's change
// log, and the flashing progress.
class UpdateFirmware : public QDialog
{
    Q_OBJECT
public:
    explicit UpdateFirmware(QWidget* parent = nullptr);
    ~UpdateFirmware() override;

    // The family name for the stored machine type; type 1 also empties the serial number
    // and version labels.
    QString machineFirmwareName();

    // The printer link the dialog closes before flashing and restarts afterwards; the
    // pool's link unless set otherwise.
    void setLink(CommunicateThread* link);

    QString storeDir() const { return m_storeDir; }
    QString chosenPath() const { return m_chosenPath; }
    firmwareupdata* flasher() const { return m_flasher; }

    int exec() override;
    // Refused while flashing: Escape and the window's close come here.
    void reject() override;

signals:
    void startUpdate();
    void startSerialdetection();

private slots:
    void on_Firewaregenre_combobox_currentIndexChanged(const QString& arg1);
    void on_Fireware_combobox_currentIndexChanged(const QString& arg1);
    void on_update_pushButton_clicked();
    void onProgressChanged(double progress);
    void on_cancel_pushButton_clicked();
    void on_btn_win_close_clicked();
    void updateError();
    void timerOut();
    void MachineSerialNumber(QString snum, QString version, QString mac);

protected:
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct Form
    {
        QWidget* widget_top;
        QLabel* label_12;
        QPushButton* btn_win_close;
        QLabel* label_2;
        QComboBox* Firewaregenre_combobox;
        QLabel* label_3;
        QLabel* snum;
        QLabel* label_5;
        QLabel* mac;
        QLabel* label_4;
        QLabel* versionnum;
        QLabel* label;
        QComboBox* Fireware_combobox;
        QTextEdit* log_textEdit;
        QProgressBar* progressBar;
        QLabel* update_label;
        QPushButton* update_pushButton;
        QPushButton* cancel_pushButton;
    };
    void setupForm();
    void retranslate();
    void fillFamilies();
    void setBusy(bool busy);
    bool linkIdle() const;

    Form* ui;
    QString m_storeDir;
    QString m_chosenPath;
    int m_language = 0;
    firmwareupdata* m_flasher;
    QTimer* m_successTimer;
    bool m_dragging = false;
    QPoint m_dragOffset;
    // From the start of a flash until its outcome has been told; the link is stopped meanwhile.
    bool m_flashing = false;
    QPointer<CommunicateThread> m_link;
    QMetaObject::Connection m_serialConnection;
    QMetaObject::Connection m_stopConnection;
    QMetaObject::Connection m_detectConnection;
};
