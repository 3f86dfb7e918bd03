#include "Update/Firmware/firmwareupdata.h"

#include <QFile>
#include <QTimer>

#include "Thread/PrinterPorts.h"
#include "app/QsLog.h"
#include "platform/Platform.h"

#define FLASH_LOG QLOG_INFO() << "Update\\Firmware\\firmwareupdata" << "@" << __LINE__

using namespace SerialFrame;

firmwareupdata::firmwareupdata(QObject* parent)
    : QObject(parent),
      m_port(new QSerialPort(this)),
      m_portWatch(new QTimer(this)),
      m_replyTimer(new QTimer(this)),
      m_parser(MinFrameSize, MaxReplyLength)
{
    m_replyTimer->setSingleShot(true);
    connect(m_portWatch, &QTimer::timeout, this, &firmwareupdata::reopenAfterReset);
    connect(m_replyTimer, &QTimer::timeout, this, &firmwareupdata::resetReceive);
    connect(m_port, &QSerialPort::readyRead, this, &firmwareupdata::recv);
    connect(m_port, &QSerialPort::errorOccurred, this, &firmwareupdata::onPortError);
}

firmwareupdata::~firmwareupdata() = default;

void firmwareupdata::setBinFile(const QString& path)
{
    m_binFile = path;
    FLASH_LOG << "m_binFile:" << path;
}

QByteArray firmwareupdata::startData(quint32 size, quint16 crc)
{
    QByteArray d;
    d.append(char(size >> 24)).append(char(size >> 16)).append(char(size >> 8)).append(char(size));
    d.append('\x01').append('\x02').append('\x03');
    d.append(char(crc >> 8)).append(char(crc & 0xFF));
    return d;
}

QList<QByteArray> firmwareupdata::cutPackets(const QByteArray& image)
{
    QList<QByteArray> out;
    const qint64 size = image.size();
    out.reserve(int((size + PacketSize - 1) / PacketSize));
    for (qint64 offset = 0; offset < size; offset += PacketSize)
        out << chunkData(quint32(offset / PacketSize), image.mid(int(offset), PacketSize));
    return out;
}

// --- the port ---------------------------------------------------------------------------

bool firmwareupdata::tryOpen(const QString& name)
{
    // The boot loader's port may still be settling right after it appears.
    for (int attempt = 0; attempt < OpenAttempts; ++attempt) {
        m_port->setPortName(name);
        m_port->setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
        m_port->setDataBits(QSerialPort::Data8);
        m_port->setParity(QSerialPort::NoParity);
        m_port->setStopBits(QSerialPort::OneStop);
        m_port->setFlowControl(QSerialPort::NoFlowControl);
        if (m_port->open(QIODevice::ReadWrite)) {
            m_portName = name;
            m_parser.clear();
            return true;
        }
    }
    m_port->setPortName(QString());
    m_portName.clear();
    return false;
}

void firmwareupdata::closePort()
{
    if (!m_port->isOpen())
        return;
    m_port->close();
    m_port->setPortName(QString());
    m_portName.clear();
    m_parser.clear();
    FLASH_LOG << "CloseCom";
}

bool firmwareupdata::openPort(bool sendReset)
{
    closePort();
    m_replyTimer->stop();
    m_step = StepIdle;
    const QStringList names = PrinterPorts::find();
    if (names.isEmpty() || !tryOpen(names.first())) {
        FLASH_LOG << "OpenCom Failed";
        return false;
    }
    m_portWatch->start(Platform::scaledMs(WatchMs));
    FLASH_LOG << "OpenCom Successed";
    if (!sendReset)
        return true;
    // The image is checked before the reset: a bad file must not leave the printer waiting
    // in its boot loader. Reported after the caller has seen the port open.
    if (!readImage()) {
        QTimer::singleShot(0, this, [this] { emit updateError(); });
        return true;
    }
    m_step = StepBootReset;
    sendFrame(KindBootReset);
    return true;
}

void firmwareupdata::stopUpdate()
{
    m_portWatch->stop();
    m_replyTimer->stop();
    m_step = StepIdle;
    closePort();
}

void firmwareupdata::reopenAfterReset()
{
    // The printer re-enumerates when it enters its boot loader: the port may vanish and
    // come back, possibly under another name.
    const QStringList names = PrinterPorts::find();
    if (names.isEmpty()) {
        closePort();
        return;
    }
    if (!m_port->isOpen()) {
        if (tryOpen(names.first()))
            FLASH_LOG << "OpenCom Successed";
        else
            FLASH_LOG << "OpenCom Failed";
        return;
    }
    if (!names.contains(m_portName))
        closePort();
}

void firmwareupdata::onPortError(QSerialPort::SerialPortError error)
{
    // A port that vanished and came back between two watch passes reads as an I/O error
    // on the old descriptor; closing it lets the watch open the new one.
    if ((error == QSerialPort::ResourceError || error == QSerialPort::ReadError) && m_port->isOpen()) {
        FLASH_LOG << "port error" << int(error);
        closePort();
    }
}

void firmwareupdata::send(const QByteArray& bytes)
{
    if (!m_port->isOpen())
        return;
    m_port->write(bytes);
    FLASH_LOG << "send:" << hex(bytes);
}

// --- the image --------------------------------------------------------------------------

bool firmwareupdata::readImage()
{
    m_packets.clear();
    m_packetIndex = 0;
    m_imageSize = 0;
    m_imageCrc = 0;
    QFile file(m_binFile);
    if (!file.open(QIODevice::ReadOnly)) {
        FLASH_LOG << "cannot open the image" << m_binFile;
        return false;
    }
    if (file.size() > MaxImageSize) {
        FLASH_LOG << "image too large" << file.size();
        return false;
    }
    const QByteArray image = file.read(MaxImageSize + 1);
    if (file.error() != QFileDevice::NoError || image.size() > MaxImageSize) {
        FLASH_LOG << "cannot read the image" << m_binFile;
        return false;
    }
    if (image.isEmpty()) {
        FLASH_LOG << "empty image" << m_binFile;
        return false;
    }
    m_imageSize = int(image.size());
    m_imageCrc = crc16Modbus(image);
    m_packets = cutPackets(image);
    m_binFile.clear();
    return true;
}

// --- the exchange -----------------------------------------------------------------------

void firmwareupdata::startReplyTimer(int ms)
{
    m_replyTimer->start(Platform::scaledMs(ms));
}

void firmwareupdata::sendFrame(int kind)
{
    m_replyTimer->stop();
    QByteArray f;
    switch (kind) {
    case KindBootReset:
        f = frame(ReqBootReset);
        startReplyTimer(BootResetMs);
        break;
    case KindStart:
        f = frame(ReqControl, startData(quint32(m_imageSize), m_imageCrc));
        startReplyTimer(StartMs);
        break;
    case KindData:
        if (m_packetIndex < 0 || m_packetIndex >= m_packets.size())
            return;
        f = frame(ReqChunk, m_packets.at(m_packetIndex));
        startReplyTimer(DataMs);
        break;
    default:
        return;
    }
    send(f);
}

void firmwareupdata::recv()
{
    const QByteArray bytes = m_port->readAll();
    if (bytes.isEmpty())
        return;
    FLASH_LOG << "recv:" << hex(bytes);
    m_parser.append(bytes);
    Frame f;
    while (m_parser.next(&f)) {
        if (handleReply(f)) {
            // Answered: whatever follows belongs to no request that is still open.
            m_parser.clear();
            break;
        }
    }
}

void firmwareupdata::classifyReply(const Frame& f, int* kindOut, int* statusOut)
{
    int kind = KindNone;
    int status = StatusNone;
    const int byte = f.data.isEmpty() ? -1 : int(quint8(f.data.at(0)));
    switch (f.command) {
    case RepBootReset:
        kind = KindBootReset;
        status = byte == 0 ? StatusOk : byte == 1 ? StatusError : StatusNone;
        break;
    case RepResult:
        kind = KindStart;
        status = byte == 0 ? StatusOk : byte == 1 ? StatusError : StatusNone;
        break;
    case RepChunkAck:
        kind = KindData;
        status = byte == 0 ? StatusOk : byte == 1 ? StatusSendAgain : byte == 2 ? StatusError : StatusNone;
        break;
    default:
        break;
    }
    *kindOut = kind;
    *statusOut = status;
}

bool firmwareupdata::handleReply(const Frame& f)
{
    int kind = KindNone;
    int status = StatusNone;
    classifyReply(f, &kind, &status);
    const int byte = f.data.isEmpty() ? -1 : int(quint8(f.data.at(0)));
    // A reply that does not answer the open request is ignored; its time-out still runs.
    if (m_step == StepIdle || kind != m_step || status == StatusNone) {
        FLASH_LOG << "ignored reply" << f.command << byte << "in step" << m_step;
        return false;
    }

    switch (m_step) {
    case StepBootReset:
        m_replyTimer->stop();
        if (status == StatusOk) {
            FLASH_LOG << "Boot Reset OK";
            m_step = StepStart;
            sendFrame(KindStart);
        } else {
            FLASH_LOG << "Boot Reset NG";
            fail();
        }
        break;
    case StepStart:
        m_replyTimer->stop();
        if (status == StatusOk) {
            m_packetIndex = 0;
            m_retries = 0;
            m_sendAgain = 0;
            m_step = StepData;
            sendFrame(KindData);
        } else {
            fail();
        }
        break;
    case StepData:
        m_replyTimer->stop();
        if (status == StatusOk) {
            m_retries = 0;
            m_sendAgain = 0;
            ++m_packetIndex;
            const qint64 count = m_packets.size();
            if (m_packetIndex < count) {
                emit updateProgress(double(qint64(m_packetIndex) * 100 / count));
                sendFrame(KindData);
            } else {
                m_step = StepIdle;
                emit updateProgress(100.0);
            }
        } else if (status == StatusSendAgain) {
            if (++m_sendAgain > MaxSendAgain) {
                FLASH_LOG << "packet" << m_packetIndex << "asked for too often";
                fail();
            } else {
                sendFrame(KindData);
            }
        } else {
            fail();
        }
        break;
    default:
        break;
    }
    return true;
}

void firmwareupdata::fail()
{
    m_replyTimer->stop();
    m_step = StepIdle;
    emit updateError();
}

void firmwareupdata::resetReceive()
{
    m_replyTimer->stop();
    m_parser.clear();
    switch (m_step) {
    case StepData:
        if (m_retries < MaxTimeoutResends) {
            ++m_retries;
            FLASH_LOG << "no answer, packet" << m_packetIndex << "again";
            sendFrame(KindData);
        } else {
            fail();
        }
        break;
    default:
        fail();
        break;
    }
}
