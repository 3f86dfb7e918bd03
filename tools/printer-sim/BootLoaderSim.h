#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>

#include "Thread/SerialFrame.h"

class PrinterSim;

// The printer's boot loader, taking over a simulated printer: a boot reset puts the printer
// into it (optionally re-enumerating: the port vanishes and comes back), then it takes the
// start request and the numbered image packets, and checks the image's size and checksum
// itself. Can be told to refuse, ask for a packet again, fall silent, send garbage or
// split its replies.
class BootLoaderSim : public QObject
{
    Q_OBJECT
public:
    struct Behaviour
    {
        bool refuseReset = false;  // boot reset answered "error"; the printer stays as it is
        bool resetSilent = false;
        bool refuseStart = false;
        bool startSilent = false;
        int errorAt = -1;          // this packet is answered "error"
        int silentAt = -1;         // this packet goes unanswered...
        int silentTimes = 0;       // ...this many times; below 0: always
        int sendAgainAt = -1;      // this packet is answered "send again"...
        int sendAgainTimes = 0;    // ...this many times; below 0: always
        int wrongReplyAt = -1;     // this packet is first answered by a start reply
        int badStatusAt = -1;      // this packet is first answered with an unknown status
        int garbage = 0;           // bytes with a false preamble before every reply
        bool split = false;        // every reply in two writes
        int splitGapMs = 5;
        int reenumerateMs = -1;    // after a boot reset the port is gone this long; below 0: stays
        int vanishAt = -1;         // the port also vanishes for reenumerateMs on this packet
    };

    // Takes over the printer's requests while it lives; the printer must be started.
    explicit BootLoaderSim(PrinterSim* printer, QObject* parent = nullptr);
    ~BootLoaderSim() override;

    Behaviour behaviour;

    bool inBootLoader() const { return m_inBootLoader; }
    int resetCount() const { return m_resets; }
    int startCount() const { return m_starts; }
    // The last start request's data as received.
    QByteArray startData() const { return m_startData; }
    quint32 announcedSize() const { return m_announcedSize; }
    quint16 announcedCrc() const { return m_announcedCrc; }
    // Indices of every packet received, in order, resends included.
    const QList<int>& packetLog() const { return m_packetLog; }
    QList<int> packetSizes() const { return m_packetSizes; }
    int timesReceived(int index) const { return int(m_packetLog.count(index)); }
    QByteArray image() const { return m_image; }
    // The whole announced image arrived and its checksum matched.
    bool confirmed() const { return m_confirmed; }

signals:
    void imageComplete(bool confirmed);

private:
    bool handle(const SerialFrame::Frame& f);
    void handleStart(const QByteArray& data);
    void handlePacket(const QByteArray& data);
    void reply(int command, int status);
    // The port disappears for ms and comes back under the same path; then the reply, if
    // any (replyCommand >= 0), is sent.
    void reenumerate(int ms, int replyCommand, int replyStatus);

    PrinterSim* m_printer;
    bool m_inBootLoader = false;
    int m_resets = 0;
    int m_starts = 0;
    bool m_started = false;
    QByteArray m_startData;
    quint32 m_announcedSize = 0;
    quint16 m_announcedCrc = 0;
    QByteArray m_image;
    quint32 m_nextIndex = 0;
    QList<int> m_packetLog;
    QList<int> m_packetSizes;
    bool m_confirmed = false;
};
