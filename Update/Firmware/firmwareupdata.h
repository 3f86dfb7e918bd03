#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include "Thread/SerialFrame.h"

class QTimer;

// Writes a firmware image into the printer through its boot loader over the printer's USB
// serial port: boot reset, start (size and checksum), then numbered 512-byte packets, each
// acknowledged. One event-driven state machine on the thread that created it: the port's
// readyRead and two timers move it on, nothing waits or polls.
class firmwareupdata : public QObject
{
    Q_OBJECT
public:
    enum Step { StepIdle = 0, StepBootReset = 1, StepStart = 2, StepData = 3 };
    enum ReplyKind { KindNone = 0, KindBootReset = 1, KindStart = 2, KindData = 3 };
    enum ReplyStatus { StatusNone = 0, StatusOk = 1, StatusError = 2, StatusSendAgain = 3 };

    static constexpr int PacketSize = 512;
    static constexpr int WatchMs = 300;
    static constexpr int BootResetMs = 5000;
    static constexpr int StartMs = 10000;
    static constexpr int DataMs = 3000;
    // Time-outs of one packet resent before giving up; the next one is an error.
    static constexpr int MaxTimeoutResends = 3;
    // "Send again" answers to one packet before giving up.
    static constexpr int MaxSendAgain = 10;
    // Attempts to open the port in a row.
    static constexpr int OpenAttempts = 11;
    // Far above any printer's firmware; keeps a wrong file from filling memory.
    static constexpr qint64 MaxImageSize = 64 * 1024 * 1024;

    explicit firmwareupdata(QObject* parent = nullptr);
    ~firmwareupdata() override;

    void setBinFile(const QString& path);
    // Finds the printer's port and opens it; false when there is none or it cannot be
    // opened. With sendReset the image is read first: a bad image is reported by
    // updateError() (queued) and the printer is left alone; a good one starts the flash.
    bool openPort(bool sendReset);
    // Ends flashing: stops the port watch and the reply timer, closes the port.
    void stopUpdate();

    int step() const { return m_step; }
    int packetCount() const { return int(m_packets.size()); }
    int imageSize() const { return m_imageSize; }
    quint16 imageCrc() const { return m_imageCrc; }
    const QList<QByteArray>& packets() const { return m_packets; }

    // The start request's data for an image: 32-bit size, 01 02 03, CRC high byte first.
    static QByteArray startData(quint32 size, quint16 crc);
    // An image cut into packets: 24-bit big-endian index, then up to 512 bytes.
    static QList<QByteArray> cutPackets(const QByteArray& image);
    // The request a boot-loader reply answers (ReplyKind) and its answer (ReplyStatus);
    // KindNone or StatusNone when it answers nothing.
    static void classifyReply(const SerialFrame::Frame& frame, int* kind, int* status);
    // Boot-loader replies are a few bytes; a longer length field is a false preamble.
    static constexpr int MaxReplyLength = 64;

signals:
    // floor(acknowledged packets × 100 / packets) while packets remain; 100.0 at the end.
    void updateProgress(double progress);
    void updateError();

public slots:
    void send(const QByteArray& bytes);
    void recv();

private slots:
    void reopenAfterReset();
    void resetReceive();
    void onPortError(QSerialPort::SerialPortError error);

private:
    bool openFirst(const QStringList& names);
    bool tryOpen(const QString& name);
    void closePort();
    bool readImage();
    void sendFrame(int kind);
    void startReplyTimer(int ms);
    // True when the reply answered the open request.
    bool handleReply(const SerialFrame::Frame& frame);
    void fail();

    QSerialPort* m_port = nullptr;
    QTimer* m_portWatch = nullptr;
    QTimer* m_replyTimer = nullptr;
    QString m_portName;
    int m_step = StepIdle;
    SerialFrame::Parser m_parser;
    int m_retries = 0;
    int m_sendAgain = 0;
    QString m_binFile;
    int m_packetIndex = 0;
    QList<QByteArray> m_packets;
    int m_imageSize = 0;
    quint16 m_imageCrc = 0;
};
