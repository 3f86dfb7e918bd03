#include "FileRW/PrintTaskWriter.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "FileRW/CheckedWriter.h"
#include "FileRW/TeaCipher.h"

namespace {

constexpr qint64 kReadBlock = 4 << 20;
// G-code lines are short; a longer one means the input is not G-code.
constexpr qint64 kMaxLine = 16 << 20;
constexpr int kOutBlock = 8 << 20;

// Splits a file into lines the way "\r?\n+" splits text: a line ends at "\n", one "\r"
// before it goes with the separator, and empty lines vanish.
class LineReader
{
public:
    explicit LineReader(const QString& path) : file(path) {}
    bool open() { return file.open(QIODevice::ReadOnly); }
    bool failed() const { return tooLong || readError; }

    // The next non-empty line; false at the end or on an error (see failed()).
    bool next(const char*& line, qint64& length)
    {
        for (;;) {
            const char* begin = buffer.constData() + pos;
            const qint64 avail = buffer.size() - pos;
            const char* nl = static_cast<const char*>(std::memchr(begin, '\n', size_t(avail)));
            if (nl) {
                qint64 len = nl - begin;
                pos += len + 1;
                if (len > 0 && begin[len - 1] == '\r')
                    --len;
                if (len == 0)
                    continue;
                line = begin;
                length = len;
                return true;
            }
            if (atEnd) {
                // The last line without a line end keeps a trailing "\r".
                if (avail == 0)
                    return false;
                pos = buffer.size();
                line = begin;
                length = avail;
                return true;
            }
            if (avail > kMaxLine) {
                tooLong = true;
                return false;
            }
            refill();
        }
    }

private:
    void refill()
    {
        buffer.remove(0, int(pos));
        pos = 0;
        const int old = buffer.size();
        buffer.resize(old + int(kReadBlock));
        qint64 got = file.read(buffer.data() + old, kReadBlock);
        if (got < 0) {
            readError = true;
            got = 0;
        }
        buffer.resize(old + int(got));
        if (got == 0)
            atEnd = true;
    }

    QFile file;
    QByteArray buffer;
    qint64 pos = 0;
    bool atEnd = false;
    bool tooLong = false;
    bool readError = false;
};

// Collects plain text and writes it enciphered, whole blocks at a time; the zero padding
// of the final block comes at finish().
class CipherSink
{
public:
    explicit CipherSink(CheckedWriter& f) : out(f) { buffer.reserve(kOutBlock + 4096); }

    bool append(const char* data, qint64 length)
    {
        buffer.append(data, int(length));
        return buffer.size() < kOutBlock || flushBlocks();
    }

    bool finish()
    {
        const int padded = (buffer.size() + 7) & ~7;
        buffer.append(QByteArray(padded - buffer.size(), '\0'));
        return flushBlocks();
    }

private:
    bool flushBlocks()
    {
        const int whole = buffer.size() & ~7;
        auto* data = reinterpret_cast<uint8_t*>(buffer.data());
        TeaCipher::encipherBlocks(data, size_t(whole), TeaCipher::kPrintTaskKey);
        const bool ok = out.write(buffer.constData(), whole);
        buffer.remove(0, whole);
        return ok;
    }

    CheckedWriter& out;
    QByteArray buffer;
};

bool containsNoCase(const QByteArray& line, const char* pattern)
{
    return line.toUpper().contains(QByteArray(pattern).toUpper());
}

} // namespace

PrintTaskWriter::PrintTaskWriter(int type, int nozzle, int bed)
    : machineType(type), temperature(nozzle), hotbed(bed)
{
}

QByteArray PrintTaskWriter::modelName(int type)
{
    if (type == 2)
        return "PX6_A";
    if (type == 3)
        return "PX6_B";
    return "PX5";
}

bool PrintTaskWriter::filamentLength(const QByteArray& secondLine, int& mm)
{
    QByteArray text = secondLine;
    text.replace(";Filament:\t", "");
    text.replace("mm", "");
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok) {
        mm = 0;
        return true;
    }
    const double up = std::ceil(value);
    if (!std::isfinite(up) || up < 0.0 || up > double(std::numeric_limits<int>::max()))
        return false;
    mm = int(up);
    return true;
}

bool PrintTaskWriter::postProcess(const QString& gcodePath, const QString& targetPath)
{
    Scan scan;
    errorText.clear();
    userText.clear();
    return scanGcode(gcodePath, scan) && encryptPrintFile(gcodePath, targetPath, scan);
}

bool PrintTaskWriter::scanGcode(const QString& gcodePath, Scan& scan)
{
    LineReader reader(gcodePath);
    if (!reader.open()) {
        errorText = QStringLiteral("cannot open the engine output %1").arg(gcodePath);
        return false;
    }
    scan = Scan();
    // Only the final line is wanted; lines are copied into a small buffer, never allocated.
    char last[8];
    qint64 lastLength = 0;
    const char* line = nullptr;
    qint64 length = 0;
    while (reader.next(line, length)) {
        if (++scan.lineCount == 2)
            // A line this long is no number; it reads as 0 like any other text.
            scan.secondLine = length <= 4096 ? QByteArray(line, int(length)) : QByteArray("-");
        lastLength = length;
        if (length <= qint64(sizeof last))
            std::memcpy(last, line, size_t(length));
    }
    if (lastLength <= qint64(sizeof last))
        scan.lastLine = QByteArray(last, int(lastLength));
    else
        scan.lastLine = QByteArray(); // too long to be "M25"
    if (reader.failed()) {
        errorText = QStringLiteral("cannot read the engine output %1").arg(gcodePath);
        return false;
    }
    if (scan.lineCount < 2) {
        errorText = QStringLiteral("the engine output has no second line");
        return false;
    }
    if (scan.lastLine != "M25") {
        errorText = QStringLiteral("the engine output does not end with M25");
        return false;
    }
    return true;
}

bool PrintTaskWriter::encryptPrintFile(const QString& gcodePath, const QString& targetPath,
                                       const Scan& scan)
{
    int filament = 0;
    if (!filamentLength(scan.secondLine, filament)) {
        errorText = QStringLiteral("the engine's filament length is out of range");
        return false;
    }
    LineReader reader(gcodePath);
    if (!reader.open()) {
        errorText = QStringLiteral("cannot open the engine output %1").arg(gcodePath);
        return false;
    }
    CheckedWriter out(targetPath);
    if (!out.open()) {
        errorText = out.errorString();
        userText = errorText;
        return false;
    }
    CipherSink sink(out);

    QByteArray header = ";Brevant 1.0.00\n";
    header += "M102 L" + QByteArray::number(scan.lineCount + 3) + '\n';
    header += "M300 " + modelName(machineType) + '\n';
    header += "M998 P" + QByteArray::number(filament) + '\n';
    bool ok = sink.append(header.constData(), header.size());

    const QByteArray placeholder = "{temperature}";
    const QByteArray nozzle = QByteArray::number(temperature);
    const QByteArray nozzleWait = QByteArray::number(temperature + 10);
    const QByteArray bed = QByteArray::number(hotbed);
    bool scanning = true;
    const char* line = nullptr;
    qint64 length = 0;
    qint64 written = 0;
    while (ok && reader.next(line, length)) {
        ++written;
        // Placeholders are filled only up to the first bed-wait line, the end of the start
        // code; a line without "{" cannot hold one.
        if (scanning && std::memchr(line, '{', size_t(length))) {
            QByteArray text(line, int(length));
            const QByteArray* value = nullptr;
            if (containsNoCase(text, "M104 S{temperature}"))
                value = &nozzle;
            else if (containsNoCase(text, "M109 S{temperature}"))
                value = &nozzleWait;
            else if (containsNoCase(text, "M140 S{temperature}"))
                value = &bed;
            else if (containsNoCase(text, "M190 S{temperature}")) {
                value = &bed;
                scanning = false;
            }
            if (value)
                text.replace(placeholder, *value);
            text += '\n';
            ok = sink.append(text.constData(), text.size());
            continue;
        }
        ok = sink.append(line, length) && sink.append("\n", 1);
    }
    if (!ok || reader.failed() || written != scan.lineCount) {
        userText = out.errorString(); // empty when the engine's output was at fault
        errorText = out.failed() ? userText : QStringLiteral("cannot read the engine output %1").arg(gcodePath);
        out.cancel();
        return false;
    }
    if (!sink.finish() || !out.commit()) {
        errorText = out.errorString();
        userText = errorText;
        return false;
    }
    return true;
}
