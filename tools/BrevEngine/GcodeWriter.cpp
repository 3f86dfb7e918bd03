#include "GcodeWriter.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace brev {

std::string printTimeText(double seconds)
{
    long long total = std::llround(std::max(0.0, seconds));
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
    return buf;
}

bool writeGcode(const std::string& outputPath, const EngineSettings& settings,
                const std::vector<LayerCode>& layers, std::string& error)
{
    double seconds = 0;
    double filament = 0;
    for (const LayerCode& l : layers) {
        seconds += l.seconds;
        filament += l.filamentMm;
    }
    std::string head;
    char buf[256];
    head += ";Print time:\t" + printTimeText(seconds) + "\n";
    std::snprintf(buf, sizeof buf, ";Filament:\t%.1fmm\n", filament);
    head += buf;
    std::snprintf(buf, sizeof buf, ";Layer height:\t%.3f\n", double(settings.layerThicknessUm) / 1000.0);
    head += buf;
    head += ";Layer count:\t" + std::to_string(layers.size()) + "\n";
    head += ";Sliced by BrevEngine\n";
    for (const std::string& line : settings.startCode)
        head += line + "\n";
    std::string tail;
    for (const std::string& line : settings.endCode)
        tail += line + "\n";

    const std::string tmpPath = outputPath + "0.tmp";
    FILE* f = std::fopen(tmpPath.c_str(), "wb");
    if (!f) {
        error = "cannot create the output file " + tmpPath;
        return false;
    }
    errno = 0;
    bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size();
    for (size_t i = 0; ok && i < layers.size(); ++i)
        ok = std::fwrite(layers[i].text.data(), 1, layers[i].text.size(), f) == layers[i].text.size();
    ok = ok && std::fwrite(tail.data(), 1, tail.size(), f) == tail.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        // The system's reason (a full disk, say) goes with it: the host shows it to the user.
        const int why = errno;
        std::remove(tmpPath.c_str());
        error = "cannot write the output file " + tmpPath + (why ? std::string(" (") + std::strerror(why) + ")" : "");
        return false;
    }
    if (std::rename(tmpPath.c_str(), outputPath.c_str()) != 0) {
        std::remove(tmpPath.c_str());
        error = "cannot rename the output file to " + outputPath;
        return false;
    }
    return true;
}

} // namespace brev
