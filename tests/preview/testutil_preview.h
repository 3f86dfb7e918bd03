#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <vector>

class GcodePreviewData;
class BVTReader;

namespace PreviewTest {

QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& data);

// Pads with zero bytes to whole blocks and enciphers with the print-task key.
QByteArray encipher(QByteArray plain);
QByteArray decipher(QByteArray cipher);

// The engine's head as it writes it: five comment lines and ten lines of start code; the
// print-task writer puts four lines in front, so moves begin at the reader's line 18.
QStringList engineHead(const QString& printTime = QStringLiteral("0:10:00"),
                       const QString& filament = QStringLiteral("123.2mm"));

// Runs the program's print-task writer on the engine lines (M25 is appended when missing).
bool writePrintTask(const QString& dir, const QString& target, QStringList engineLines, int machineType);

// The plain text of a print-task file around the given engine lines, enciphered without the
// writer (for files too large or too odd for it): line 1, M102 with the right count, M300.
QByteArray plainPrintTask(const QByteArray& engineText, qint64 engineLines, const char* model = "PX5");

// A binary STL of an axis-aligned box, and an engine ini whose start code matches engineHead.
QByteArray boxStl(float x0, float y0, float z0, float x1, float y1, float z1);
QByteArray engineIni();

// What a load gave, seen from the "GUI" side.
struct PointRec
{
    int type;
    double x, y, z;
};
struct LoadRun
{
    bool ok = false;
    std::vector<bool> readies;          // isover of each ready call, in order
    std::vector<std::vector<PointRec>> batches; // the points of each batch taken
    std::vector<int> chunkTriangles;    // triangles of each uploaded chunk
    QString time, length;
};

// Loads path on a worker thread; this thread plays the renderer and takes every batch.
// With takeBatches false nobody takes them (the reader then waits until cancelled).
LoadRun load(BVTReader& reader, const QString& path, bool takeBatches = true);

} // namespace PreviewTest
