#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

#include "Thread/SerialFrame.h"

class QSocketNotifier;
class QTimer;

// A simulated printer behind a pseudo-terminal. It answers the host's requests as the
// printer's firmware does and can be told to misbehave. Lives on one thread (the one that
// created it); its settings are plain fields changed from that thread.
class PrinterSim : public QObject
{
    Q_OBJECT
public:
    enum LinkAnswer { LinkAccept = 0, LinkRefuse = 1, LinkTryAgain = 2 };
    enum PrinterState { Idle = 0, Printing = 1, Receiving = 2, Leveling = 3, Tray = 4 };

    struct Behaviour
    {
        SerialFrame::MachineInfoRecord machine; // model 2: the first printer model
        bool silent = false;          // answers nothing at all
        bool statusSilent = false;    // answers no status query
        bool handshakeSilent = false; // answers no handshake
        int linkAnswer = LinkAccept;
        int tryAgainCount = 0;        // "try again" answers before linkAnswer
        bool linkSilent = false;      // answers no link request
        bool freeSpaceSilent = false;
        quint32 freeSpaceKiB = 1u << 20; // goes down as files are stored
        bool refuseAnnouncement = false;
        bool announcementSilent = false;
        int chunkErrors = 0;          // the next n chunks are answered with an error
        int chunkSilences = 0;        // the next n chunks get no answer
        bool dropLastAck = false;     // the file's last chunk is stored, never acknowledged
        bool refuseLastChunk = false; // the file's last chunk is always answered with an error
        // At the file's last chunk the printer ends the file without that chunk, or drops the
        // whole file, and never acknowledges it.
        bool keepAllButLastChunk = false;
        bool keepNothing = false;
        bool stopSilent = false;
        int faultCode = 0;            // status byte 2
        int nozzleTemp = 25;
        int bedTemp = 25;
        bool doorOpen = false;        // begin and resume answered "door open"
        bool noMaterial = false;      // begin and resume answered "no material"
        bool refuseControl = false;   // control requests other than stop answered "refused"
        bool controlSilent = false;   // control requests get no answer
        int progressStep = 1000;      // print progress added per status query
        bool refuseLeveling = false;
        bool jogFails = false;
        bool jogSilent = false;
        int px6LevelingResult = 0;    // byte of reply 0x18
        int px6LevelingMs = 20;        // below 0: the request is ignored
        int trayMs = 20;              // how long a feed or return takes
        bool trayRefuse = false;
        bool traySilent = false;      // a feed or return never ends
        int pauseReason = 0;          // reason bits of a pause made by the host
        // One-shot faults on the next reply.
        int dropByteNext = 0;
        int garbageNext = 0;
        bool corruptCrcNext = false;
    };

    explicit PrinterSim(QObject* parent = nullptr);
    ~PrinterSim() override;

    // Opens the pseudo-terminal (raw, no echo) and, when linkPath is given, publishes it
    // there as a symbolic link.
    bool start(const QString& linkPath = QString());
    // The path a host opens: the link when one was published, else the terminal's name.
    QString portPath() const;
    QString terminalName() const { return m_slaveName; }
    bool isRunning() const { return m_master >= 0; }
    // The printer disappears: terminal closed and link removed.
    void vanish();

    Behaviour behaviour;
    // Sees every request first; returning true takes it over (the boot loader does).
    std::function<bool(const SerialFrame::Frame&)> frameHook;

    // Printer state, readable and settable by tests.
    int printerState = Idle;
    int traySubState = 0;
    int progress = 0;
    bool paused = false;
    int doorSwitch = 0;

    // Everything the host sent, in order.
    const QList<SerialFrame::Frame>& requests() const { return m_requests; }
    int requestCount(int command) const;
    QList<SerialFrame::Frame> requestsOf(int command) const;
    void clearRequests() { m_requests.clear(); }

    // The last file received completely, and the one being received.
    QString fileName() const { return m_fileName; }
    QByteArray fileData() const { return m_fileData; }
    int chunksReceived() const { return m_chunksReceived; }
    int filesReceived() const { return m_filesReceived; }

    // Sends a reply frame, or raw bytes, as the printer.
    void sendReply(int command, const QByteArray& data);
    void sendRaw(const QByteArray& bytes);
    // The status block the next query would get.
    QByteArray statusBlock() const;

signals:
    void requestReceived(int command, QByteArray data);
    void fileComplete(QString name, int size);

private:
    void onReadable();
    void onWritable();
    void flushOutput();
    void handle(const SerialFrame::Frame& frame);
    void handleControl(const QByteArray& data);
    void handleChunk(const QByteArray& data);
    void result(int byte);
    void finishLater(int ms, int replyCommand, int replyByte);
    void takeSpace(qint64 bytes);

    int m_master = -1;
    int m_slave = -1;
    QString m_slaveName;
    QString m_linkPath;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QByteArray m_output;
    SerialFrame::Parser m_parser;
    QList<SerialFrame::Frame> m_requests;
    int m_tryAgainSent = 0;
    QTimer* m_finishTimer = nullptr;

    // File being received.
    quint32 m_expectedSize = 0;
    QString m_incomingName;
    QByteArray m_incoming;
    quint32 m_nextChunk = 0;
    QString m_fileName;
    QByteArray m_fileData;
    int m_chunksReceived = 0;
    int m_filesReceived = 0;
};
