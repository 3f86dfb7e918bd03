#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>

#include "Thread/SerialFrame.h"
#include "Thread/SignalTypes.h"

class QSerialPort;
class QTimer;

// The host's side of the USB serial link to the printer: finds the port, handshakes,
// polls the status once a second, sends print-task files and drives printing, levelling
// and the filament tray. Lives on a thread of its own; reached by queued signals.
class CommunicateThread : public QObject
{
    Q_OBJECT
public:
    // Link states.
    enum LinkState {
        StateNone = 0,
        StateHandshake = 1,
        StateLinkRequest = 2,
        StateReady = 3,
        StateSending = 4,
        StatePrinting = 5,
        StateLeveling = 6,
        StateFeeding = 7,
        StateReturning = 8,
        StateStoppingFeed = 9,
        StateStoppingReturn = 10,
    };

    explicit CommunicateThread(QObject* parent = nullptr);
    ~CommunicateThread() override;

    static quint16 crc16Modbus(const QByteArray& bytes);
    static QByteArray packFrame(const QByteArray& payload);

    // No linked printer at work: nothing linked yet (handshake included), or linked and
    // neither busy nor paused. Safe to call from any thread.
    bool isIdle() const;
    int linkState() const { return m_state.load(); }

signals:
    void errorMessage(Error error);
    void linkStatus(bool success);
    void signUpdate();
    void signPrintStatus(SendPrintStatus status);
    void sendBVTStatusChanged(SendBVTStatus status);
    void signTrayStatus(TrayStaus status);
    void signPX6LevelingStatus(PX6LevelingStatus status);
    void signPX5_1LevelingStatus(PX5_1LevelingStatus status);
    void signMachineType(ChoiceType type);
    void signSerialNumber(QString snum, QString version, QString mac);
    void signTrayTemperature(int T);
    void signDoorActive(int isActive);
    void signLevelingData(int data);
    void setSuccess();

public slots:
    void stop();
    void BVTProcessing(QString path);
    void beginPrint(QString printName);
    void stopPrint();
    void stopSendGcode();
    void beginLeveling();
    void levelingCommand(QString str);
    void stopLeveling(int levelingZ);
    void setDoorActive(int isActive);
    void PX6Leveling(QString z);
    void inTray();
    void outTray();
    void stopTray();
    void startSerialdetection();
    void pausePrint();
    void restorePrint();

private slots:
    void serialdetection();
    void fromComRead();
    void timerOut();
    void heartTimerOut();
    void sendBVTTimerOut();

private:
    // PhaseConfirm: the last chunk's acknowledgement is overdue; status and free space tell
    // whether the printer has the whole file.
    enum TransferPhase { PhaseForeign = 0, PhaseFreeSpace = 1, PhaseAnnounce = 2, PhaseChunks = 3, PhaseStop = 4,
                         PhaseConfirm = 5 };
    enum PrintRequest { ReqBegin = 0, ReqNone = 1, ReqStop = 2, ReqPause = 3, ReqResume = 4 };

    void sendCommand(int code, const QByteArray& data = QByteArray());
    bool parseFrames();
    void dispatchFrame(const SerialFrame::Frame& frame);
    void handleStatusReply(const QByteArray& data);
    void handleMachineInfo(const QByteArray& data);
    void handleLinkBatch();
    void handlePrintBatch();
    void handleLevelingBatch();
    void handleTrayBatch();
    void sendFileChunk();
    void sendChunk(int index);
    void failTransfer(int error);
    void finishTransfer();
    void resendChunk();
    void confirmLastChunk();
    void failLeveling();
    void sendQuery();
    bool transferRunning() const;
    void onPortVanished();
    void closePort();
    void emitError(int code);
    void setState(int state);
    void startOperationTimer(int ms);
    void emitPrintStatus();

    QSerialPort* m_port;
    QTimer* m_detectionTimer;
    QTimer* m_operationTimer;
    QTimer* m_heartTimer;
    QTimer* m_sendBVTTimer;

    std::atomic<int> m_state{StateNone};
    int m_transferPhase = PhaseFreeSpace;
    int m_printRequest = ReqNone;
    int m_levelingPhase = 0;
    int m_trayRequest = 0;
    int m_progress = -1;
    int m_printerState = 0;
    int m_prevPrinterState = 0;
    int m_nozzleTemp = -1;
    int m_bedTemp = -1;
    struct RecvMsg
    {
        int retryTime = 0; // heartbeats without a status reply
    } m_RecvMsg;
    int m_chunkRetry = 0; // failed attempts on the current chunk
    bool m_statusArrived = false;
    bool m_repeatLinkRequest = false;
    // A request has moved the link out of ready and the printer has not yet reported the
    // new activity: an idle status now answers an older query and ends nothing.
    bool m_awaitingPrinter = false;
    int m_machineType = 0;
    qint64 m_freeSpace = -1; // KiB; -1 when the batch held no 0x14 reply
    int m_resultFlag = 0;
    int m_chunkAckFlag = 0;
    int m_levelingAckFlag = 0;
    int m_levelingResultFlag = 0;
    int m_settingFlag = 0;
    int m_linkAnswerFlag = 0;
    int m_lastError = 0;
    QList<QByteArray> m_chunks;
    qint64 m_fileSize = 0;
    qint64 m_freeBefore = -1;  // KiB on the card before the transfer
    int m_confirmIdle = -1;    // PhaseConfirm: 1 the printer reported idle, 0 still receiving
    SendBVTStatus m_bvtStatus;
    SerialFrame::Parser m_recvData; // receive buffer, parsed from an offset
    SendPrintStatus m_printStatus;
    std::atomic<bool> m_paused{false};
    QString m_portName; // name of the open port as detection found it
    // The system's port list is costly to build (udev); it is rebuilt when the device
    // folder changed, and every few ticks in any case.
    QString scannedMakerPort();
    QString m_scannedPort;
    qint64 m_deviceStamp = -1;
    int m_ticksSinceScan = 0;
};
