#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// The printer's serial frame: AA 55, length L (command + data + CRC, 16-bit big-endian),
// command, data, CRC-16/MODBUS of length, command and data, high byte first.
// Shared by the printer link, the firmware flasher and the simulated printer; no port in here.
namespace SerialFrame {

constexpr quint8 Preamble0 = 0xAA;
constexpr quint8 Preamble1 = 0x55;
constexpr int MinFrameSize = 7;     // a frame without data
constexpr int MaxLengthField = 0xFFFF;
constexpr int ChunkDataSize = 8192; // file bytes per transfer chunk

// Host requests.
enum Request : quint8 {
    ReqControl = 0,
    ReqStatus = 1,
    ReqHandshake = 2,
    ReqChunk = 3,
    ReqFreeSpace = 4,
    ReqLink = 5,
    ReqBootReset = 6,
    ReqJog = 7,
    ReqPX6Leveling = 8,
    ReqDoor = 9,
};

// Control codes: the first data byte of a control request.
enum Control : quint8 {
    CtlStop = 0,
    CtlBeginPrint = 1,
    CtlAnnounce = 2,
    CtlBeginLeveling = 3,
    CtlFeed = 4,
    CtlReturn = 5,
    CtlPause = 6,
    CtlResume = 7,
};

// Printer replies.
enum Reply : quint8 {
    RepResult = 0x10,
    RepStatus = 0x11,
    RepMachineInfo = 0x12,
    RepChunkAck = 0x13,
    RepFreeSpace = 0x14,
    RepLinkAnswer = 0x15,
    RepBootReset = 0x16,
    RepLevelingAck = 0x17,
    RepLevelingResult = 0x18,
    RepSetting = 0x19,
};

quint16 crc16Modbus(const char* data, qint64 size);
quint16 crc16Modbus(const QByteArray& bytes);

// The frame around a payload whose first byte is the command; empty when the payload
// is empty or too long for the 16-bit length field.
QByteArray packFrame(const QByteArray& payload);
// Command byte followed by the data; a code outside 0..255 gives the data alone.
QByteArray commandPayload(int code, const QByteArray& data);
inline QByteArray frame(int code, const QByteArray& data = QByteArray())
{
    return packFrame(commandPayload(code, data));
}

// Lower-case hex, two digits a byte, no separators.
inline QString hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

struct Frame
{
    quint8 command = 0;
    QByteArray data;
};

// Collects received bytes and yields whole frames. Works with a read offset, so a run of
// garbage or many frames in one read costs time linear in the bytes.
class Parser
{
public:
    // minimumBuffered: nothing is examined while fewer bytes wait (the link waits for 8,
    // the smallest reply). maximumLength: a larger length field is taken as garbage.
    explicit Parser(int minimumBuffered = MinFrameSize, int maximumLength = MaxLengthField);

    void append(const QByteArray& bytes);
    // The next valid frame, skipping garbage and frames with a bad CRC; false when no
    // complete frame is buffered.
    bool next(Frame* out);
    void clear();
    int buffered() const { return int(m_buffer.size()) - m_offset; }
    QByteArray pending() const { return m_buffer.mid(m_offset); }
    // Bytes thrown away so far (garbage, bad CRC, bad length).
    qint64 droppedBytes() const { return m_dropped; }

private:
    QByteArray m_buffer;
    int m_offset = 0;
    int m_minimumBuffered;
    int m_maximumLength;
    qint64 m_dropped = 0;
};

// --- request data -------------------------------------------------------------------

// 24-bit big-endian chunk number followed by the bytes.
QByteArray chunkData(quint32 number, const QByteArray& bytes);
// The name announced for a file: its file-name part, cut to 251 characters + ".BVT"
// when longer than 255.
QString announcedName(const QString& path);
// Control code 2, 32-bit size, UTF-8 name.
QByteArray announceData(quint32 size, const QString& name);
// Control code 0, sign byte (01 for z <= 0), 24-bit magnitude.
QByteArray stopLevelingData(qint64 z);
// " G0 " followed by the argument in the local 8-bit encoding.
QByteArray jogData(const QString& argument);
QByteArray doorData(int active);

// --- reply decoders -----------------------------------------------------------------

// 0x10, 0x13, 0x15, 0x17, 0x18, 0x19: byte + 1 when the byte is at most maxByte, else 0.
int replyFlag(const QByteArray& data, int maxByte);

// 0x14: free space in KiB; false when fewer than 4 bytes.
bool decodeFreeSpace(const QByteArray& data, quint32* kib);

// 0x11 status block as sent (raw numbers).
struct StatusReply
{
    int printerState = 0; // 1 printing, 2 receiving, 3 levelling, 4 tray, other idle
    int traySubState = 0;
    int statusCode = 0;   // 1..18 a fault
    int nozzleTemp = 0;
    int progress = 0;
    int pauseByte = 0;
    int bedTemp = 0;
};
constexpr int StatusReplySize = 10;
bool decodeStatus(const QByteArray& data, StatusReply* out);
QByteArray encodeStatus(const StatusReply& status);

// 0x12 machine information. Fields absent from a short reply stay unset.
struct MachineInfo
{
    int machineType = 0;      // 0 when the model bytes name no known type
    bool hasDetails = false;  // at least 6 bytes: version and door switch
    int doorActive = 0;
    QString version;
    bool hasLevelingData = false;
    int levelingData = 0;
    QString serialNumber;
    QString mac;
};
constexpr int MachineInfoMacOffset = 60;
constexpr int MachineInfoMacSize = 17;
MachineInfo decodeMachineInfo(const QByteArray& data);

// Printer side of the machine information, for the simulated printer.
struct MachineInfoRecord
{
    quint8 model = 2;
    quint8 variant = 0;
    qint8 version[3] = {1, 0, 0};
    quint8 doorActive = 0;
    qint16 levelingData = 0;
    QByteArray serialNumber;
    QByteArray mac;
};
QByteArray encodeMachineInfo(const MachineInfoRecord& info);

} // namespace SerialFrame
