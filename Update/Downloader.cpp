#include "Update/Downloader.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

#include "FileRW/CheckedWriter.h"
#include "UI/BrevMessageBox.h"
#include "Update/UpdateServer.h"
#include "app/QsLog.h"
#include "scene/AppData.h"
#include "platform/Platform.h"

namespace {

Downloader::OpenUrlHook& openUrlHook()
{
    static Downloader::OpenUrlHook hook;
    return hook;
}

// What the network may hold for the installer before this thread has written it: without a
// bound a fast link outruns the disk and a busy window, and the body piles up in memory.
constexpr qint64 ReadBufferBytes = 4 * 1024 * 1024;

const char* const kTextStyle = "color: black; font: 9pt \"Microsoft YaHei\";";

} // namespace

void Downloader::setOpenUrlHook(OpenUrlHook hook)
{
    openUrlHook() = std::move(hook);
}

Downloader::Downloader(QWidget* parent)
    : QDialog(parent, Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint)
    , ui(new Form)
    , m_manager(new QNetworkAccessManager(this))
{
    setupForm();
    ui->stackedWidget->setCurrentWidget(ui->page_download);
    connect(this, &Downloader::logPathChanged, this, &Downloader::setLog);
}

Downloader::~Downloader()
{
    if (m_reply) {
        m_reportFailures = false;
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
    delete ui;
}

void Downloader::setupForm()
{
    setObjectName(QStringLiteral("Downloader"));
    setStyleSheet(QStringLiteral("#Downloader { border: 1px solid #54c8ea; background: #ecf2f7; }"));
    resize(420, 180);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(1, 1, 1, 1);
    outer->setSpacing(0);

    ui->widget_top = new QWidget(this);
    ui->widget_top->setObjectName(QStringLiteral("widget_top"));
    ui->widget_top->setAttribute(Qt::WA_StyledBackground);
    ui->widget_top->setStyleSheet(QStringLiteral("#widget_top { border-bottom: 1px solid #dbedf5; }"));
    ui->widget_top->setFixedHeight(36);
    auto* top = new QHBoxLayout(ui->widget_top);
    top->setContentsMargins(10, 0, 0, 0);
    ui->label_12 = new QLabel(ui->widget_top);
    ui->label_12->setObjectName(QStringLiteral("label_12"));
    ui->label_12->setStyleSheet(QStringLiteral("font: 11pt \"微软雅黑\";"));
    ui->btn_win_close = new QPushButton(ui->widget_top);
    ui->btn_win_close->setObjectName(QStringLiteral("btn_win_close"));
    ui->btn_win_close->setFixedSize(38, 36);
    // The close sprite: four 30 px frames side by side (normal, hover, pressed, disabled).
    ui->btn_win_close->setStyleSheet(QStringLiteral("QPushButton { border-image: url(:/new/sclose) 0 90 0 0; border: none; }"
                                                    "QPushButton:hover { border-image: url(:/new/sclose) 0 60 0 30; }"
                                                    "QPushButton:pressed { border-image: url(:/new/sclose) 0 30 0 60; }"));
    top->addWidget(ui->label_12);
    top->addStretch();
    top->addWidget(ui->btn_win_close);
    outer->addWidget(ui->widget_top);

    ui->stackedWidget = new QStackedWidget(this);
    ui->stackedWidget->setObjectName(QStringLiteral("stackedWidget"));
    ui->stackedWidget->setStyleSheet(QStringLiteral("QStackedWidget { background: white; }"));
    outer->addWidget(ui->stackedWidget);

    ui->page_download = new QWidget;
    ui->page_download->setObjectName(QStringLiteral("page_download"));
    auto* dl = new QVBoxLayout(ui->page_download);
    auto* sizes = new QHBoxLayout;
    ui->label = new QLabel(ui->page_download);
    ui->label->setObjectName(QStringLiteral("label"));
    ui->file_size = new QLabel(ui->page_download);
    ui->file_size->setObjectName(QStringLiteral("file_size"));
    ui->label_3 = new QLabel(ui->page_download);
    ui->label_3->setObjectName(QStringLiteral("label_3"));
    ui->down_size = new QLabel(ui->page_download);
    ui->down_size->setObjectName(QStringLiteral("down_size"));
    for (QLabel* l : {ui->label, ui->file_size, ui->label_3, ui->down_size}) {
        l->setStyleSheet(QLatin1String(kTextStyle));
        sizes->addWidget(l);
    }
    sizes->addStretch();
    dl->addLayout(sizes);
    ui->progressBar = new QProgressBar(ui->page_download);
    ui->progressBar->setObjectName(QStringLiteral("progressBar"));
    ui->progressBar->setAlignment(Qt::AlignCenter);
    ui->progressBar->setStyleSheet(QStringLiteral(
        "QProgressBar { background: #d8d8d8; border: none; text-align: center; }"
        "QProgressBar::chunk { background: #02c1f8; width: 20px; }"));
    dl->addWidget(ui->progressBar);
    ui->stopButton = new QPushButton(ui->page_download);
    ui->stopButton->setObjectName(QStringLiteral("stopButton"));
    ui->stopButton->setStyleSheet(QLatin1String(kTextStyle));
    auto* stopRow = new QHBoxLayout;
    stopRow->addStretch();
    stopRow->addWidget(ui->stopButton);
    dl->addLayout(stopRow);
    ui->stackedWidget->addWidget(ui->page_download);

    ui->page_log = new QWidget;
    ui->page_log->setObjectName(QStringLiteral("page_log"));
    ui->page_log->setAttribute(Qt::WA_StyledBackground);
    ui->page_log->setStyleSheet(QStringLiteral("#page_log { background: #f6f6f6; }"));
    auto* lg = new QVBoxLayout(ui->page_log);
    ui->LogTextEdit = new QTextEdit(ui->page_log);
    ui->LogTextEdit->setObjectName(QStringLiteral("LogTextEdit"));
    ui->LogTextEdit->setReadOnly(true);
    ui->LogTextEdit->setStyleSheet(QStringLiteral(
        "QTextEdit { background: #eaeaea; font: 9pt \"Microsoft YaHei\"; }"
        "QScrollBar:vertical { width: 15px; background: transparent; }"
        "QScrollBar::handle:vertical { background: #c0c0c0; border-radius: 7px; min-height: 20px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"));
    lg->addWidget(ui->LogTextEdit);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    ui->openButton = new QPushButton(ui->page_log);
    ui->openButton->setObjectName(QStringLiteral("openButton"));
    ui->cancelButton = new QPushButton(ui->page_log);
    ui->cancelButton->setObjectName(QStringLiteral("cancelButton"));
    for (QPushButton* b : {ui->openButton, ui->cancelButton}) {
        b->setStyleSheet(QLatin1String(kTextStyle));
        buttons->addWidget(b);
    }
    lg->addLayout(buttons);
    ui->stackedWidget->addWidget(ui->page_log);

    retranslate();
    QMetaObject::connectSlotsByName(this);
}

void Downloader::retranslate()
{
    setWindowTitle(tr("Dialog"));
    ui->label_12->setText(tr("Update Software"));
    ui->label->setText(tr("File Size："));
    ui->label_3->setText(tr("Down Size："));
    ui->stopButton->setText(tr("Stop"));
    ui->openButton->setText(tr("Open"));
    ui->cancelButton->setText(tr("Cancel"));
}

void Downloader::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    QDialog::changeEvent(event);
}

bool Downloader::isDownloading() const
{
    return m_reply && m_reply->isRunning();
}

QString Downloader::sizeText(qint64 bytes)
{
    if (bytes < 1024)
        return tr("%1 bytes").arg(bytes);
    if (bytes < 1048576)
        return tr("%1 KB").arg(bytes / 1024);
    return tr("%1 MB").arg(bytes / 1048576);
}

void Downloader::setLogPathCN(const QString& path)
{
    m_logPathCN = path;
    emit logPathChanged();
}

void Downloader::setLogPathEN(const QString& path)
{
    m_logPathEN = path;
    emit logPathChanged();
}

void Downloader::startDownload(const QUrl& url)
{
    if (m_reply) {
        // One transfer at a time: a new start replaces the old one without a message.
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    m_reportFailures = true;
    m_filePath.clear();
    m_file.reset();
    m_received = 0;
    ui->progressBar->setValue(0);
    ui->stackedWidget->setCurrentWidget(ui->page_download);
    m_startTime = QDateTime::currentSecsSinceEpoch();
    m_reply = m_manager->get(UpdateServer::fileRequest(url));
    m_reply->setReadBufferSize(ReadBufferBytes);
    UpdateServer::limitReply(m_reply, UpdateServer::MaxInstallerBytes);
    // The body goes to disk as it arrives; an installer may be larger than memory allows.
    connect(m_reply, &QNetworkReply::readyRead, this, [this, reply = m_reply] { writeBody(reply); });
    connect(m_reply, &QNetworkReply::downloadProgress, this, &Downloader::updateProgress);
    connect(m_reply, &QNetworkReply::redirected, this,
            [](const QUrl& to) { QLOG_INFO() << "Update\\Downloader@" << __LINE__ << "redirected to" << to.toString(); });
    connect(m_reply, &QNetworkReply::finished, this, &Downloader::onDownloadFinished);
    show();
}

void Downloader::updateProgress(qlonglong received, qlonglong total)
{
    if (total <= 0)
        return;
    ui->progressBar->setValue(int(qBound<qlonglong>(0, received * 100 / total, 100)));
    calculateSizes(received, total);
}

void Downloader::calculateSizes(qlonglong received, qlonglong total)
{
    ui->file_size->setText(sizeText(total));
    ui->down_size->setText(sizeText(received));
}

void Downloader::onDownloadFinished()
{
    QNetworkReply* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply)
        reply = m_reply;
    if (!reply)
        return;
    // Uncommitted, the file is discarded with its object.
    std::unique_ptr<CheckedWriter> file;
    if (reply == m_reply) {
        writeBody(reply);
        file = std::move(m_file);
        m_reply = nullptr;
    }
    reply->deleteLater();
    // An empty body is no installer, and a cut one would be run: both fail like a broken transfer,
    // and so does one that cannot be kept on disk.
    QString reason;
    if (file && UpdateServer::isGoodReply(reply) && UpdateServer::isWholeBody(reply, m_received)) {
        if (file->commit()) {
            m_filePath = m_filePending;
            reply->close();
            ui->stackedWidget->setCurrentWidget(ui->page_log);
            resize(668, 500);
            return;
        }
        reason = file->errorString();
    }
    QLOG_INFO() << "Update\\Downloader@" << __LINE__ << "download failed:" << reply->errorString() << reason;
    if (m_reportFailures) {
        BrevMessageBox box(-1, this);
        box.setWarningStyle();
        box.setWindowTitle(tr("Down Fail"));
        box.setText(tr("Down Fail"));
        box.addReason(reason);
        box.exec();
    }
    close();
}

void Downloader::writeBody(QNetworkReply* reply)
{
    if (!reply->isOpen())
        return; // aborted
    const QByteArray bytes = reply->readAll();
    if (bytes.isEmpty() || !UpdateServer::isGoodReply(reply))
        return;
    if (!m_file) {
        const QString name = UpdateServer::attachmentName(reply, QStringLiteral("Tarin.exe"));
        m_filePending = Platform::tempFilePath(name);
        m_file.reset(new CheckedWriter(m_filePending));
        m_file->open();
    }
    m_received += bytes.size();
    // A file that cannot be written still lets the transfer end; the end then says why.
    m_file->write(bytes);
}

void Downloader::setLog()
{
    ui->LogTextEdit->clear();
    QString path = m_logPathEN;
    if (AppData::instance()->getLanguage() == 1 && !m_logPathCN.isEmpty() && QFile::exists(m_logPathCN))
        path = m_logPathCN;
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return;
    // Change logs are small; a file beyond the document limit is shown in part.
    qint64 left = UpdateServer::MaxDocumentBytes;
    while (!file.atEnd() && left > 0) {
        const QByteArray line = file.readLine(left + 1);
        left -= line.size();
        ui->LogTextEdit->append(QString::fromUtf8(line.trimmed()));
    }
    ui->LogTextEdit->moveCursor(QTextCursor::Start);
    ui->LogTextEdit->verticalScrollBar()->setValue(0);
}

bool Downloader::askStop()
{
    if (!isDownloading())
        return false;
    BrevMessageBox box(25, this);
    if (box.exec() != 1)
        return false;
    hide();
    m_reportFailures = false;
    if (m_reply)
        m_reply->abort();
    return true;
}

void Downloader::on_stopButton_clicked()
{
    askStop();
}

void Downloader::on_openButton_clicked()
{
    if (m_filePath.isEmpty() || !QFile::exists(m_filePath)) {
        BrevMessageBox box(13, this);
        box.exec();
        return;
    }
    const QUrl url = QUrl::fromLocalFile(m_filePath);
    if (openUrlHook())
        openUrlHook()(url);
    else
        QDesktopServices::openUrl(url);
}

void Downloader::on_cancelButton_clicked()
{
    hide();
}

void Downloader::on_btn_win_close_clicked()
{
    // Cancel on the stop question keeps the download, and with it the dialog that shows it
    // and later offers to open the installer.
    if (isDownloading() && !askStop())
        return;
    hide();
}

void Downloader::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && ui->widget_top->geometry().contains(event->pos(), true)) {
        m_dragging = true;
        m_dragOffset = event->globalPos() - pos();
    }
    QDialog::mousePressEvent(event);
}

void Downloader::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging)
        move(event->globalPos() - m_dragOffset);
    QDialog::mouseMoveEvent(event);
}

void Downloader::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragging = false;
    QDialog::mouseReleaseEvent(event);
}
