// Print-task file: the input is the plain text, enciphered here as the writer does, so that the
// mutations reach the header and move parser. The reader runs on a worker thread while this
// thread takes its batches, as the renderer does.
#include <QByteArray>

#include <atomic>
#include <chrono>
#include <thread>

#include "FileRW/BVTReader.h"
#include "FileRW/TeaCipher.h"
#include "FuzzInput.h"
#include "render/GcodePreviewData.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::quietQt();
    QByteArray text(reinterpret_cast<const char*>(data), int(size));
    text.append(QByteArray((8 - text.size() % 8) % 8, '\0'));
    TeaCipher::encipherBlocks(reinterpret_cast<uint8_t*>(text.data()), size_t(text.size()), TeaCipher::kPrintTaskKey);
    const QString path = fuzz::inputFile(reinterpret_cast<const uint8_t*>(text.constData()), size_t(text.size()), ".bvt");

    GcodePreviewData preview;
    BVTReader reader(preview, 1, 145.0, 145.0);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        reader.LoadGCO(path);
        done = true;
    });
    while (!done.load()) {
        if (!preview.takeChunk([](const auto&) {}))
            std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    worker.join();
    return 0;
}
