#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace SliceTest {

// Runs tests/slice/tea_reference.py on jobs of three: mode ("encipher" or "decipher"),
// source, destination. False when python3 cannot run it.
bool runReferenceCipher(const QStringList& jobs);

QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& data);

// Deciphers a print-task file with the program's own cipher and cuts the zero padding.
QByteArray decipherPrintTask(const QString& path);

// A small engine G-code: the lines as the engine writes them, with "\n" after each.
QByteArray engineGcode(const QStringList& lines, const char* lineEnd = "\n");

} // namespace SliceTest
