#pragma once

// The tool-path preview container held by AppData; filled by the print-task reader.
class GcodePreviewData
{
public:
    GcodePreviewData() = default;
    ~GcodePreviewData() = default;
};
