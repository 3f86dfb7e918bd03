#include "scene/SceneBudget.h"

#include <QCoreApplication>

#include <atomic>

#include <unistd.h>

#include "scene/MeshData.h"

namespace {
std::atomic<qint64> g_bytesForTests{0};

QString number(double v)
{
    return QString::number(v, 'g', 3);
}

QString limit()
{
    return QString::number(SceneBudget::kMaxLengthMm, 'f', 0);
}

QString translated(const char* text)
{
    return QCoreApplication::translate("SceneBudget", text);
}
} // namespace

qint64 SceneBudget::memoryBytes()
{
    if (const qint64 forTests = g_bytesForTests.load())
        return forTests;
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return qint64(4) << 30;
    return qint64(pages) * qint64(pageSize) / 2;
}

void SceneBudget::setMemoryBytesForTests(qint64 bytes)
{
    g_bytesForTests = bytes;
}

bool SceneBudget::admitsModels(qint64 inScene, qint64 adding, QString* reason)
{
    if (inScene + adding <= kMaxModels)
        return true;
    if (reason) {
        *reason = inScene == 0
            ? translated(QT_TRANSLATE_NOOP("SceneBudget", "The file holds %1 models; at most %2 fit on the plate."))
                  .arg(adding)
                  .arg(kMaxModels)
            : translated(QT_TRANSLATE_NOOP("SceneBudget", "The plate holds %1 models and the file %2 more; at most %3 fit on the plate."))
                  .arg(inScene)
                  .arg(adding)
                  .arg(kMaxModels);
    }
    return false;
}

bool SceneBudget::admitsMesh(const MeshData& mesh, QString* reason)
{
    for (const auto& v : mesh.vertices) {
        for (double c : v) {
            if (!admitsLength(c)) {
                if (reason)
                    *reason = lengthReason(c);
                return false;
            }
        }
    }
    return true;
}

QString SceneBudget::lengthReason(double mm)
{
    return translated(QT_TRANSLATE_NOOP("SceneBudget", "The model reaches %1 mm from the origin; a printer can use at most %2 mm."))
        .arg(number(std::abs(mm)), limit());
}

QString SceneBudget::scaleReason(double scale, double mm)
{
    return translated(QT_TRANSLATE_NOOP("SceneBudget", "A model scaled by %1 would be %2 mm long; a printer can use at most %3 mm."))
        .arg(number(scale), number(mm), limit());
}

QString SceneBudget::supportSizeReason(double mm)
{
    return translated(QT_TRANSLATE_NOOP("SceneBudget", "The supports would be %1 mm wide; a printer can use at most %2 mm."))
        .arg(number(mm), limit());
}
