#include "imaging/scan_pictures.h"

#include "imaging/gpano_xmp.h"
#include "imaging/jpeg_writer.h"

#include <algorithm>
#include <cstddef>

namespace {
constexpr int kJpegQuality = 90;
}

void writePreviewPic(const QString& path, const uint8_t* rgb, int width, int height)
{
    saveJpgFile(path, rgb, width, height, kJpegQuality, true);
}

void writeFullPanoPic(const QString& path, const uint8_t* rgb, int width, int height)
{
    GPanoLayout layout;
    layout.fullWidth = layout.croppedWidth = width;
    layout.fullHeight = layout.croppedHeight = height;
    saveJpgFileWithXmp(path, rgb, width, height, kJpegQuality, true, buildGPanoXmpPacket(layout));
}

void flipRows(uint8_t* rgb, int width, int height)
{
    const auto rowBytes = static_cast<std::ptrdiff_t>(width) * 3;
#pragma omp parallel for schedule(static)
    for (int top = 0; top < height / 2; ++top) {
        const int bottom = height - 1 - top;
        std::swap_ranges(rgb + top * rowBytes, rgb + (top + 1) * rowBytes, rgb + bottom * rowBytes);
    }
}
