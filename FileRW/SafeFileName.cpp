#include "FileRW/SafeFileName.h"

#include <algorithm>

namespace {
// Leaves room for the suffixes added to a name (".BVT0.tmp", "_CN.log") within the 255 bytes
// that file systems hold.
constexpr int kMaxNameBytes = 200;

bool isReservedDevice(const QString& name)
{
    // Windows opens a device for these names, with any suffix.
    const QString stem = name.section('.', 0, 0).trimmed().toUpper();
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* d : devices)
        if (stem == QLatin1String(d))
            return true;
    return stem.size() == 4 && (stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT")))
        && stem[3] >= '0' && stem[3] <= '9';
}
} // namespace

QString safeFileName(const QString& name, const QString& fallback)
{
    QString out;
    out.reserve(std::min(name.size(), kMaxNameBytes));
    int bytes = 0; // as UTF-8, cut at whole characters
    for (int i = 0; i < name.size(); ++i) {
        const ushort u = name.at(i).unicode();
        const bool pair = name.at(i).isHighSurrogate() && i + 1 < name.size() && name.at(i + 1).isLowSurrogate();
        const int length = pair ? 4 : u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
        if (bytes + length > kMaxNameBytes)
            break;
        bytes += length;
        if (pair) {
            out += name.at(i);
            out += name.at(++i);
            continue;
        }
        const bool bad = u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == '/' || u == '\\' || u == ':'
                         || u == '*' || u == '?' || u == '"' || u == '<' || u == '>' || u == '|'
                         || name.at(i).isSurrogate();
        out += bad ? QChar('_') : name.at(i);
    }
    // Windows drops trailing dots and blanks, which would turn "..." into nothing and "a." into "a".
    while (!out.isEmpty() && (out.endsWith('.') || out.endsWith(' ')))
        out.chop(1);
    if (out.trimmed().isEmpty() || isReservedDevice(out))
        return fallback;
    return out;
}

bool isSafeFileName(const QString& name)
{
    return !name.isEmpty() && safeFileName(name, QString()) == name;
}
