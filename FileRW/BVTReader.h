#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include <QString>

class FileReaderWriter;
class GcodePreviewData;

// Reads a print-task file back for the tool-path preview: deciphers it, checks its header
// and the printer model, reports print time and filament length, and replays its moves into
// the preview container in batches of 2,000,000 lines, waiting for the renderer to take each
// batch. The file is untrusted: every check is made on the whole text before the container
// is touched, so a refused file never shows.
class BVTReader
{
public:
    BVTReader(GcodePreviewData& preview, int machineType, double boxLength, double boxWidth);

    // The whole load; true when every line was read into the preview. The caller resets
    // an outside cancel flag for each load (the reader's own flag is reset here).
    bool LoadGCO(const QString& path);

    // The file worker's entry for ".bvt" loads (FileRWThread::setPrintTaskReader): reads into
    // AppData's preview for its machine, with the worker's progress, cancel flag and signals.
    static bool loadForFileWorker(FileReaderWriter& rw, const QString& path);

    // Wiring of the caller (the file worker's reader relays them as its signals).
    std::function<void(const QString& time, const QString& length)> onPrintMessage;
    std::function<void(bool isover)> onGcodeReady;
    // 0 to 10000 while loading; may point at the caller's polled field.
    std::atomic<int>* progress = &ownProgress;
    // Raised by another thread to give up the wait for the renderer (and the load).
    std::atomic<bool>* cancel = &ownCancel;

    GcodePreviewData& previewData() const { return preview; }

    // What the last load found.
    QString modelName;
    QString printTime;
    QString filamentLength;
    QString refusal;   // why the last load failed, empty after success
    qint64 lineCount = 0; // lines after the first block
    int step = 1;      // thinning step for layers from the sixth on
    int batches = 0;
    int layerCount = 0; // heights at which the file extrudes, rising, as counted while parsing
    int keptLayers = 0; // layers not thinned away

    // Lines are parsed in pieces of about this many bytes, one per thread; tests lower it to put
    // piece ends at awkward places (0 restores it).
    static void setPieceBytesForTests(size_t bytes);

    // Limits of the format.
    static constexpr int kMaxLineBytes = 255;
    static constexpr qint64 kBatchLines = 2000000;
    static constexpr qint64 kMaxLines = 30000001;

private:
    bool fail(const QString& why);
    bool readText(const QString& path);
    bool readHeader();
    bool replay();
    void setProgress(int p) { progress->store(p, std::memory_order_relaxed); }

    GcodePreviewData& preview;
    int machineType;
    double offsetX = 0.0, offsetY = 0.0;
    std::atomic<int> ownProgress{0};
    std::atomic<bool> ownCancel{false};

    // The deciphered file; text runs from textBegin to textEnd (one past the last line feed).
    std::unique_ptr<char[]> data;
    size_t textBegin = 0, textEnd = 0;
};
