#include "pano/user_pano.h"

#include "pano/gpano_xmp.h"
#include "pano/jpeg_writer.h"

#include <QImage>
#include <QImageReader>

#include <cstring>
#include <stdexcept>

namespace {

constexpr int kJpegQuality = 90;

QImage loadSource(const QString& sourcePath)
{
    QImageReader reader(sourcePath);
    QImage image = reader.read();
    if (image.isNull())
        throw std::runtime_error(QStringLiteral("Could not load image %1: %2")
                                     .arg(sourcePath, reader.errorString()).toStdString());
    return image.convertToFormat(QImage::Format_RGB888);
}

// The writer takes rows without padding; QImage pads each row to four bytes.
QByteArray packedRgb(const QImage& image)
{
    const qsizetype rowBytes = qsizetype(image.width()) * 3;
    QByteArray rgb(rowBytes * image.height(), Qt::Uninitialized);
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(rgb.data() + y * rowBytes, image.constScanLine(y), size_t(rowBytes));
    return rgb;
}

} // namespace

void writeUserPreview(const QString& sourcePath, const QString& previewPath)
{
    const QImage preview =
        loadSource(sourcePath).scaled(1800, 900, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QByteArray rgb = packedRgb(preview);
    saveJpgFile(previewPath, reinterpret_cast<const uint8_t*>(rgb.constData()), preview.width(), preview.height(),
                kJpegQuality, true);
}

void writeUserPano(const QString& sourcePath, const QString& panoPath)
{
    const QImage source = loadSource(sourcePath);
    const int width = source.width();
    const int height = width / 2;
    if (height < 1)
        throw std::runtime_error(QStringLiteral("Image %1 is too small for a pano").arg(sourcePath).toStdString());
    const QImage pano = source.height() == height
        ? source
        : source.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QByteArray rgb = packedRgb(pano);
    GPanoLayout layout;
    layout.fullWidth = layout.croppedWidth = width;
    layout.fullHeight = layout.croppedHeight = height;
    saveJpgFileWithXmp(panoPath, reinterpret_cast<const uint8_t*>(rgb.constData()), width, height, kJpegQuality,
                       true, buildGPanoXmpPacket(layout));
}
