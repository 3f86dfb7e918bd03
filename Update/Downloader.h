#pragma once

#include <QDialog>
#include <QPoint>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class CheckedWriter;
class QLabel;
class QNetworkAccessManager;
class QNetworkReply;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTextEdit;
class QWidget;

// Downloads the new installer into the temporary folder with a progress display, then
// shows the change log and lets the user start the installer.
class Downloader : public QDialog
{
    Q_OBJECT
public:
    explicit Downloader(QWidget* parent = nullptr);
    ~Downloader() override;

    void setLogPathCN(const QString& path);
    void setLogPathEN(const QString& path);

    QString downloadedPath() const { return m_filePath; }
    QString logPathCN() const { return m_logPathCN; }
    QString logPathEN() const { return m_logPathEN; }
    bool isDownloading() const;

    // "%1 bytes", "%1 KB" or "%1 MB", rounded down.
    static QString sizeText(qint64 bytes);

    // Test seam: opens a downloaded file instead of the desktop; returns success.
    using OpenUrlHook = std::function<bool(const QUrl&)>;
    static void setOpenUrlHook(OpenUrlHook hook);

signals:
    void logPathChanged();

public slots:
    void startDownload(const QUrl& url);
    void onDownloadFinished();
    void calculateSizes(qlonglong received, qlonglong total);
    void updateProgress(qlonglong received, qlonglong total);
    void setLog();
    void on_stopButton_clicked();
    void on_openButton_clicked();
    void on_cancelButton_clicked();
    void on_btn_win_close_clicked();

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
        QStackedWidget* stackedWidget;
        QWidget* page_download;
        QLabel* label;
        QLabel* file_size;
        QLabel* label_3;
        QLabel* down_size;
        QProgressBar* progressBar;
        QPushButton* stopButton;
        QWidget* page_log;
        QTextEdit* LogTextEdit;
        QPushButton* openButton;
        QPushButton* cancelButton;
    };
    void setupForm();
    void retranslate();
    // Asks whether to stop a running download; true when the transfer was stopped.
    bool askStop();
    // Moves the bytes that arrived into the file being written.
    void writeBody(QNetworkReply* reply);

    qint64 m_startTime = 0;
    QString m_filePath;
    Form* ui;
    QNetworkReply* m_reply = nullptr;
    // The installer as it arrives; put in place only when whole.
    std::unique_ptr<CheckedWriter> m_file;
    QString m_filePending;
    qint64 m_received = 0;
    QNetworkAccessManager* m_manager;
    QString m_logPathEN;
    QString m_logPathCN;
    bool m_reportFailures = true;
    bool m_dragging = false;
    QPoint m_dragOffset;
};
