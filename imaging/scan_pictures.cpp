#include "imaging/scan_pictures.h"

#include "imaging/gpano_xmp.h"
#include "imaging/jpeg_writer.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>

namespace {
constexpr int kJpegQuality = 90;
}

void writePreviewPic(const QString& path, const uint8_t* rgb, int width, int height)
{
    saveJpgFile(path, rgb, width, height, kJpegQuality, true);
}

void writeFullPanoPic(const QString& path, const uint8_t* rgb, int width, int height)
{
    if (width > kMaxFullPanoWidth || height > kMaxFullPanoWidth / 2)
        throw std::runtime_error(QStringLiteral("A pano of %1 x %2 pixels is larger than the %3 x %4 this program writes.")
                                     .arg(width)
                                     .arg(height)
                                     .arg(kMaxFullPanoWidth)
                                     .arg(kMaxFullPanoWidth / 2)
                                     .toStdString());
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
