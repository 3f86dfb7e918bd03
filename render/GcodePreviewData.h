#pragma once

#include <atomic>

// The tool-path preview container held by AppData; filled by the print-task reader.
class GcodePreviewData
{
public:
    GcodePreviewData() = default;
    ~GcodePreviewData() = default;
};

// Layer count of the current print-task file (100 before any file).
extern std::atomic<int> g_gcodeLayerCount;
