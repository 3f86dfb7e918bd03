#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace brev {

// One manual support column: foot x, foot y and top z, in micrometres.
struct SupportPoint {
    double xUm;
    double yUm;
    double topUm;
};

// The engine's settings: the ini's "key = value" lines and """ blocks, then the
// command line's -s overrides, resolved into checked numbers with defaults.
class EngineSettings {
public:
    bool loadIniFile(const std::string& path, std::string& error);
    bool loadIniText(const std::string& text, std::string& error);
    // "key=value" from the command line.
    bool applyOverride(const std::string& keyValue, std::string& error);
    // Fills the fields below; every key may be absent.
    bool resolve(std::string& error);

    bool has(const std::string& key) const { return values_.count(key) != 0; }
    std::string raw(const std::string& key) const;

    // Lengths in micrometres, speeds in mm/s.
    int64_t layerThicknessUm = 140;
    int64_t initialLayerThicknessUm = 140;
    int64_t extrusionWidthUm = 400;
    int64_t filamentDiameterUm = 1750;
    double filamentFlowPercent = 100.0;
    int insetCount = 3;
    // A wall stretch narrower than this is not printed as an inset.
    int64_t insetMinWidthUm = 400;
    int upSkinCount = 5;
    int downSkinCount = 5;
    int64_t skinLineSpacingUm = 400;
    int64_t sparseInfillLineDistanceUm = 2000;
    int infillPattern = 1;
    double infillOverlapPercent = 15.0;

    double printSpeed = 50.0;
    double initialLayerSpeed = 20.0;
    double inset0Speed = 40.0;
    double insetXSpeed = 50.0;
    double infillSpeed = 60.0;
    double skinSpeed = 50.0;
    double supportSpeed = 50.0;
    double moveSpeed = 100.0;

    int64_t retractionAmountUm = 1000;
    double retractionSpeed = 40.0;
    int64_t retractionMinimalDistanceUm = 1500;

    bool manualSupportEnable = false;
    int64_t manualSupportSideLenUm = 2000;
    int64_t supportLineDistanceUm = 2000;
    int64_t supportXYDistanceUm = 700;
    int64_t supportZDistanceTopUm = 280;
    int64_t supportZDistanceBottomUm = 280;
    int64_t supportReferLayerThicknessUm = 280;
    std::vector<SupportPoint> supportPoints;

    // Engine supports: angle from the vertical in degrees, below 0 for none.
    double supportAngle = -1;
    int supportType = 1; // 1 columns, 2 trees
    int64_t supportTreeRadiusMaxUm = 3000;

    // Raft: none while the base is 0. The gaps may be fractions of a micrometre.
    int64_t raftBaseThicknessUm = 0;
    int64_t raftInterfaceThicknessUm = 0;
    int64_t raftSurfaceThicknessUm = 0;
    double raftAirGapUm = 0;
    double raftAirGapLayer0Um = 0;
    double insetRaftAirGapLayer0Um = 0;
    int64_t raftMarginUm = 3000;
    double raftBaseSpeed = 15.0;
    double raftInterfaceSpeed = 30.0;
    double raftSurfaceSpeed = 30.0;

    int64_t retractionZHopUm = 0;

    int64_t posxUm = 0;
    int64_t posyUm = 0;
    // The plate, centred on (posx, posy): length and width, or its diameter with a width of 0.
    // No plate is known while the length is 0.
    int64_t platformXUm = 0;
    int64_t platformYUm = 0;

    std::vector<std::string> startCode;
    std::vector<std::string> endCode;

private:
    bool number(const std::string& key, double fallback, double lo, double hi, double& out,
                std::string& error) const;
    bool lengthUm(const std::string& key, int64_t fallback, int64_t lo, int64_t hi, int64_t& out,
                  std::string& error) const;
    bool count(const std::string& key, int fallback, int lo, int hi, int& out,
               std::string& error) const;

    std::map<std::string, std::string> values_;
};

std::vector<std::string> splitLines(const std::string& text);
std::string trimmed(const std::string& s);

} // namespace brev
