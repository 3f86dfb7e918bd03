#pragma once

#include "EngineSettings.h"
#include "LayerPlanner.h"

#include <string>
#include <vector>

namespace brev {

// The file: the print-time and filament comments first, the start code, the layers, the end
// code last. Written to "<output>0.tmp" beside the output and renamed at the end.
bool writeGcode(const std::string& outputPath, const EngineSettings& settings,
                const std::vector<LayerCode>& layers, std::string& error);

std::string printTimeText(double seconds);

} // namespace brev
