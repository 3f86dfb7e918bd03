#include "render/GcodePreviewData.h"

std::atomic<int> g_gcodeLayerCount{100};
