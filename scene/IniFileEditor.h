#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

// A line editor for the engine's "key = value" files. Every line it does not touch stays as
// read, including the engine's multi-line blocks between lines of three double quotes.
class IniFileEditor
{
public:
    IniFileEditor();
    ~IniFileEditor();

    // Reads the file line by line, each line keeping its "\n".
    bool load(const QString& path);
    // The text after the last "=" of the first line of the key, line end included.
    QString getValue(const QString& key) const;
    // Replaces every line of the key; a missing key goes just before the first line holding
    // anchor, or at the end. Blank lines are dropped on the way.
    void setValue(const QString& key, const QVariant& value, const QString& anchor);
    void setValue(const QString& key, const QVariant& value);
    void removeKey(const QString& key);
    void setLines(const QStringList& l) { lines = l; }
    const QStringList& getLines() const { return lines; }
    // Writes every line and one extra line end; false when the file could not be written,
    // with the reason for the user in error. A failed save leaves the file as it was.
    bool save(QString* error = nullptr);

private:
    QStringList lines;
    QString path;
};
