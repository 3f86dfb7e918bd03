#include "UI/UpdateFirmware.h"

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTextCursor>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include "Thread/CommunicateThread.h"
#include "Thread/ThreadPool.h"
#include "UI/BrevMessageBox.h"
#include "Update/Firmware/firmwareupdata.h"
#include "Update/UpdateServer.h"
#include "platform/Platform.h"
#include "scene/AppData.h"

namespace {

constexpr int SuccessWaitMs = 3000;

const char* const kLogStyle = "QTextEdit { background: white; border: 1px solid #dbedf5; }";

} // namespace

UpdateFirmware::UpdateFirmware(QWidget* parent)
    : QDialog(parent, Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint)
    , ui(new Form)
    , m_storeDir(AppData::instance()->getAppDir() + "/firmware")
    , m_flasher(new firmwareupdata(nullptr))
    , m_successTimer(new QTimer(this))
{
    setupForm();
    ui->Fireware_combobox->clear();
    ui->Firewaregenre_combobox->clear();
    ui->log_textEdit->clear();
    fillFamilies();
    ui->progressBar->hide();
    ui->update_label->hide();

    connect(m_flasher, &firmwareupdata::updateProgress, this, &UpdateFirmware::onProgressChanged);
    connect(m_successTimer, &QTimer::timeout, this, &UpdateFirmware::timerOut);
    connect(m_flasher, &firmwareupdata::updateError, this, &UpdateFirmware::updateError);
    if (ThreadPool* pool = ThreadPool::instance())
        setLink(pool->linkWorker());

    for (QComboBox* box : {ui->Firewaregenre_combobox, ui->Fireware_combobox}) {
        if (QStyle* style = QStyleFactory::create(QStringLiteral("windowsvista"))) {
            style->setParent(box);
            box->setStyle(style);
        }
    }
}

UpdateFirmware::~UpdateFirmware()
{
    m_flasher->stopUpdate();
    delete m_flasher;
    delete ui;
}

void UpdateFirmware::setupForm()
{
    setObjectName(QStringLiteral("UpdateFirmware"));
    setStyleSheet(QStringLiteral("#UpdateFirmware { border: 1px solid #54c8ea; background: white; }"));
    resize(460, 480);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(1, 1, 1, 1);

    ui->widget_top = new QWidget(this);
    ui->widget_top->setObjectName(QStringLiteral("widget_top"));
    ui->widget_top->setFixedHeight(42);
    auto* top = new QHBoxLayout(ui->widget_top);
    top->setContentsMargins(10, 0, 0, 0);
    ui->label_12 = new QLabel(ui->widget_top);
    ui->label_12->setObjectName(QStringLiteral("label_12"));
    ui->btn_win_close = new QPushButton(ui->widget_top);
    ui->btn_win_close->setObjectName(QStringLiteral("btn_win_close"));
    ui->btn_win_close->setFixedSize(38, 41);
    // The dialogs' close sprite: four 30 px frames side by side (normal, hover, pressed, disabled).
    ui->btn_win_close->setStyleSheet(QStringLiteral(
        "QPushButton { border-image: url(:/new/sclose) 0 90 0 0; border: none; }"
        "QPushButton:hover { border-image: url(:/new/sclose) 0 60 0 30; }"
        "QPushButton:pressed { border-image: url(:/new/sclose) 0 30 0 60; }"
        "QPushButton:disabled { border-image: url(:/new/sclose) 0 0 0 90; }"));
    top->addWidget(ui->label_12);
    top->addStretch();
    top->addWidget(ui->btn_win_close);
    outer->addWidget(ui->widget_top);

    auto* grid = new QGridLayout;
    grid->setContentsMargins(16, 10, 16, 4);
    auto label = [this](const char* name, int width = 0) {
        auto* l = new QLabel(this);
        l->setObjectName(QLatin1String(name));
        if (width)
            l->setFixedWidth(width);
        return l;
    };
    ui->label_2 = label("label_2", 100);
    ui->Firewaregenre_combobox = new QComboBox(this);
    ui->Firewaregenre_combobox->setObjectName(QStringLiteral("Firewaregenre_combobox"));
    ui->label_3 = label("label_3");
    ui->snum = label("snum");
    ui->snum->setMinimumWidth(50);
    ui->snum->setMaximumWidth(180);
    ui->label_5 = label("label_5");
    ui->mac = label("mac");
    ui->label_4 = label("label_4");
    ui->versionnum = label("versionnum");
    ui->label = label("label", 100);
    ui->Fireware_combobox = new QComboBox(this);
    ui->Fireware_combobox->setObjectName(QStringLiteral("Fireware_combobox"));
    grid->addWidget(ui->label_2, 0, 0);
    grid->addWidget(ui->Firewaregenre_combobox, 0, 1);
    grid->addWidget(ui->label_3, 1, 0);
    grid->addWidget(ui->snum, 1, 1);
    grid->addWidget(ui->label_5, 2, 0);
    grid->addWidget(ui->mac, 2, 1);
    grid->addWidget(ui->label_4, 3, 0);
    grid->addWidget(ui->versionnum, 3, 1);
    grid->addWidget(ui->label, 4, 0);
    grid->addWidget(ui->Fireware_combobox, 4, 1);
    outer->addLayout(grid);

    ui->log_textEdit = new QTextEdit(this);
    ui->log_textEdit->setObjectName(QStringLiteral("log_textEdit"));
    ui->log_textEdit->setReadOnly(true);
    ui->log_textEdit->setFixedHeight(160);
    ui->log_textEdit->setStyleSheet(QLatin1String(kLogStyle));
    ui->progressBar = new QProgressBar(this);
    ui->progressBar->setObjectName(QStringLiteral("progressBar"));
    ui->progressBar->setStyleSheet(QStringLiteral("QProgressBar::chunk { background: #02c1f8; }"));
    ui->update_label = label("update_label");
    auto* body = new QVBoxLayout;
    body->setContentsMargins(16, 0, 16, 10);
    body->addWidget(ui->log_textEdit);
    body->addWidget(ui->progressBar);
    body->addWidget(ui->update_label);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    ui->update_pushButton = new QPushButton(this);
    ui->update_pushButton->setObjectName(QStringLiteral("update_pushButton"));
    ui->cancel_pushButton = new QPushButton(this);
    ui->cancel_pushButton->setObjectName(QStringLiteral("cancel_pushButton"));
    for (QPushButton* b : {ui->update_pushButton, ui->cancel_pushButton}) {
        b->setFixedSize(90, 30);
        buttons->addWidget(b);
    }
    body->addLayout(buttons);
    outer->addLayout(body);

    retranslate();
    QMetaObject::connectSlotsByName(this);
}

void UpdateFirmware::retranslate()
{
    setWindowTitle(tr("Dialog"));
    ui->label_12->setText(tr("Machine information"));
    ui->label_2->setText(tr("Machine Type："));
    ui->label_3->setText(tr("Sequence number："));
    ui->label_5->setText(tr("Machine mac:"));
    ui->label_4->setText(tr("Firmware version:"));
    ui->label->setText(tr("Select Firmware："));
    ui->update_label->setText(tr("Update Firmware..."));
    ui->update_pushButton->setText(tr("Update"));
    ui->cancel_pushButton->setText(tr("Quit"));
}

void UpdateFirmware::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    QDialog::changeEvent(event);
}

void UpdateFirmware::setLink(CommunicateThread* link)
{
    disconnect(m_serialConnection);
    disconnect(m_stopConnection);
    disconnect(m_detectConnection);
    m_link = link;
    if (!link)
        return;
    m_serialConnection = connect(link, &CommunicateThread::signSerialNumber, this,
                                 &UpdateFirmware::MachineSerialNumber, Qt::QueuedConnection);
    // The link must have let go of the port before the flasher takes it; blocking on a
    // link that lives on this very thread would never return, so that one is called direct.
    const Qt::ConnectionType type =
        link->thread() == thread() ? Qt::DirectConnection : Qt::BlockingQueuedConnection;
    m_stopConnection = connect(this, &UpdateFirmware::startUpdate, link, &CommunicateThread::stop, type);
    m_detectConnection =
        connect(this, &UpdateFirmware::startSerialdetection, link, &CommunicateThread::startSerialdetection, type);
}

bool UpdateFirmware::linkIdle() const
{
    return !m_link || m_link->isIdle();
}

QString UpdateFirmware::machineFirmwareName()
{
    switch (AppData::instance()->getChoiceType()) {
    case 1:
        ui->snum->clear();
        ui->versionnum->clear();
        return QStringLiteral("PX5");
    case 2:
        return QStringLiteral("PX6");
    case 3:
        return QStringLiteral("PX6-H");
    default:
        return QString();
    }
}

void UpdateFirmware::fillFamilies()
{
    const QStringList folders = QDir(m_storeDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    ui->Firewaregenre_combobox->addItems(folders);
}

int UpdateFirmware::exec()
{
    if (isVisible())
        return 0;
    ui->Firewaregenre_combobox->clear();
    ui->Firewaregenre_combobox->addItem(machineFirmwareName());
    ui->Firewaregenre_combobox->setCurrentIndex(0);
    // Filled here too: the index signal does not fire when the text is unchanged.
    on_Firewaregenre_combobox_currentIndexChanged(ui->Firewaregenre_combobox->currentText());
    ui->cancel_pushButton->setFocus();
    ui->update_pushButton->setEnabled(!ui->Fireware_combobox->currentText().isEmpty());
    return QDialog::exec();
}

void UpdateFirmware::on_Firewaregenre_combobox_currentIndexChanged(const QString& family)
{
    const QSignalBlocker block(ui->Fireware_combobox);
    ui->Fireware_combobox->clear();
    ui->log_textEdit->clear();
    m_chosenPath.clear();
    // An empty family lists the images lying in the store folder itself.
    const QDir dir(family.isEmpty() ? m_storeDir : m_storeDir + "/" + family);
    QStringList images = UpdateServer::imagesByVersion(dir.path());
    std::reverse(images.begin(), images.end());
    ui->Fireware_combobox->addItems(images);
    if (!images.isEmpty()) {
        ui->Fireware_combobox->setCurrentIndex(0);
        on_Fireware_combobox_currentIndexChanged(images.first());
    }
}

void UpdateFirmware::on_Fireware_combobox_currentIndexChanged(const QString& name)
{
    ui->log_textEdit->clear();
    if (name.isEmpty()) {
        m_chosenPath.clear();
        return;
    }
    m_chosenPath = m_storeDir + "/" + ui->Firewaregenre_combobox->currentText() + "/" + name;
    m_language = AppData::instance()->getLanguage();
    const QString logPath = m_chosenPath.left(m_chosenPath.size() - 4) + (m_language == 1 ? "_CN.log" : "_EN.log");
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // Change logs are a few lines; a runaway file is shown in part.
    qint64 left = 1024 * 1024;
    while (!file.atEnd() && left > 0) {
        const QByteArray line = file.readLine(left + 1);
        left -= line.size();
        ui->log_textEdit->append(QString::fromUtf8(line.trimmed()));
    }
    ui->log_textEdit->moveCursor(QTextCursor::Start);
    ui->log_textEdit->setStyleSheet(QLatin1String(kLogStyle));
}

void UpdateFirmware::setBusy(bool busy)
{
    m_flashing = busy;
    ui->update_pushButton->setEnabled(!busy);
    ui->cancel_pushButton->setEnabled(!busy);
    ui->btn_win_close->setEnabled(!busy);
    ui->progressBar->setVisible(busy);
    ui->update_label->setVisible(busy);
}

void UpdateFirmware::on_update_pushButton_clicked()
{
    if (!linkIdle()) {
        BrevMessageBox box(24, this);
        box.exec();
        return;
    }
    emit startUpdate();
    m_flasher->setBinFile(m_chosenPath);
    if (m_flasher->openPort(true)) {
        ui->progressBar->setValue(0);
        setBusy(true);
        return;
    }
    emit startSerialdetection();
    BrevMessageBox box(ErrConnectionLost, this);
    box.exec();
}

void UpdateFirmware::onProgressChanged(double progress)
{
    ui->progressBar->setValue(int(progress));
    if (progress == 100.0) {
        m_successTimer->start(Platform::scaledMs(SuccessWaitMs));
        m_flasher->stopUpdate();
        ui->update_label->show();
    }
}

void UpdateFirmware::timerOut()
{
    m_successTimer->stop();
    setBusy(false);
    BrevMessageBox box(49, this);
    box.exec();
    emit startSerialdetection();
}

void UpdateFirmware::updateError()
{
    setBusy(false);
    m_flasher->stopUpdate();
    BrevMessageBox box(26, this);
    box.exec();
    emit startSerialdetection();
}

void UpdateFirmware::MachineSerialNumber(QString snum, QString version, QString mac)
{
    ui->snum->setText(snum);
    ui->versionnum->setText(version);
    ui->mac->setText(mac);
}

void UpdateFirmware::on_cancel_pushButton_clicked()
{
    if (!m_flashing)
        hide();
}

void UpdateFirmware::on_btn_win_close_clicked()
{
    if (!m_flashing)
        hide();
}

void UpdateFirmware::reject()
{
    if (!m_flashing)
        QDialog::reject();
}

void UpdateFirmware::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && ui->widget_top->geometry().contains(event->pos(), true)) {
        m_dragging = true;
        m_dragOffset = event->globalPos() - pos();
    }
    QDialog::mousePressEvent(event);
}

void UpdateFirmware::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging)
        move(event->globalPos() - m_dragOffset);
    QDialog::mouseMoveEvent(event);
}

void UpdateFirmware::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragging = false;
    QDialog::mouseReleaseEvent(event);
}
