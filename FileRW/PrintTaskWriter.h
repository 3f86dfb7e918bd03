#pragma once

#include <QByteArray>
#include <QString>

// Turns the engine's G-code into the enciphered print-task file: a four-line header, the
// temperatures filled into the start code, every line ended by "\n", then TEA over 8-byte
// blocks. Streams in two passes, so a G-code of millions of lines is never held whole, and
// replaces the target only when everything was written.
class PrintTaskWriter
{
public:
    // What the first pass learns.
    struct Scan
    {
        qint64 lineCount = 0; // non-empty lines of the engine's G-code
        QByteArray secondLine;
        QByteArray lastLine;
    };

    PrintTaskWriter(int machineType, int temperature, int hotbed);

    // Reads gcodePath (left in place) and writes the print-task file at targetPath.
    // On failure the target is untouched and error() says why.
    bool postProcess(const QString& gcodePath, const QString& targetPath);

    // First pass: counts lines and keeps the second and the last.
    bool scanGcode(const QString& gcodePath, Scan& scan);
    // Second pass: header, temperatures and cipher, into a temporary file renamed over target.
    bool encryptPrintFile(const QString& gcodePath, const QString& targetPath, const Scan& scan);

    const QString& error() const { return errorText; }
    // The part of a failure the user can act on (the print-task file could not be written),
    // translated; empty when the engine's output was at fault.
    const QString& userError() const { return userText; }

    // "PX6_A" for type 2, "PX6_B" for type 3, "PX5" otherwise.
    static QByteArray modelName(int machineType);
    // The filament length in whole millimetres (rounded up) from the engine's second line,
    // ";Filament:\t123.4mm". Text that is no number gives 0; false for a negative,
    // non-finite or too large value.
    static bool filamentLength(const QByteArray& secondLine, int& mm);

private:
    int machineType;
    int temperature;
    int hotbed;
    QString errorText;
    QString userText;
};
