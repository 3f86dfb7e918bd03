#include "EngineSettings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace brev {

namespace {

const char* const kBlockMark = "\"\"\"";
// A profile has about 150 lines; anything far larger is not an ini of ours.
constexpr long kMaxIniBytes = 16L * 1024 * 1024;

bool parseDouble(const std::string& text, double& out)
{
    std::string t = trimmed(text);
    if (t.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(t.c_str(), &end);
    if (errno == ERANGE || end != t.c_str() + t.size() || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

} // namespace

std::string trimmed(const std::string& s)
{
    size_t b = 0;
    size_t e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n'))
        --e;
    return s.substr(b, e - b);
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        size_t end = nl == std::string::npos ? text.size() : nl;
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        if (nl == std::string::npos)
            break;
        start = nl + 1;
    }
    return lines;
}

bool EngineSettings::loadIniFile(const std::string& path, std::string& error)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot open the ini file " + path;
        return false;
    }
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        text.append(buf, n);
        if (static_cast<long>(text.size()) > kMaxIniBytes) {
            std::fclose(f);
            error = "the ini file is too large";
            return false;
        }
    }
    bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (readError) {
        error = "cannot read the ini file " + path;
        return false;
    }
    return loadIniText(text, error);
}

bool EngineSettings::loadIniText(const std::string& text, std::string& error)
{
    std::vector<std::string> lines = splitLines(text);
    std::string blockKey;
    std::string block;
    bool inBlock = false;
    for (const std::string& line : lines) {
        if (inBlock) {
            if (trimmed(line) == kBlockMark) {
                values_[blockKey] = block;
                inBlock = false;
            } else {
                block += line;
                block += '\n';
            }
            continue;
        }
        std::string t = trimmed(line);
        if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[')
            continue;
        size_t eq = t.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = trimmed(t.substr(0, eq));
        std::string value = trimmed(t.substr(eq + 1));
        if (key.empty())
            continue;
        if (value == kBlockMark) {
            blockKey = key;
            block.clear();
            inBlock = true;
        } else {
            values_[key] = value;
        }
    }
    if (inBlock) {
        error = "the ini block " + blockKey + " is not closed";
        return false;
    }
    return true;
}

bool EngineSettings::applyOverride(const std::string& keyValue, std::string& error)
{
    size_t eq = keyValue.find('=');
    std::string key = eq == std::string::npos ? std::string() : trimmed(keyValue.substr(0, eq));
    if (key.empty()) {
        error = "a setting override needs the form key=value";
        return false;
    }
    values_[key] = trimmed(keyValue.substr(eq + 1));
    return true;
}

std::string EngineSettings::raw(const std::string& key) const
{
    auto it = values_.find(key);
    return it == values_.end() ? std::string() : it->second;
}

bool EngineSettings::number(const std::string& key, double fallback, double lo, double hi,
                            double& out, std::string& error) const
{
    auto it = values_.find(key);
    if (it == values_.end()) {
        out = fallback;
        return true;
    }
    double v = 0;
    if (!parseDouble(it->second, v)) {
        error = "the setting " + key + " is not a number";
        return false;
    }
    if (v < lo || v > hi) {
        error = "the setting " + key + " is out of range";
        return false;
    }
    out = v;
    return true;
}

bool EngineSettings::lengthUm(const std::string& key, int64_t fallback, int64_t lo, int64_t hi,
                              int64_t& out, std::string& error) const
{
    double v = 0;
    if (!number(key, static_cast<double>(fallback), static_cast<double>(lo),
                static_cast<double>(hi), v, error))
        return false;
    out = std::llround(v);
    return true;
}

bool EngineSettings::count(const std::string& key, int fallback, int lo, int hi, int& out,
                           std::string& error) const
{
    double v = 0;
    if (!number(key, fallback, lo, hi, v, error))
        return false;
    out = static_cast<int>(std::lround(v));
    return true;
}

bool EngineSettings::resolve(std::string& error)
{
    constexpr int64_t kMaxPlaneUm = 100000000; // 100 m: keeps every coordinate well inside 32 bits
    double d = 0;
    bool ok =
        lengthUm("layerThickness", 140, 10, 2000, layerThicknessUm, error)
        && lengthUm("initialLayerThickness", layerThicknessUm, 10, 2000, initialLayerThicknessUm, error)
        && lengthUm("extrusionWidth", 400, 50, 5000, extrusionWidthUm, error)
        && lengthUm("filamentDiameter", 1750, 100, 10000, filamentDiameterUm, error)
        && number("filamentFlow", 100.0, 1.0, 1000.0, filamentFlowPercent, error)
        && count("insetCount", 3, 0, 100, insetCount, error)
        && lengthUm("insetminiwidth", extrusionWidthUm, 0, 100000, insetMinWidthUm, error)
        && count("upSkinCount", 5, 0, 10000, upSkinCount, error)
        && count("downSkinCount", upSkinCount, 0, 10000, downSkinCount, error)
        && lengthUm("skinLineSpacing", extrusionWidthUm, 10, 100000, skinLineSpacingUm, error)
        && lengthUm("sparseInfillLineDistance", 2000, 0, 1000000, sparseInfillLineDistanceUm, error)
        && count("infillPattern", 1, -1000, 1000, infillPattern, error)
        && number("infillOverlap", 15.0, 0.0, 100.0, infillOverlapPercent, error)
        && number("printSpeed", 50.0, 0.1, 2000.0, printSpeed, error)
        && number("initialLayerSpeed", std::min(20.0, printSpeed), 0.1, 2000.0, initialLayerSpeed, error)
        && number("inset0Speed", printSpeed, 0.1, 2000.0, inset0Speed, error)
        && number("insetXSpeed", printSpeed, 0.1, 2000.0, insetXSpeed, error)
        && number("infillSpeed", printSpeed, 0.1, 2000.0, infillSpeed, error)
        && number("skinSpeed", infillSpeed, 0.1, 2000.0, skinSpeed, error)
        && number("supportSpeed", printSpeed, 0.1, 2000.0, supportSpeed, error)
        && number("moveSpeed", 100.0, 0.1, 2000.0, moveSpeed, error)
        && lengthUm("retractionAmount", 1000, 0, 100000, retractionAmountUm, error)
        && number("retractionSpeed", 40.0, 0.1, 2000.0, retractionSpeed, error)
        && lengthUm("retractionMinimalDistance", 1500, 0, 1000000, retractionMinimalDistanceUm, error)
        && number("manualSupportEnable", 0, -1e9, 1e9, d, error)
        && lengthUm("manualSupportSideLen", 2000, 100, 1000000, manualSupportSideLenUm, error)
        && lengthUm("supportLineDistance", 2000, 0, 1000000, supportLineDistanceUm, error)
        && lengthUm("supportXYDistance", 700, 0, 100000, supportXYDistanceUm, error)
        && lengthUm("supportZDistanceTop", 280, 0, 100000, supportZDistanceTopUm, error)
        && lengthUm("supportZDistanceBottom", supportZDistanceTopUm, 0, 100000, supportZDistanceBottomUm, error)
        && lengthUm("supportReferLayerThickness", layerThicknessUm, 10, 100000, supportReferLayerThicknessUm, error)
        && number("supportAngle", -1, -1e9, 1e9, supportAngle, error)
        && count("supportType", 1, -1000, 1000, supportType, error)
        && lengthUm("supportTreeRadiusMax", 3000, 100, 100000, supportTreeRadiusMaxUm, error)
        && lengthUm("raftBaseThickness", 0, 0, 5000, raftBaseThicknessUm, error)
        && lengthUm("raftInterfaceThickness", 0, 0, 5000, raftInterfaceThicknessUm, error)
        && lengthUm("raftSurfaceThickness", 0, 0, 5000, raftSurfaceThicknessUm, error)
        && number("raftAirGap", 0, -5000, 5000, raftAirGapUm, error)
        && number("raftAirGapLayer0", 0, -5000, 5000, raftAirGapLayer0Um, error)
        && number("insetraftAirGapLayer0", raftAirGapLayer0Um, -5000, 5000, insetRaftAirGapLayer0Um, error)
        && lengthUm("raftMargin", 3000, 0, 100000, raftMarginUm, error)
        && number("raftBaseSpeed", std::min(15.0, initialLayerSpeed), 0.1, 2000.0, raftBaseSpeed, error)
        && number("raftInterfaceSpeed", supportSpeed, 0.1, 2000.0, raftInterfaceSpeed, error)
        && number("raftSurfaceSpeed", supportSpeed, 0.1, 2000.0, raftSurfaceSpeed, error)
        && lengthUm("retractionZHop", 0, 0, 100000, retractionZHopUm, error)
        && lengthUm("posx", 0, -kMaxPlaneUm, kMaxPlaneUm, posxUm, error)
        && lengthUm("posy", 0, -kMaxPlaneUm, kMaxPlaneUm, posyUm, error)
        && lengthUm("platformx", 0, 0, kMaxPlaneUm, platformXUm, error)
        && lengthUm("platformy", 0, 0, kMaxPlaneUm, platformYUm, error);
    if (!ok)
        return false;
    manualSupportEnable = d != 0;
    // Lines closer than their own width would only pile up plastic.
    if (sparseInfillLineDistanceUm > 0 && sparseInfillLineDistanceUm < extrusionWidthUm)
        sparseInfillLineDistanceUm = extrusionWidthUm;
    if (skinLineSpacingUm < extrusionWidthUm / 2)
        skinLineSpacingUm = extrusionWidthUm / 2;
    if (supportLineDistanceUm < extrusionWidthUm)
        supportLineDistanceUm = extrusionWidthUm;
    // Narrower stretches are the rounding noise of the outlines, not walls.
    insetMinWidthUm = std::max<int64_t>(insetMinWidthUm, 20);
    // Steeper than this every layer would need support, and the lean would not be finite.
    if (supportAngle > 89)
        supportAngle = 89;
    if (supportType != 2)
        supportType = 1;
    // Nothing holds the raft's upper layers without its base.
    if (raftBaseThicknessUm == 0)
        raftInterfaceThicknessUm = raftSurfaceThicknessUm = 0;
    // A gap below the raft top would print the model into the raft.
    raftAirGapLayer0Um = std::max(0.0, raftAirGapLayer0Um);
    insetRaftAirGapLayer0Um = std::max(0.0, insetRaftAirGapLayer0Um);

    supportPoints.clear();
    if (manualSupportEnable) {
        // x y z triples separated by blanks or line ends; a trailing partial triple is dropped.
        std::string text = raw("manualSupportPoints");
        std::vector<double> numbers;
        size_t i = 0;
        while (i < text.size()) {
            while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
                ++i;
            size_t start = i;
            while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i])))
                ++i;
            if (i == start)
                break;
            double v = 0;
            if (!parseDouble(text.substr(start, i - start), v)
                || std::fabs(v) > static_cast<double>(kMaxPlaneUm)) {
                error = "the manual support points are not numbers in range";
                return false;
            }
            numbers.push_back(v);
        }
        for (size_t k = 0; k + 2 < numbers.size(); k += 3)
            supportPoints.push_back({numbers[k], numbers[k + 1], numbers[k + 2]});
    }

    auto blockLines = [this](const std::string& key, std::vector<std::string> fallback) {
        if (!has(key))
            return fallback;
        std::vector<std::string> lines = splitLines(raw(key));
        while (!lines.empty() && lines.back().empty())
            lines.pop_back();
        return lines;
    };
    startCode = blockLines("startCode",
                           {";Start GCode", "M104 S{temperature}", "M140 S{temperature}", "G28",
                            "G1 Z5 F2000", "M109 S{temperature}", "M190 S{temperature}", "G92 E0"});
    endCode = blockLines("endCode", {";End GCode", "M25"});
    // The host refuses a G-code whose last line is not M25.
    if (endCode.empty() || endCode.back() != "M25")
        endCode.push_back("M25");
    for (const auto* block : {&startCode, &endCode})
        for (const std::string& line : *block)
            if (line.size() > 200) {
                error = "a start or end code line is too long";
                return false;
            }
    return true;
}

} // namespace brev
