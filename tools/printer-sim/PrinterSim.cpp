#include "PrinterSim.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using namespace SerialFrame;

PrinterSim::PrinterSim(QObject* parent)
    : QObject(parent),
      m_parser(MinFrameSize, MaxLengthField),
      m_finishTimer(new QTimer(this))
{
    m_finishTimer->setSingleShot(true);
}

PrinterSim::~PrinterSim()
{
    vanish();
}

bool PrinterSim::start(const QString& linkPath)
{
    if (m_master >= 0)
        return true;
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        return false;
    // Raw, no echo: otherwise the line discipline eats 0x11 and 0x13 as flow control.
    for (int fd : {m_slave, m_master}) {
        termios tio{};
        if (::tcgetattr(fd, &tio) == 0) {
            ::cfmakeraw(&tio);
            tio.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
            ::tcsetattr(fd, TCSANOW, &tio);
        }
    }
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_slaveName = QString::fromLocal8Bit(name);
    if (!linkPath.isEmpty()) {
        QFile::remove(linkPath);
        if (!QFile::link(m_slaveName, linkPath)) {
            vanish();
            return false;
        }
        m_linkPath = linkPath;
    }
    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PrinterSim::onReadable);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PrinterSim::onWritable);
    return true;
}

QString PrinterSim::portPath() const
{
    return m_linkPath.isEmpty() ? m_slaveName : m_linkPath;
}

void PrinterSim::vanish()
{
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    if (!m_linkPath.isEmpty()) {
        QFile::remove(m_linkPath);
        m_linkPath.clear();
    }
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = m_master = -1;
    m_output.clear();
    m_finishTimer->stop();
}

int PrinterSim::requestCount(int command) const
{
    int n = 0;
    for (const Frame& f : m_requests)
        n += f.command == command ? 1 : 0;
    return n;
}

QList<Frame> PrinterSim::requestsOf(int command) const
{
    QList<Frame> out;
    for (const Frame& f : m_requests)
        if (f.command == command)
            out << f;
    return out;
}

void PrinterSim::onReadable()
{
    char buf[16384];
    while (m_master >= 0) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break;
        m_parser.append(QByteArray(buf, int(n)));
    }
    Frame frame;
    while (m_master >= 0 && m_parser.next(&frame))
        handle(frame);
}

void PrinterSim::onWritable()
{
    flushOutput();
}

void PrinterSim::flushOutput()
{
    while (m_master >= 0 && !m_output.isEmpty()) {
        const ssize_t n = ::write(m_master, m_output.constData(), size_t(m_output.size()));
        if (n <= 0)
            break;
        m_output.remove(0, int(n));
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_output.isEmpty());
}

void PrinterSim::sendRaw(const QByteArray& bytes)
{
    if (m_master < 0)
        return;
    m_output.append(bytes);
    flushOutput();
}

void PrinterSim::sendReply(int command, const QByteArray& data)
{
    QByteArray bytes = frame(command, data);
    if (behaviour.corruptCrcNext) {
        behaviour.corruptCrcNext = false;
        bytes[bytes.size() - 1] = char(bytes.at(bytes.size() - 1) ^ 0x5A);
    }
    if (behaviour.dropByteNext > 0) {
        --behaviour.dropByteNext;
        bytes.remove(bytes.size() / 2, 1);
    }
    if (behaviour.garbageNext > 0) {
        // Garbage that holds a false preamble and flow-control bytes.
        QByteArray junk;
        for (int i = 0; i < behaviour.garbageNext; ++i)
            junk.append(char("\x11\x13\xAA\x00\x55\xAA\x7F"[i % 7]));
        behaviour.garbageNext = 0;
        bytes.prepend(junk);
    }
    sendRaw(bytes);
}

QByteArray PrinterSim::statusBlock() const
{
    StatusReply s;
    s.printerState = paused ? Idle : printerState;
    s.traySubState = traySubState;
    s.statusCode = behaviour.faultCode;
    s.nozzleTemp = behaviour.nozzleTemp;
    s.progress = progress;
    s.pauseByte = paused ? (0x80 | behaviour.pauseReason) : 0;
    s.bedTemp = behaviour.bedTemp;
    return encodeStatus(s);
}

void PrinterSim::result(int byte)
{
    sendReply(RepResult, QByteArray(1, char(byte)));
}

void PrinterSim::finishLater(int ms, int replyCommand, int replyByte)
{
    m_finishTimer->disconnect();
    connect(m_finishTimer, &QTimer::timeout, this, [this, replyCommand, replyByte] {
        printerState = Idle;
        traySubState = 0;
        sendReply(replyCommand, QByteArray(1, char(replyByte)));
    });
    m_finishTimer->start(ms);
}

void PrinterSim::handle(const Frame& f)
{
    m_requests.append(f);
    emit requestReceived(f.command, f.data);
    if (frameHook && frameHook(f))
        return;
    if (behaviour.silent)
        return;
    switch (f.command) {
    case ReqControl:
        handleControl(f.data);
        break;
    case ReqStatus:
        if (behaviour.statusSilent)
            return;
        if (printerState == Printing && !paused && behaviour.progressStep > 0) {
            progress = qMin(10000, progress + behaviour.progressStep);
            if (progress >= 10000) {
                sendReply(RepStatus, statusBlock());
                printerState = Idle;
                return;
            }
        }
        sendReply(RepStatus, statusBlock());
        break;
    case ReqHandshake:
        if (!behaviour.handshakeSilent)
            sendReply(RepMachineInfo, encodeMachineInfo(behaviour.machine));
        break;
    case ReqChunk:
        handleChunk(f.data);
        break;
    case ReqFreeSpace:
        if (!behaviour.freeSpaceSilent) {
            const quint32 v = behaviour.freeSpaceKiB;
            QByteArray d;
            d.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
            sendReply(RepFreeSpace, d);
        }
        break;
    case ReqLink:
        if (behaviour.linkSilent)
            return;
        if (m_tryAgainSent < behaviour.tryAgainCount) {
            ++m_tryAgainSent;
            sendReply(RepLinkAnswer, QByteArray(1, char(LinkTryAgain)));
        } else {
            sendReply(RepLinkAnswer, QByteArray(1, char(behaviour.linkAnswer)));
        }
        break;
    case ReqBootReset:
        sendReply(RepBootReset, QByteArray(1, '\0'));
        break;
    case ReqJog:
        if (!behaviour.jogSilent)
            sendReply(RepLevelingAck, QByteArray(1, char(behaviour.jogFails ? 1 : 0)));
        break;
    case ReqPX6Leveling:
        if (behaviour.px6LevelingMs < 0)
            return; // never answers
        printerState = Leveling;
        finishLater(behaviour.px6LevelingMs, RepLevelingResult, behaviour.px6LevelingResult);
        break;
    case ReqDoor:
        if (f.data.size() >= 2)
            doorSwitch = quint8(f.data.at(1));
        sendReply(RepSetting, QByteArray(1, '\0'));
        break;
    default:
        break;
    }
}

void PrinterSim::handleControl(const QByteArray& data)
{
    if (data.isEmpty())
        return;
    const int code = quint8(data.at(0));
    if (behaviour.controlSilent || (code == CtlStop && behaviour.stopSilent))
        return;
    if (behaviour.refuseControl && code != CtlStop) {
        result(1);
        return;
    }
    switch (code) {
    case CtlStop:
        if (data.size() >= 5) { // stop levelling with a Z value
            if (behaviour.refuseLeveling) {
                result(1);
                return;
            }
            printerState = Idle;
            result(0);
        } else if (printerState == Tray) {
            traySubState = traySubState == 1 ? 3 : 2;
            finishLater(behaviour.trayMs, RepResult, 0);
        } else {
            if (printerState == Receiving)
                m_incoming.clear();
            printerState = Idle;
            paused = false;
            result(0);
        }
        break;
    case CtlBeginPrint:
    case CtlResume:
        if (behaviour.doorOpen) {
            result(2);
        } else if (behaviour.noMaterial) {
            result(3);
        } else if (code == CtlResume && !paused) {
            result(1);
        } else {
            if (code == CtlBeginPrint)
                progress = 0;
            paused = false;
            printerState = Printing;
            result(0);
        }
        break;
    case CtlAnnounce:
        if (behaviour.announcementSilent)
            return;
        if (behaviour.refuseAnnouncement || data.size() < 5) {
            result(1);
            return;
        }
        m_expectedSize = (quint32(quint8(data.at(1))) << 24) | (quint32(quint8(data.at(2))) << 16)
            | (quint32(quint8(data.at(3))) << 8) | quint8(data.at(4));
        m_incomingName = QString::fromUtf8(data.mid(5));
        m_incoming.clear();
        m_nextChunk = 0;
        printerState = Receiving;
        result(0);
        break;
    case CtlBeginLeveling:
        if (behaviour.refuseLeveling) {
            result(1);
        } else {
            printerState = Leveling;
            result(0);
        }
        break;
    case CtlFeed:
    case CtlReturn:
        if (behaviour.trayRefuse) {
            result(1);
            return;
        }
        printerState = Tray;
        traySubState = code == CtlFeed ? 0 : 1;
        if (!behaviour.traySilent)
            finishLater(behaviour.trayMs, RepResult, 0);
        break;
    case CtlPause:
        if (printerState == Printing) {
            paused = true;
            result(0);
        } else {
            result(1);
        }
        break;
    default:
        result(1);
        break;
    }
}

void PrinterSim::handleChunk(const QByteArray& data)
{
    if (behaviour.chunkSilences > 0) {
        --behaviour.chunkSilences;
        return;
    }
    if (behaviour.chunkErrors > 0 || data.size() < 3) {
        if (behaviour.chunkErrors > 0)
            --behaviour.chunkErrors;
        sendReply(RepChunkAck, QByteArray(1, '\1'));
        return;
    }
    const quint32 number = (quint32(quint8(data.at(0))) << 16) | (quint32(quint8(data.at(1))) << 8)
        | quint8(data.at(2));
    const int bytes = data.size() - 3;
    if (m_nextChunk > 0 && number + 1 == m_nextChunk) {
        // A chunk sent again after a lost acknowledgement: already stored.
        if (behaviour.dropLastAck && printerState != Receiving)
            return;
        sendReply(RepChunkAck, QByteArray(1, '\0'));
        return;
    }
    if (printerState != Receiving || number != m_nextChunk || qint64(m_incoming.size()) + bytes > qint64(m_expectedSize)) {
        sendReply(RepChunkAck, QByteArray(1, '\1'));
        return;
    }
    const bool last = bytes < ChunkDataSize;
    if (last && (behaviour.keepAllButLastChunk || behaviour.keepNothing)) {
        printerState = Idle;
        if (behaviour.keepAllButLastChunk)
            takeSpace(m_incoming.size());
        m_incoming.clear();
        return;
    }
    if (last && behaviour.refuseLastChunk) {
        sendReply(RepChunkAck, QByteArray(1, '\1'));
        return;
    }
    m_incoming.append(data.constData() + 3, bytes);
    ++m_nextChunk;
    ++m_chunksReceived;
    if (last) {
        // The short chunk ends the file; it is complete before it is acknowledged.
        printerState = Idle;
        if (quint32(m_incoming.size()) == m_expectedSize) {
            m_fileName = m_incomingName;
            m_fileData = m_incoming;
            ++m_filesReceived;
            takeSpace(m_fileData.size());
            emit fileComplete(m_fileName, m_fileData.size());
        }
        m_incoming.clear();
        if (behaviour.dropLastAck)
            return;
    }
    sendReply(RepChunkAck, QByteArray(1, '\0'));
}

// Stored files take whole KiB blocks of the card.
void PrinterSim::takeSpace(qint64 bytes)
{
    const quint32 used = quint32((bytes + 1023) / 1024);
    behaviour.freeSpaceKiB = behaviour.freeSpaceKiB > used ? behaviour.freeSpaceKiB - used : 0;
}
