#include "Thread/SerialFrame.h"

#include <QFileInfo>

#include <array>
#include <cstring>

namespace SerialFrame {

namespace {

// Reflected CRC-16/MODBUS table (polynomial 0xA001).
constexpr std::array<quint16, 256> makeCrcTable()
{
    std::array<quint16, 256> table{};
    for (int i = 0; i < 256; ++i) {
        quint16 crc = quint16(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
        table[size_t(i)] = crc;
    }
    return table;
}
constexpr std::array<quint16, 256> CrcTable = makeCrcTable();

quint16 be16(const char* p)
{
    return quint16((quint8(p[0]) << 8) | quint8(p[1]));
}

void appendBe16(QByteArray& out, quint16 v)
{
    out.append(char(v >> 8));
    out.append(char(v & 0xFF));
}

void appendBe24(QByteArray& out, quint32 v)
{
    out.append(char((v >> 16) & 0xFF));
    out.append(char((v >> 8) & 0xFF));
    out.append(char(v & 0xFF));
}

void appendBe32(QByteArray& out, quint32 v)
{
    out.append(char(v >> 24));
    appendBe24(out, v);
}

} // namespace

quint16 crc16Modbus(const char* data, qint64 size)
{
    quint16 crc = 0xFFFF;
    const auto* p = reinterpret_cast<const quint8*>(data);
    for (qint64 i = 0; i < size; ++i)
        crc = quint16((crc >> 8) ^ CrcTable[(crc ^ p[i]) & 0xFF]);
    return crc;
}

quint16 crc16Modbus(const QByteArray& bytes)
{
    return crc16Modbus(bytes.constData(), bytes.size());
}

QByteArray packFrame(const QByteArray& payload)
{
    const qint64 length = qint64(payload.size()) + 2;
    if (payload.isEmpty() || length > MaxLengthField)
        return QByteArray();
    QByteArray out;
    out.reserve(int(length) + 4);
    out.append(char(Preamble0));
    out.append(char(Preamble1));
    appendBe16(out, quint16(length));
    out.append(payload);
    appendBe16(out, crc16Modbus(out.constData() + 2, out.size() - 2));
    return out;
}

QByteArray commandPayload(int code, const QByteArray& data)
{
    QByteArray payload;
    payload.reserve(data.size() + 1);
    if (code >= 0 && code <= 0xFF)
        payload.append(char(code));
    payload.append(data);
    return payload;
}

Parser::Parser(int minimumBuffered, int maximumLength)
    : m_minimumBuffered(qMax(MinFrameSize, minimumBuffered)),
      m_maximumLength(qBound(3, maximumLength, MaxLengthField))
{
}

void Parser::append(const QByteArray& bytes)
{
    // Drop consumed bytes only when they make up most of the buffer: each byte moves
    // a bounded number of times.
    if (m_offset > 0 && m_offset >= m_buffer.size() / 2) {
        m_buffer.remove(0, m_offset);
        m_offset = 0;
    }
    m_buffer.append(bytes);
}

bool Parser::next(Frame* out)
{
    const char* base = m_buffer.constData();
    const int size = m_buffer.size();
    while (size - m_offset >= m_minimumBuffered) {
        const char* p = base + m_offset;
        if (quint8(p[0]) != Preamble0) {
            // Skip to the next candidate preamble in one step.
            const void* hit = std::memchr(p + 1, Preamble0, size_t(size - m_offset - 1));
            const int skip = hit ? int(static_cast<const char*>(hit) - p) : size - m_offset;
            m_offset += skip;
            m_dropped += skip;
            continue;
        }
        if (quint8(p[1]) != Preamble1) {
            ++m_offset;
            ++m_dropped;
            continue;
        }
        const int length = be16(p + 2);
        if (length < 3 || length > m_maximumLength) {
            m_offset += 2;
            m_dropped += 2;
            continue;
        }
        if (qint64(length) + 4 > qint64(size - m_offset))
            return false; // wait for the rest
        if (crc16Modbus(p + 2, length) != be16(p + length + 2)) {
            m_offset += 2;
            m_dropped += 2;
            continue;
        }
        if (out) {
            out->command = quint8(p[4]);
            out->data = QByteArray(p + 5, length - 3);
        }
        m_offset += length + 4;
        if (m_offset == size) {
            m_buffer.clear();
            m_offset = 0;
        }
        return true;
    }
    return false;
}

void Parser::clear()
{
    m_buffer.clear();
    m_offset = 0;
}

QByteArray chunkData(quint32 number, const QByteArray& bytes)
{
    QByteArray out;
    out.reserve(bytes.size() + 3);
    appendBe24(out, number);
    out.append(bytes);
    return out;
}

QString announcedName(const QString& path)
{
    QString name = QFileInfo(path).fileName();
    if (name.size() > 255)
        name = name.left(251) + QStringLiteral(".BVT");
    return name;
}

QByteArray announceData(quint32 size, const QString& name)
{
    QByteArray out;
    out.append(char(CtlAnnounce));
    appendBe32(out, size);
    out.append(name.toUtf8());
    return out;
}

QByteArray stopLevelingData(qint64 z)
{
    QByteArray out;
    out.append(char(CtlStop));
    out.append(char(z <= 0 ? 1 : 0));
    const quint64 magnitude = z < 0 ? quint64(-(z + 1)) + 1 : quint64(z);
    appendBe24(out, quint32(magnitude & 0xFFFFFF));
    return out;
}

QByteArray jogData(const QString& argument)
{
    return QByteArrayLiteral(" G0 ") + argument.toLocal8Bit();
}

QByteArray doorData(int active)
{
    QByteArray out(2, '\0');
    out[1] = char(active != 0 ? 1 : 0);
    return out;
}

int replyFlag(const QByteArray& data, int maxByte)
{
    if (data.isEmpty())
        return 0;
    const int b = quint8(data.at(0));
    return b <= maxByte ? b + 1 : 0;
}

bool decodeFreeSpace(const QByteArray& data, quint32* kib)
{
    if (data.size() < 4)
        return false;
    const auto* p = reinterpret_cast<const quint8*>(data.constData());
    *kib = (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3];
    return true;
}

bool decodeStatus(const QByteArray& data, StatusReply* out)
{
    if (data.size() < StatusReplySize)
        return false;
    const char* p = data.constData();
    out->printerState = quint8(p[0]);
    out->traySubState = quint8(p[1]);
    out->statusCode = quint8(p[2]);
    out->nozzleTemp = be16(p + 3);
    out->progress = be16(p + 5);
    out->pauseByte = quint8(p[7]);
    out->bedTemp = be16(p + 8);
    return true;
}

QByteArray encodeStatus(const StatusReply& s)
{
    QByteArray out;
    out.append(char(s.printerState));
    out.append(char(s.traySubState));
    out.append(char(s.statusCode));
    appendBe16(out, quint16(s.nozzleTemp));
    appendBe16(out, quint16(s.progress));
    out.append(char(s.pauseByte));
    appendBe16(out, quint16(s.bedTemp));
    return out;
}

MachineInfo decodeMachineInfo(const QByteArray& data)
{
    MachineInfo info;
    const int n = data.size();
    const char* p = data.constData();
    if (n >= 1 && quint8(p[0]) == 2)
        info.machineType = 1;
    else if (n >= 2 && quint8(p[0]) == 3 && quint8(p[1]) <= 1)
        info.machineType = 2 + quint8(p[1]);
    if (n < 6)
        return info;
    info.hasDetails = true;
    info.version = QStringLiteral("%1.%2.%3").arg(int(qint8(p[2]))).arg(int(qint8(p[3]))).arg(int(qint8(p[4])));
    info.doorActive = quint8(p[5]);
    if (n >= 8) {
        info.hasLevelingData = true;
        info.levelingData = qint16(be16(p + 6));
    }
    if (n >= 9) {
        // The stated length is a claim: take only what is there.
        const int claimed = quint8(p[8]);
        const int available = qMin(claimed, n - 9);
        info.serialNumber = QString::fromLatin1(p + 9, available);
    }
    if (n >= MachineInfoMacOffset + MachineInfoMacSize)
        info.mac = QString::fromLatin1(p + MachineInfoMacOffset, MachineInfoMacSize);
    return info;
}

QByteArray encodeMachineInfo(const MachineInfoRecord& info)
{
    QByteArray out(MachineInfoMacOffset + MachineInfoMacSize, '\0');
    out[0] = char(info.model);
    out[1] = char(info.variant);
    out[2] = char(info.version[0]);
    out[3] = char(info.version[1]);
    out[4] = char(info.version[2]);
    out[5] = char(info.doorActive);
    out[6] = char(quint16(info.levelingData) >> 8);
    out[7] = char(quint16(info.levelingData) & 0xFF);
    const QByteArray serial = info.serialNumber.left(MachineInfoMacOffset - 9);
    out[8] = char(serial.size());
    std::memcpy(out.data() + 9, serial.constData(), size_t(serial.size()));
    const QByteArray mac = info.mac.left(MachineInfoMacSize);
    std::memcpy(out.data() + MachineInfoMacOffset, mac.constData(), size_t(mac.size()));
    return out;
}

} // namespace SerialFrame
