#include "Thread/CommunicateThread.h"

#include "Thread/PrinterPorts.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTimer>

#ifdef Q_OS_LINUX
#include <sys/stat.h>
#endif

#include "app/QsLog.h"
#include "platform/Platform.h"

#define LINK_LOG QLOG_INFO() << "Thread\\CommunicateThread" << "@" << __LINE__

namespace {

Q_LOGGING_CATEGORY(lcLink, "tarni.link", QtWarningMsg)

constexpr int DetectionMs = 300;
constexpr int HandshakeMs = 3000;
constexpr int TryAgainMs = 1000;
constexpr int HeartbeatMs = 1000;
constexpr int ProgressMs = 100;
constexpr int RequestMs = 3000;
constexpr int ChunkMs = 1000;
constexpr int LongMs = 300000;
constexpr int PauseMs = 60000;
constexpr int LevelingMs = 20000;
constexpr int PX6LevelingMs = 120000;
constexpr int TrayStopMs = 20000;
constexpr int MaxRetries = 3;
constexpr int RescanTicks = 30;
constexpr int MissedHeartbeats = 3;
// Printer replies are short; a longer length field is a false preamble, not a frame.
constexpr int MaxReplyLength = 1024;
constexpr int MinReplyBytes = 8;


} // namespace

CommunicateThread::CommunicateThread(QObject* parent)
    : QObject(parent),
      m_port(new QSerialPort(this)),
      m_detectionTimer(new QTimer(this)),
      m_operationTimer(new QTimer(this)),
      m_heartTimer(new QTimer(this)),
      m_sendBVTTimer(new QTimer(this)),
      m_recvData(MinReplyBytes, MaxReplyLength)
{
    m_operationTimer->setSingleShot(true);
    connect(m_detectionTimer, &QTimer::timeout, this, &CommunicateThread::serialdetection);
    connect(m_operationTimer, &QTimer::timeout, this, &CommunicateThread::timerOut);
    connect(m_heartTimer, &QTimer::timeout, this, &CommunicateThread::heartTimerOut);
    connect(m_sendBVTTimer, &QTimer::timeout, this, &CommunicateThread::sendBVTTimerOut);
    connect(m_port, &QSerialPort::readyRead, this, &CommunicateThread::fromComRead);
}

CommunicateThread::~CommunicateThread() = default;

quint16 CommunicateThread::crc16Modbus(const QByteArray& bytes)
{
    return SerialFrame::crc16Modbus(bytes);
}

QByteArray CommunicateThread::packFrame(const QByteArray& payload)
{
    return SerialFrame::packFrame(payload);
}

bool CommunicateThread::isIdle() const
{
    // Before the link answer the printer is not linked: it may sit in its boot loader after a
    // failed flash, and only a flash can bring it back.
    const int s = m_state.load();
    return s <= StateLinkRequest || (s == StateReady && !m_paused.load());
}

// --- sending and receiving ------------------------------------------------------------

void CommunicateThread::sendCommand(int code, const QByteArray& data)
{
    const QByteArray frame = SerialFrame::packFrame(SerialFrame::commandPayload(code, data));
    if (frame.size() < 20) {
        LINK_LOG << "send:" << SerialFrame::hex(frame);
    }
    if (m_port->isOpen())
        m_port->write(frame);
}

void CommunicateThread::fromComRead()
{
    const QByteArray bytes = m_port->readAll();
    LINK_LOG << "receive:" << SerialFrame::hex(bytes);
    if (bytes.isEmpty())
        return;
    m_recvData.append(bytes);
    if (!parseFrames())
        return;
    switch (m_state.load()) {
    case StateHandshake:
    case StateLinkRequest:
        handleLinkBatch();
        break;
    case StateSending:
        sendFileChunk();
        break;
    case StatePrinting:
        handlePrintBatch();
        break;
    case StateLeveling:
        handleLevelingBatch();
        break;
    case StateFeeding:
    case StateReturning:
    case StateStoppingFeed:
    case StateStoppingReturn:
        handleTrayBatch();
        break;
    default:
        break;
    }
}

bool CommunicateThread::parseFrames()
{
    m_resultFlag = m_chunkAckFlag = m_levelingAckFlag = 0;
    m_levelingResultFlag = m_settingFlag = m_linkAnswerFlag = 0;
    m_freeSpace = -1;
    bool consumed = false;
    SerialFrame::Frame frame;
    while (true) {
        if (lcLink().isDebugEnabled())
            qCDebug(lcLink) << "m_recvData =" << m_recvData.pending().left(64).toHex();
        if (!m_recvData.next(&frame))
            break;
        consumed = true;
        dispatchFrame(frame);
    }
    return consumed;
}

void CommunicateThread::dispatchFrame(const SerialFrame::Frame& frame)
{
    using namespace SerialFrame;
    switch (frame.command) {
    case RepResult:
        m_resultFlag = replyFlag(frame.data, 3);
        break;
    case RepStatus:
        handleStatusReply(frame.data);
        break;
    case RepMachineInfo:
        handleMachineInfo(frame.data);
        break;
    case RepChunkAck:
        m_chunkAckFlag = replyFlag(frame.data, 1);
        break;
    case RepFreeSpace: {
        quint32 kib = 0;
        if (decodeFreeSpace(frame.data, &kib)) {
            m_freeSpace = kib;
            LINK_LOG << "SD:" << kib;
        }
        break;
    }
    case RepLinkAnswer:
        m_linkAnswerFlag = replyFlag(frame.data, 2);
        break;
    case RepLevelingAck:
        m_levelingAckFlag = replyFlag(frame.data, 1);
        break;
    case RepLevelingResult:
        m_levelingResultFlag = replyFlag(frame.data, 1);
        break;
    case RepSetting:
        m_settingFlag = replyFlag(frame.data, 1);
        if (m_settingFlag == 1)
            emit setSuccess();
        break;
    default:
        break; // 0x16 and unknown commands: consumed without effect
    }
}

void CommunicateThread::handleMachineInfo(const QByteArray& data)
{
    const SerialFrame::MachineInfo info = SerialFrame::decodeMachineInfo(data);
    if (info.machineType != 0)
        m_machineType = info.machineType;
    if (!info.hasDetails)
        return;
    if (m_machineType == ChoicePX6A || m_machineType == ChoicePX6B)
        emit signDoorActive(info.doorActive);
    if (info.hasLevelingData)
        emit signLevelingData(info.levelingData);
    emit signSerialNumber(info.serialNumber, info.version, info.mac);
}

// --- link set-up, heartbeat, status ---------------------------------------------------

void CommunicateThread::startSerialdetection()
{
    m_detectionTimer->start(Platform::scaledMs(DetectionMs));
}

void CommunicateThread::stop()
{
    m_detectionTimer->stop();
    closePort();
}

QString CommunicateThread::scannedMakerPort()
{
#ifdef Q_OS_LINUX
    struct stat st {};
    const qint64 stamp = ::stat("/dev", &st) == 0 ? qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec : -2;
    if (stamp != -2 && stamp == m_deviceStamp && ++m_ticksSinceScan < RescanTicks)
        return m_scannedPort;
    m_deviceStamp = stamp;
    m_ticksSinceScan = 0;
#endif
    const QStringList ports = PrinterPorts::makerPorts();
    m_scannedPort = ports.isEmpty() ? QString() : ports.first();
    return m_scannedPort;
}

void CommunicateThread::serialdetection()
{
    QString found = scannedMakerPort();
    if (found.isEmpty())
        found = PrinterPorts::firstExtraPort();

    if (found.isEmpty()) {
        if (m_port->isOpen())
            onPortVanished();
        return;
    }
    if (m_port->isOpen()) {
        // Names are compared whole: ttyACM10 must not pass for ttyACM1.
        if (m_portName != found)
            onPortVanished();
        return;
    }
    m_port->setPortName(found);
    m_port->setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    if (!m_port->open(QIODevice::ReadWrite))
        return;
    m_portName = found;
    m_recvData.clear();
    setState(StateHandshake);
    startOperationTimer(HandshakeMs);
    sendCommand(SerialFrame::ReqHandshake);
}

void CommunicateThread::handleLinkBatch()
{
    if (m_state.load() == StateHandshake) {
        if (m_machineType < ChoicePX5 || m_machineType > ChoicePX6B)
            return;
        emit signMachineType(ChoiceType(m_machineType));
        setState(StateLinkRequest);
        startOperationTimer(HandshakeMs);
        sendCommand(SerialFrame::ReqLink);
        return;
    }
    switch (m_linkAnswerFlag) {
    case 1:
        m_repeatLinkRequest = false;
        sendQuery();
        emit linkStatus(true);
        break;
    case 2:
        m_repeatLinkRequest = false;
        m_detectionTimer->stop();
        closePort();
        emit signUpdate();
        break;
    case 3:
        m_repeatLinkRequest = true;
        startOperationTimer(TryAgainMs);
        break;
    default:
        break;
    }
}

void CommunicateThread::sendQuery()
{
    m_operationTimer->stop();
    m_chunks.clear();
    m_sendBVTTimer->stop();
    m_RecvMsg.retryTime = 0;
    m_chunkRetry = 0;
    m_statusArrived = false;
    m_awaitingPrinter = false;
    setState(StateReady);
    m_heartTimer->start(Platform::scaledMs(HeartbeatMs));
    sendCommand(SerialFrame::ReqStatus);
}

void CommunicateThread::heartTimerOut()
{
    switch (m_state.load()) {
    case StateReady:
    case StatePrinting:
    case StateFeeding:
    case StateReturning:
    case StateStoppingFeed:
    case StateStoppingReturn:
        break;
    default:
        return;
    }
    if (!m_statusArrived) {
        ++m_RecvMsg.retryTime;
        LINK_LOG << "m_RecvMsg.retryTime:" << m_RecvMsg.retryTime;
        if (m_RecvMsg.retryTime >= MissedHeartbeats) {
            closePort();
            emit errorMessage(ErrConnectionLost);
            emit signTrayStatus(TrayReset);
            return;
        }
    }
    m_statusArrived = false;
    sendCommand(SerialFrame::ReqStatus);
}

void CommunicateThread::emitPrintStatus()
{
    m_paused.store(m_printStatus.paused);
    emit signPrintStatus(m_printStatus);
}

void CommunicateThread::handleStatusReply(const QByteArray& data)
{
    SerialFrame::StatusReply s;
    if (!SerialFrame::decodeStatus(data, &s))
        return; // too short to be a status block
    m_statusArrived = true;
    m_RecvMsg.retryTime = 0;
    if (s.statusCode >= 1 && s.statusCode <= 18)
        emitError(s.statusCode + 11);

    m_nozzleTemp = s.nozzleTemp > 500 ? -1 : s.nozzleTemp;
    m_bedTemp = s.bedTemp > 100 ? -1 : s.bedTemp;
    m_progress = qMin(s.progress, 10000);
    m_printStatus.nozzleTemp = m_nozzleTemp;
    m_printStatus.bedTemp = m_bedTemp;
    m_printStatus.progress = m_progress;

    m_prevPrinterState = m_printerState;
    const int state = m_state.load();
    if (s.printerState >= 1 && s.printerState <= 4)
        m_awaitingPrinter = false;
    switch (s.printerState) {
    case 1:
        m_printerState = StatePrinting;
        if (state != StatePrinting) {
            setState(StatePrinting);
            m_printRequest = ReqNone;
            m_printStatus.paused = false;
            m_printStatus.ended = false;
            emitPrintStatus();
        }
        break;
    case 2:
        m_printerState = StateSending;
        if (state == StateSending && m_transferPhase == PhaseConfirm)
            m_confirmIdle = 0;
        if (state != StateSending) {
            // A transfer this link did not start: the transfer step stops it.
            setState(StateSending);
            m_transferPhase = PhaseForeign;
            m_heartTimer->stop();
        }
        break;
    case 3:
        m_printerState = StateLeveling;
        if (state != StateLeveling) {
            if (m_machineType == ChoicePX5) {
                emit signPX5_1LevelingStatus(PX5_1Started);
                m_levelingPhase = 1;
            } else if (m_machineType == ChoicePX6A || m_machineType == ChoicePX6B) {
                startOperationTimer(LongMs);
                emit signPX6LevelingStatus(PX6LevelingStatus::PX6Leveling);
                m_levelingPhase = 3;
            }
            setState(StateLeveling);
            m_heartTimer->stop();
        }
        break;
    case 4: {
        int mapped = 0;
        int request = 0;
        int timeoutMs = LongMs;
        TrayStaus report = TrayReset;
        switch (s.traySubState) {
        case 0: mapped = StateFeeding; request = 0; timeoutMs = LongMs; report = TrayFeeding; break;
        case 1: mapped = StateReturning; request = 0; timeoutMs = LongMs; report = TrayReturning; break;
        case 2: mapped = StateStoppingFeed; request = 1; timeoutMs = TrayStopMs; report = TrayStoppingFeed; break;
        case 3: mapped = StateStoppingReturn; request = 1; timeoutMs = TrayStopMs; report = TrayStoppingReturn; break;
        default: break;
        }
        if (mapped == 0)
            break;
        m_printerState = mapped;
        m_trayRequest = request;
        if (state != mapped) {
            startOperationTimer(timeoutMs);
            emit signTrayStatus(report);
            setState(mapped);
        }
        break;
    }
    default: {
        m_printerState = StateReady;
        const int reason = s.pauseByte & 0x7F;
        const bool paused = (s.pauseByte & 0x80) && (reason == 0 || reason == 2 || reason == 3);
        if (paused && reason == 2 && m_prevPrinterState == StatePrinting)
            emitError(ErrDoorOpen);
        if (paused && reason == 3)
            emitError(ErrNoMaterial);
        if (paused != m_printStatus.paused) {
            m_printStatus.paused = paused;
            if (!paused)
                m_printStatus.ended = true;
            emitPrintStatus();
        } else if (!m_printStatus.paused && !m_printStatus.ended) {
            m_printStatus.ended = true;
            emitPrintStatus();
        }
        const bool confirming = state == StateSending && m_transferPhase == PhaseConfirm;
        if (confirming) {
            m_confirmIdle = 1; // the free-space reply behind it decides
        } else if (state == StateSending && m_transferPhase >= PhaseChunks && !m_bvtStatus.finished
                   && !m_bvtStatus.failed) {
            // The printer gave up the file it was receiving.
            m_bvtStatus.failed = true;
            emit sendBVTStatusChanged(m_bvtStatus);
        }
        // Before the printer has accepted the announcement it still reports idle, and a
        // reply to a query sent just before the transfer may arrive late: not an end.
        const bool transferStarting = state == StateSending
            && (m_transferPhase == PhaseFreeSpace || m_transferPhase == PhaseAnnounce);
        if (state != StateReady && !transferStarting && !confirming && !m_awaitingPrinter)
            sendQuery();
        break;
    }
    }
    if (m_printStatus.paused)
        emitPrintStatus();
}

void CommunicateThread::emitError(int code)
{
    if (code >= 1 && code <= 9) {
        emit errorMessage(Error(code));
    } else {
        if (code == m_lastError)
            return;
        m_lastError = code;
        emit errorMessage(Error(code));
    }
    emit signTrayStatus(TrayReset);
}

void CommunicateThread::setState(int state)
{
    m_state.store(state);
    m_lastError = 0;
}

void CommunicateThread::startOperationTimer(int ms)
{
    m_operationTimer->start(Platform::scaledMs(ms));
}

void CommunicateThread::timerOut()
{
    m_operationTimer->stop();
    switch (m_state.load()) {
    case StateHandshake:
        closePort();
        break;
    case StateLinkRequest:
        if (m_repeatLinkRequest) {
            startOperationTimer(TryAgainMs);
            sendCommand(SerialFrame::ReqLink);
        } else {
            closePort();
        }
        break;
    case StateSending:
        switch (m_transferPhase) {
        case PhaseFreeSpace:
        case PhaseAnnounce:
        case PhaseStop:
            failTransfer(ErrTransfer);
            break;
        case PhaseChunks:
            if (m_bvtStatus.sentChunks >= m_chunks.size())
                confirmLastChunk();
            else
                resendChunk();
            break;
        case PhaseConfirm:
            resendChunk();
            break;
        default:
            break;
        }
        break;
    case StatePrinting:
        sendQuery();
        break;
    case StateLeveling:
        emitError(ErrLeveling);
        failLeveling();
        break;
    case StateFeeding:
    case StateReturning:
        emitError(ErrTray);
        sendQuery();
        break;
    default:
        break;
    }
}

bool CommunicateThread::transferRunning() const
{
    return m_state.load() == StateSending && m_transferPhase != PhaseForeign && !m_bvtStatus.finished
        && !m_bvtStatus.failed;
}

// The printer was unplugged (or came back under another name): a file on its way has not
// arrived, and the user is told so. A port closed on request ends a transfer quietly.
void CommunicateThread::onPortVanished()
{
    if (transferRunning())
        emitError(ErrTransfer);
    closePort();
}

void CommunicateThread::closePort()
{
    if (m_port->isOpen()) {
        m_port->clear(QSerialPort::AllDirections);
        m_port->close();
    }
    LINK_LOG << "close Com";
    if (transferRunning()) {
        // A transfer cut off by the port going away has failed.
        m_bvtStatus.failed = true;
        emit sendBVTStatusChanged(m_bvtStatus);
    }
    m_portName.clear();
    m_printerState = m_prevPrinterState = 0;
    m_nozzleTemp = m_bedTemp = -1;
    m_progress = -1;
    m_RecvMsg.retryTime = 0;
    m_chunkRetry = 0;
    m_statusArrived = m_repeatLinkRequest = m_awaitingPrinter = false;
    m_machineType = 0;
    m_freeSpace = 0;
    m_resultFlag = m_chunkAckFlag = m_levelingAckFlag = 0;
    m_levelingResultFlag = m_settingFlag = m_linkAnswerFlag = 0;
    m_lastError = 0;
    m_heartTimer->stop();
    m_operationTimer->stop();
    m_sendBVTTimer->stop();
    m_chunks.clear();
    m_recvData.clear();
    m_printStatus = SendPrintStatus();
    m_paused.store(false);
    m_state.store(StateNone);
    emit linkStatus(false);
}

// --- transfer -------------------------------------------------------------------------

void CommunicateThread::sendBVTTimerOut()
{
    emit sendBVTStatusChanged(m_bvtStatus);
}

void CommunicateThread::BVTProcessing(QString path)
{
    m_bvtStatus = SendBVTStatus();
    m_bvtStatus.path = path;
    emit sendBVTStatusChanged(m_bvtStatus);
    m_sendBVTTimer->start(Platform::scaledMs(ProgressMs));
    m_chunks.clear();

    QFile file(path);
    // The announced size is 32 bits: a larger file cannot be sent.
    if (!file.open(QIODevice::ReadOnly) || file.size() > qint64(0xFFFFFFFFu)) {
        emit errorMessage(ErrFileOpen);
        emit signTrayStatus(TrayReset);
        m_bvtStatus.failed = true;
        emit sendBVTStatusChanged(m_bvtStatus);
        sendQuery();
        return;
    }
    const qint64 size = file.size();
    m_chunks.reserve(int(size / SerialFrame::ChunkDataSize) + 1);
    quint32 number = 0;
    qint64 read = 0;
    while (true) {
        const QByteArray bytes = file.read(SerialFrame::ChunkDataSize);
        read += bytes.size();
        m_chunks.append(SerialFrame::chunkData(number++, bytes));
        if (bytes.size() < SerialFrame::ChunkDataSize)
            break;
    }
    file.close();
    m_fileSize = read;

    setState(StateSending);
    m_transferPhase = PhaseFreeSpace;
    m_freeBefore = -1;
    m_chunkRetry = 0;
    startOperationTimer(RequestMs);
    sendCommand(SerialFrame::ReqFreeSpace);
}

void CommunicateThread::sendChunk(int index)
{
    if (index < 0 || index >= m_chunks.size())
        return;
    LINK_LOG << "sendNumber:allSize  :  " << index << ":" << m_chunks.size();
    sendCommand(SerialFrame::ReqChunk, m_chunks.at(index));
}

void CommunicateThread::failTransfer(int error)
{
    m_chunkRetry = 0;
    // The reason goes first: whoever sees the transfer end has been told why.
    if (error != 0)
        emitError(error);
    m_bvtStatus.failed = true;
    emit sendBVTStatusChanged(m_bvtStatus);
    sendQuery();
}

void CommunicateThread::finishTransfer()
{
    m_chunkRetry = 0;
    m_bvtStatus.finished = true;
    m_bvtStatus.progress = 10000;
    emit sendBVTStatusChanged(m_bvtStatus);
    sendQuery();
}

// The chunk last sent once more; the third failed attempt ends the transfer.
void CommunicateThread::resendChunk()
{
    ++m_chunkRetry;
    LINK_LOG << "sendGcodeTime:" << m_chunkRetry;
    if (m_chunkRetry >= MaxRetries) {
        failTransfer(ErrTransfer);
        return;
    }
    m_transferPhase = PhaseChunks;
    startOperationTimer(ChunkMs);
    sendChunk(m_bvtStatus.sentChunks - 1);
}

// The printer stores the last chunk and closes the file before it acknowledges, so the
// acknowledgement can be lost with the file complete: ask instead of sending again.
void CommunicateThread::confirmLastChunk()
{
    m_transferPhase = PhaseConfirm;
    m_confirmIdle = -1;
    startOperationTimer(RequestMs);
    sendCommand(SerialFrame::ReqStatus);
    sendCommand(SerialFrame::ReqFreeSpace);
}

void CommunicateThread::sendFileChunk()
{
    const int count = m_chunks.size();
    switch (m_transferPhase) {
    case PhaseForeign:
        m_transferPhase = PhaseStop;
        startOperationTimer(RequestMs);
        sendCommand(SerialFrame::ReqControl, QByteArray(1, char(SerialFrame::CtlStop)));
        break;
    case PhaseFreeSpace:
        if (m_freeSpace < 0)
            return; // the free space has not been reported yet
        if (m_freeSpace > 8 * qint64(count)) {
            m_freeBefore = m_freeSpace;
            m_transferPhase = PhaseAnnounce;
            startOperationTimer(RequestMs);
            sendCommand(SerialFrame::ReqControl,
                        SerialFrame::announceData(quint32(m_fileSize), SerialFrame::announcedName(m_bvtStatus.path)));
        } else {
            failTransfer(ErrNoSpace);
        }
        break;
    case PhaseAnnounce:
        if (m_resultFlag == 1) {
            m_transferPhase = PhaseChunks;
            m_chunkRetry = 0;
            startOperationTimer(ChunkMs);
            sendChunk(m_bvtStatus.sentChunks);
            ++m_bvtStatus.sentChunks;
            m_bvtStatus.progress = int(qint64(m_bvtStatus.sentChunks) * 10000 / count);
        } else if (m_resultFlag == 2) {
            failTransfer(ErrAnnounceRefused);
        }
        break;
    case PhaseChunks:
        if (m_chunkAckFlag == 1) {
            m_chunkRetry = 0;
            if (m_bvtStatus.sentChunks >= count) {
                // The last chunk has been acknowledged: the file is on the card.
                finishTransfer();
                return;
            }
            startOperationTimer(ChunkMs);
            sendChunk(m_bvtStatus.sentChunks);
            ++m_bvtStatus.sentChunks;
            m_bvtStatus.progress = int(qint64(m_bvtStatus.sentChunks) * 10000 / count);
        } else if (m_chunkAckFlag == 2) {
            resendChunk();
        }
        break;
    case PhaseConfirm:
        if (m_chunkAckFlag == 1) {
            finishTransfer(); // the acknowledgement came late after all
        } else if (m_chunkAckFlag == 2) {
            resendChunk();
        } else if (m_freeSpace >= 0) {
            // Idle, and the card has lost at least the file's size in whole KiB (files take
            // whole blocks): the file is there. Less would also fit a file cut short.
            const qint64 fileKiB = (m_fileSize + 1023) / 1024;
            const bool stored = m_confirmIdle == 1 && m_freeBefore >= 0 && m_freeBefore - m_freeSpace >= fileKiB;
            if (stored)
                finishTransfer();
            else
                resendChunk();
        }
        break;
    case PhaseStop:
        if (m_resultFlag == 1 || m_resultFlag == 2)
            failTransfer(0);
        break;
    default:
        break;
    }
}

void CommunicateThread::stopSendGcode()
{
    if (m_state.load() != StateSending)
        return;
    m_transferPhase = PhaseStop;
    startOperationTimer(RequestMs);
    sendCommand(SerialFrame::ReqControl, QByteArray(1, char(SerialFrame::CtlStop)));
}

// --- print control --------------------------------------------------------------------

void CommunicateThread::beginPrint(QString printName)
{
    if (m_state.load() != StateReady || printName.isEmpty())
        return;
    setState(StatePrinting);
    m_printRequest = ReqBegin;
    m_awaitingPrinter = true;
    m_heartTimer->stop();
    startOperationTimer(RequestMs);
    if (m_machineType >= ChoicePX5 && m_machineType <= ChoicePX6B)
        sendCommand(SerialFrame::ReqControl, QByteArray(1, char(SerialFrame::CtlBeginPrint)) + QByteArrayLiteral("3DPRINT.BVT"));
}

void CommunicateThread::stopPrint()
{
    const int state = m_state.load();
    if (state == StatePrinting && m_printRequest == ReqNone) {
        m_printRequest = ReqStop;
    } else if (state == StateReady) {
        m_state.store(StatePrinting); // keeps the last error
        m_printRequest = ReqStop;
        m_awaitingPrinter = true;
    } else {
        return;
    }
    m_heartTimer->stop();
    startOperationTimer(LongMs);
    sendCommand(SerialFrame::ReqControl, QByteArray(1, char(SerialFrame::CtlStop)));
}

void CommunicateThread::pausePrint()
{
    if (m_state.load() != StatePrinting || m_printRequest != ReqNone)
        return;
    m_heartTimer->stop();
    startOperationTimer(PauseMs);
    m_printRequest = ReqPause;
    sendCommand(SerialFrame::ReqControl, QByteArray(1, char(SerialFrame::CtlPause)));
}

void CommunicateThread::restorePrint()
{
    if (m_state.load() != StateReady)
        return;
    m_heartTimer->stop();
    startOperationTimer(LongMs);
    m_state.store(StatePrinting); // keeps the last error
    m_printRequest = ReqResume;
    m_awaitingPrinter = true;
    sendCommand(SerialFrame::ReqControl, QByteArray(1, char(SerialFrame::CtlResume)));
}

void CommunicateThread::handlePrintBatch()
{
    const int result = m_resultFlag;
    switch (m_printRequest) {
    case ReqBegin:
        if (result == 0)
            return;
        sendQuery();
        if (result == 3) {
            LINK_LOG << "ERR_00_NotPrint_Door RecvRetCmd::Pause";
            emitError(ErrDoorOpen);
        } else if (result == 4) {
            emitError(ErrNoMaterial);
        }
        break;
    case ReqNone:
        emitPrintStatus();
        break;
    case ReqStop:
        if (result == 1 || result == 2) {
            m_printStatus.ended = true;
            emitPrintStatus();
            sendQuery();
        }
        break;
    case ReqPause:
        if (result == 1 || result == 2) {
            sendQuery();
            m_printStatus.paused = result == 1;
            emitPrintStatus();
        }
        break;
    case ReqResume:
        if (result == 1 || result == 2) {
            sendQuery();
            m_printStatus.paused = result == 2;
            emitPrintStatus();
        } else if (result == 3) {
            sendQuery();
            emitError(ErrDoorOpen);
            LINK_LOG << "ERR_00_NotPrint_Door RestorePrint";
        } else if (result == 4) {
            sendQuery();
            emitError(ErrNoMaterial);
        }
        break;
    default:
        break;
    }
}

// --- levelling, tray, door ------------------------------------------------------------

void CommunicateThread::beginLeveling()
{
    const int state = m_state.load();
    if (state != StateReady && state != StateLeveling) {
        emit signPX5_1LevelingStatus(PX5_1Idle);
        return;
    }
    setState(StateLeveling);
    m_levelingPhase = 0;
    m_awaitingPrinter = true;
    m_heartTimer->stop();
    startOperationTimer(LevelingMs);
    sendCommand(SerialFrame::ReqControl, QByteArray(1, char(SerialFrame::CtlBeginLeveling)));
}

void CommunicateThread::levelingCommand(QString str)
{
    if (m_state.load() != StateLeveling) {
        emit signPX5_1LevelingStatus(PX5_1Idle);
        return;
    }
    startOperationTimer(RequestMs);
    sendCommand(SerialFrame::ReqJog, SerialFrame::jogData(str));
}

void CommunicateThread::stopLeveling(int levelingZ)
{
    if (m_state.load() != StateLeveling) {
        emit signPX5_1LevelingStatus(PX5_1Idle);
        return;
    }
    m_levelingPhase = 2;
    startOperationTimer(LevelingMs);
    sendCommand(SerialFrame::ReqControl, SerialFrame::stopLevelingData(levelingZ));
}

void CommunicateThread::PX6Leveling(QString z)
{
    if (m_state.load() != StateReady) {
        emit signPX6LevelingStatus(PX6Refused);
        return;
    }
    setState(StateLeveling);
    m_levelingPhase = 3;
    m_awaitingPrinter = true;
    m_heartTimer->stop();
    startOperationTimer(PX6LevelingMs);
    sendCommand(SerialFrame::ReqPX6Leveling, z.toLocal8Bit());
}

void CommunicateThread::failLeveling()
{
    // The pages and the pool leave their busy states only on an ended status.
    const bool px6 = m_levelingPhase == 3;
    sendQuery();
    if (px6)
        emit signPX6LevelingStatus(PX6Refused);
    else
        emit signPX5_1LevelingStatus(PX5_1Idle);
}

void CommunicateThread::handleLevelingBatch()
{
    switch (m_levelingPhase) {
    case 0:
        if (m_resultFlag == 1) {
            m_operationTimer->stop();
            emit signPX5_1LevelingStatus(PX5_1Accepted);
            m_levelingPhase = 1;
        } else if (m_resultFlag == 2) {
            emitError(ErrLeveling);
            failLeveling();
        }
        break;
    case 1:
        if (m_levelingAckFlag == 1) {
            m_operationTimer->stop();
            emit signPX5_1LevelingStatus(PX5_1Accepted);
        } else if (m_levelingAckFlag == 2) {
            m_operationTimer->stop();
            emitError(ErrLeveling);
        }
        break;
    case 2:
        if (m_resultFlag == 1) {
            emit signPX5_1LevelingStatus(PX5_1Ended);
            sendQuery();
        } else if (m_resultFlag == 2) {
            emitError(ErrLeveling);
            failLeveling();
        }
        break;
    case 3:
        if (m_levelingResultFlag == 1) {
            emit signPX6LevelingStatus(PX6EndedFirst);
            sendQuery();
        } else if (m_levelingResultFlag == 2) {
            emit signPX6LevelingStatus(PX6EndedSecond);
            sendQuery();
        }
        break;
    default:
        break;
    }
}

void CommunicateThread::inTray()
{
    if (m_state.load() != StateReady) {
        emit signTrayStatus(TrayReset);
        return;
    }
    setState(StateFeeding);
    m_trayRequest = 0;
    m_awaitingPrinter = true;
    startOperationTimer(LongMs);
    sendCommand(SerialFrame::ReqControl, QByteArray(1, char(SerialFrame::CtlFeed)));
}

void CommunicateThread::outTray()
{
    if (m_state.load() != StateReady) {
        emit signTrayStatus(TrayReset);
        return;
    }
    setState(StateReturning);
    m_trayRequest = 0;
    m_awaitingPrinter = true;
    startOperationTimer(LongMs);
    sendCommand(SerialFrame::ReqControl, QByteArray(1, char(SerialFrame::CtlReturn)));
}

void CommunicateThread::stopTray()
{
    const int state = m_state.load();
    if (state != StateFeeding && state != StateReturning) {
        emit signTrayStatus(TrayReset);
        return;
    }
    m_trayRequest = 1;
    startOperationTimer(TrayStopMs);
    sendCommand(SerialFrame::ReqControl, QByteArray(1, char(SerialFrame::CtlStop)));
}

void CommunicateThread::handleTrayBatch()
{
    const int state = m_state.load();
    const bool stopping = state == StateStoppingFeed || state == StateStoppingReturn;
    if (m_resultFlag == 1 || m_resultFlag == 2) {
        const TrayStaus report = m_trayRequest == 1 ? TrayStopped : (m_resultFlag == 1 ? TrayDone : TrayReset);
        sendQuery();
        emit signTrayStatus(report);
    } else if (m_resultFlag == 0 && (m_trayRequest == 0 || stopping)) {
        emit signTrayTemperature(m_nozzleTemp);
    }
}

void CommunicateThread::setDoorActive(int isActive)
{
    sendCommand(SerialFrame::ReqDoor, SerialFrame::doorData(isActive));
}
