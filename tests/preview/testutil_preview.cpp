#include "testutil_preview.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <thread>

#include "FileRW/BVTReader.h"
#include "FileRW/PrintTaskWriter.h"
#include "FileRW/TeaCipher.h"
#include "render/GcodePreviewData.h"

namespace PreviewTest {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QByteArray encipher(QByteArray plain)
{
    plain.append(QByteArray((8 - plain.size() % 8) % 8, '\0'));
    TeaCipher::encipherBlocks(reinterpret_cast<uint8_t*>(plain.data()), size_t(plain.size()),
                              TeaCipher::kPrintTaskKey);
    return plain;
}

QByteArray decipher(QByteArray cipher)
{
    cipher.truncate(cipher.size() & ~7);
    TeaCipher::decipherBlocks(reinterpret_cast<uint8_t*>(cipher.data()), size_t(cipher.size()),
                              TeaCipher::kPrintTaskKey);
    return cipher;
}

QStringList engineHead(const QString& printTime, const QString& filament)
{
    return {";Print time:\t" + printTime,
            ";Filament:\t" + filament,
            ";Layer height:\t0.200",
            ";Layer count:\t3",
            ";Sliced by BrevEngine",
            ";Start GCode",
            ";Middle Quality",
            "M204 T1000 P1000",
            "M104 S{temperature}",
            "M140 S{temperature}",
            "G28",
            "G1 Z5 F2000",
            "M109 S{temperature}",
            "M190 S{temperature}",
            "G92 E0"};
}

bool writePrintTask(const QString& dir, const QString& target, QStringList engineLines, int machineType)
{
    if (engineLines.isEmpty() || engineLines.last() != "M25")
        engineLines << "M25";
    const QString gcode = QDir(dir).filePath("engine.gcode");
    if (!writeFile(gcode, (engineLines.join('\n') + '\n').toLocal8Bit()))
        return false;
    PrintTaskWriter writer(machineType, 210, 60);
    const bool ok = writer.postProcess(gcode, target);
    if (!ok)
        qWarning() << "writer:" << writer.error();
    return ok;
}

QByteArray plainPrintTask(const QByteArray& engineText, qint64 engineLines, const char* model)
{
    QByteArray t = ";Brevant 1.0.00\n";
    t += "M102 L" + QByteArray::number(engineLines + 3) + "\n";
    t += QByteArray("M300 ") + model + "\n";
    t += "M998 P124\n";
    t += engineText;
    return t;
}

QByteArray boxStl(float x0, float y0, float z0, float x1, float y1, float z1)
{
    const float c[8][3] = {{x0, y0, z0}, {x1, y0, z0}, {x1, y1, z0}, {x0, y1, z0},
                           {x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z1}};
    const int f[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                          {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
    QByteArray out(80, '\0');
    const quint32 n = 12;
    out.append(reinterpret_cast<const char*>(&n), 4);
    for (const auto& t : f) {
        const float zero[3] = {0, 0, 0};
        out.append(reinterpret_cast<const char*>(zero), 12);
        for (int k : t)
            out.append(reinterpret_cast<const char*>(c[k]), 12);
        out.append(2, '\0');
    }
    return out;
}

QByteArray engineIni()
{
    QStringList start = engineHead().mid(5);
    QByteArray ini = "layerThickness = 200\ninsetCount = 2\nupSkinCount = 3\nextrusionWidth = 400\n"
                     "sparseInfillLineDistance = 2000\nplatformx=145000\nplatformy=145000\n";
    ini += "startCode = \"\"\"\n" + start.join('\n').toLatin1() + "\n\"\"\"\n";
    ini += "endCode = \"\"\"\n;End GCode\nM25\n\"\"\"\n";
    return ini;
}

LoadRun load(BVTReader& reader, const QString& path, bool takeBatches)
{
    LoadRun run;
    std::atomic<bool> done{false};
    std::atomic<int> readyCount{0};
    std::vector<bool> readies;
    std::mutex readyLock;
    reader.onGcodeReady = [&](bool over) {
        std::lock_guard<std::mutex> lk(readyLock);
        readies.push_back(over);
        readyCount.fetch_add(1);
    };
    reader.onPrintMessage = [&](const QString& t, const QString& l) {
        run.time = t;
        run.length = l;
    };
    std::thread worker([&] {
        run.ok = reader.LoadGCO(path);
        done.store(true);
    });
    GcodePreviewData& data = reader.previewData();
    bool cancelled = false;
    for (;;) {
        const bool finished = done.load();
        if (takeBatches && chunkPending.load() == 1) {
            std::vector<PointRec> pts;
            const auto& p = data.pathPoints();
            const auto& t = data.pathLineTypes();
            for (size_t i = data.carriedPointCount(); i < p.size(); ++i)
                pts.push_back({t[i], p[i].x, p[i].y, p[i].z});
            run.batches.push_back(std::move(pts));
            data.takeChunk([&](const ToolPathMesh& m) { run.chunkTriangles.push_back(m.triangleCount()); });
            continue;
        }
        if (finished)
            break;
        if (!takeBatches && !cancelled && readyCount.load() > 0) {
            // Give the reader time to start waiting, then call it off.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            reader.cancel->store(true);
            cancelled = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    worker.join();
    run.readies = readies;
    return run;
}

} // namespace PreviewTest
