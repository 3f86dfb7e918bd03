#include "BootLoaderSim.h"

#include <QTimer>

#include "PrinterSim.h"

using namespace SerialFrame;

namespace {
constexpr int PacketBytes = 512;
constexpr int StatusOk = 0;
constexpr int StatusError = 1;    // boot reset and start
constexpr int DataSendAgain = 1;
constexpr int DataError = 2;
} // namespace

BootLoaderSim::BootLoaderSim(PrinterSim* printer, QObject* parent)
    : QObject(parent),
      m_printer(printer)
{
    m_printer->frameHook = [this](const Frame& f) { return handle(f); };
}

BootLoaderSim::~BootLoaderSim()
{
    m_printer->frameHook = nullptr;
}

bool BootLoaderSim::handle(const Frame& f)
{
    if (f.command == ReqBootReset) {
        ++m_resets;
        if (behaviour.resetSilent)
            return true;
        if (behaviour.refuseReset) {
            reply(RepBootReset, StatusError);
            return true;
        }
        m_inBootLoader = true;
        m_started = false;
        if (behaviour.reenumerateMs >= 0)
            reenumerate(behaviour.reenumerateMs, RepBootReset, StatusOk);
        else
            reply(RepBootReset, StatusOk);
        return true;
    }
    if (!m_inBootLoader)
        return false; // the printer's firmware answers
    if (f.command == ReqControl)
        handleStart(f.data);
    else if (f.command == ReqChunk)
        handlePacket(f.data);
    // The boot loader knows nothing else.
    return true;
}

void BootLoaderSim::handleStart(const QByteArray& data)
{
    ++m_starts;
    m_startData = data;
    if (behaviour.startSilent)
        return;
    const bool wellFormed = data.size() == 9 && data.mid(4, 3) == QByteArray("\x01\x02\x03", 3);
    if (behaviour.refuseStart || !wellFormed) {
        m_started = false;
        reply(RepResult, StatusError);
        return;
    }
    const auto* b = reinterpret_cast<const quint8*>(data.constData());
    m_announcedSize = quint32(b[0]) << 24 | quint32(b[1]) << 16 | quint32(b[2]) << 8 | b[3];
    m_announcedCrc = quint16(b[7] << 8 | b[8]);
    m_image.clear();
    m_nextIndex = 0;
    m_confirmed = false;
    m_started = true;
    reply(RepResult, StatusOk);
}

void BootLoaderSim::handlePacket(const QByteArray& data)
{
    if (data.size() < 3) {
        reply(RepChunkAck, DataError);
        return;
    }
    const auto* b = reinterpret_cast<const quint8*>(data.constData());
    const int index = int(quint32(b[0]) << 16 | quint32(b[1]) << 8 | b[2]);
    const QByteArray payload = data.mid(3);
    m_packetLog << index;
    m_packetSizes << int(payload.size());
    if (!m_started) {
        reply(RepChunkAck, DataError);
        return;
    }
    if (index == behaviour.vanishAt) {
        behaviour.vanishAt = -1;
        reenumerate(qMax(0, behaviour.reenumerateMs), -1, 0);
        return;
    }
    if (index == behaviour.silentAt && behaviour.silentTimes != 0) {
        if (behaviour.silentTimes > 0)
            --behaviour.silentTimes;
        return;
    }
    if (index == behaviour.wrongReplyAt) {
        behaviour.wrongReplyAt = -1;
        reply(RepResult, StatusOk);
        return;
    }
    if (index == behaviour.badStatusAt) {
        behaviour.badStatusAt = -1;
        reply(RepChunkAck, 7);
        return;
    }
    if (index == behaviour.errorAt) {
        reply(RepChunkAck, DataError);
        return;
    }
    if (index == behaviour.sendAgainAt && behaviour.sendAgainTimes != 0) {
        if (behaviour.sendAgainTimes > 0)
            --behaviour.sendAgainTimes;
        reply(RepChunkAck, DataSendAgain);
        return;
    }
    if (quint32(index) + 1 == m_nextIndex) {
        // Sent again after a lost acknowledgement: already stored.
        reply(RepChunkAck, StatusOk);
        return;
    }
    const qint64 remaining = qint64(m_announcedSize) - m_image.size();
    const bool fits = payload.size() == qMin<qint64>(PacketBytes, remaining) && !payload.isEmpty();
    if (quint32(index) != m_nextIndex || !fits) {
        reply(RepChunkAck, DataError);
        return;
    }
    m_image.append(payload);
    ++m_nextIndex;
    if (m_image.size() == qint64(m_announcedSize)) {
        m_confirmed = crc16Modbus(m_image) == m_announcedCrc;
        emit imageComplete(m_confirmed);
        reply(RepChunkAck, m_confirmed ? StatusOk : DataError);
        return;
    }
    reply(RepChunkAck, StatusOk);
}

void BootLoaderSim::reply(int command, int status)
{
    QByteArray bytes = frame(command, QByteArray(1, char(status)));
    if (behaviour.garbage > 0) {
        // Garbage holding false preambles, one with a plausible length.
        static const char junk[] = "\x11\xAA\x55\x00\x08\x13\xAA\x7F\x55";
        QByteArray g;
        for (int i = 0; i < behaviour.garbage; ++i)
            g.append(junk[i % (sizeof junk - 1)]);
        bytes.prepend(g);
    }
    if (!behaviour.split) {
        m_printer->sendRaw(bytes);
        return;
    }
    const int half = int(bytes.size()) / 2;
    m_printer->sendRaw(bytes.left(half));
    const QByteArray rest = bytes.mid(half);
    QTimer::singleShot(behaviour.splitGapMs, this, [this, rest] { m_printer->sendRaw(rest); });
}

void BootLoaderSim::reenumerate(int ms, int replyCommand, int replyStatus)
{
    const QString path = m_printer->portPath();
    m_printer->vanish();
    QTimer::singleShot(ms, this, [this, path, replyCommand, replyStatus] {
        if (!m_printer->start(path))
            return;
        if (replyCommand >= 0)
            reply(replyCommand, replyStatus);
    });
}
