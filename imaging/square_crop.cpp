#include "imaging/square_crop.h"

#include <cstring>

bool cropCenterSquare(QByteArray& rgb, int width, int height)
{
    if (height <= 0 || width < height || rgb.size() != qsizetype(width) * height * 3)
        return false;
    if (width == height)
        return true;
    const qsizetype inRow = qsizetype(width) * 3, outRow = qsizetype(height) * 3;
    const qsizetype margin = qsizetype((width - height) / 2) * 3;
    char* data = rgb.data();
    // Each target row starts at or before its source row, so a forward copy never overwrites
    // bytes still to be read.
    for (qsizetype y = 0; y < height; ++y)
        std::memmove(data + y * outRow, data + y * inRow + margin, size_t(outRow));
    rgb.resize(outRow * height);
    return true;
}
