// Picture relief: the size read from the picture's header decides the grid; small grids are
// then built in full (large ones are legitimate and only cost memory and time).
#include <QImageReader>

#include "FileRW/ImageRelief.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::application();
    const char* suffix = size >= 2 && data[0] == 'B' && data[1] == 'M' ? ".bmp"
        : size >= 2 && data[0] == 0xff && data[1] == 0xd8               ? ".jpg"
                                                                         : ".png";
    const QString path = fuzz::inputFile(data, size, suffix);
    const QSize picture = QImageReader(path).size();
    int columns = 0, rows = 0;
    ImageRelief::gridSize(picture.width(), picture.height(), 75.0, columns, rows);
    // 2 mm along the width: ten columns, so every picture shape gives a small grid.
    const std::array<double, 4> params{1.0, 2.0, 2.0, 1.28};
    if (!ImageRelief::gridSize(picture.width(), picture.height(), params[2], columns, rows)
        || qint64(columns) * rows > 100000)
        return 0;
    CornerList corners;
    std::atomic<int> progress{0};
    std::atomic<bool> cancelled{false};
    ImageRelief::readCorners(path, params, corners, progress, cancelled);
    return 0;
}
