// The update server's documents: the program's version entry and a printer's firmware list,
// with the version comparison their answers go through.
#include "FuzzInput.h"
#include "Update/Firmware/DownloadFirmware.h"
#include "Update/UpdateServer.h"
#include "Update/UpdaterTarni.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::quietQt();
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    UpdaterTarni::Entry entry;
    if (UpdaterTarni::readDocument(bytes, QStringLiteral("windows64"), entry))
        UpdateServer::isNewerVersion(entry.latestVersion, QStringLiteral("3.0.7"));
    DownloadFirmware::Items items;
    if (DownloadFirmware::readItems(bytes, items)) {
        for (const QString& v : items.versions)
            UpdateServer::isNewerVersion(v, QStringLiteral("1.2.10"));
    }
    return 0;
}
