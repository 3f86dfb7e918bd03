#include "scene/IniFileEditor.h"

#include <QFile>
#include <QRegExp>

#include "FileRW/CheckedWriter.h"

namespace {

// The key must be followed by one non-word character, so "raftAirGap" does not match
// "raftAirGapLayer0"; the key goes in unescaped, so it may carry its own trailing blank.
QRegExp keyPattern(const QString& key)
{
    return QRegExp("^" + key + "([\\W])", Qt::CaseSensitive);
}

bool isKeyLine(const QRegExp& pattern, const QString& line)
{
    return pattern.indexIn(line) == 0 && line.contains('=');
}

} // namespace

IniFileEditor::IniFileEditor() = default;
IniFileEditor::~IniFileEditor() = default;

bool IniFileEditor::load(const QString& p)
{
    path = p;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    while (!file.atEnd())
        lines.append(QString::fromLocal8Bit(file.readLine()));
    return true;
}

QString IniFileEditor::getValue(const QString& key) const
{
    const QRegExp pattern = keyPattern(key);
    for (const QString& line : lines) {
        if (line == "\n" || !isKeyLine(pattern, line))
            continue;
        return line.mid(line.lastIndexOf('=') + 1);
    }
    return QString();
}

void IniFileEditor::setValue(const QString& key, const QVariant& value, const QString& anchor)
{
    if (lines.isEmpty())
        return;
    const QString newLine = key + " = " + value.toString() + "\n";
    const QRegExp pattern = keyPattern(key);
    QStringList out;
    out.reserve(lines.size() + 1);
    bool found = false;
    for (const QString& original : qAsConst(lines)) {
        if (original == "\n")
            continue;
        const QString& line = isKeyLine(pattern, original) ? newLine : original;
        if (&line == &newLine)
            found = true;
        if (!found && !anchor.isEmpty() && line.contains(anchor)) {
            out.append(newLine);
            found = true;
        }
        out.append(line);
    }
    if (!found)
        out.append(newLine);
    lines = out;
}

void IniFileEditor::setValue(const QString& key, const QVariant& value)
{
    setValue(key, value, QString());
}

void IniFileEditor::removeKey(const QString& key)
{
    QStringList out;
    for (const QString& line : qAsConst(lines)) {
        if (line == "\n" || (line.contains(key) && line.contains('=')))
            continue;
        out.append(line);
    }
    lines = out;
}

bool IniFileEditor::save(QString* error)
{
    CheckedWriter file(path);
    bool ok = file.open(true);
    for (const QString& line : qAsConst(lines))
        ok = ok && file.write(line.toLocal8Bit());
    ok = ok && file.write("\n", 1) && file.commit();
    if (!ok && error)
        *error = file.errorString();
    return ok;
}
