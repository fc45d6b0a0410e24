#include "imaging/user_pano.h"

#include "imaging/image_io.h"
#include "imaging/scan_pictures.h"

#include <QImage>
#include <QImageReader>

#include <cstring>
#include <stdexcept>

namespace {

// Decoded at full size on purpose: a picture too large to decode whole is refused here, not
// when its pano is built much later.
QImage loadSource(const QString& sourcePath)
{
    QImageReader reader(sourcePath);
    if (const QSize declared = reader.size(); declared.isValid() && !withinPixelBudget(declared))
        throw std::runtime_error(
            QStringLiteral("Could not load image %1: %2").arg(sourcePath, tooManyPixelsText(declared)).toStdString());
    QImage image = reader.read();
    if (image.isNull())
        throw std::runtime_error(QStringLiteral("Could not load image %1: %2")
                                     .arg(sourcePath, reader.errorString()).toStdString());
    return image.convertToFormat(QImage::Format_RGB888);
}

// The writers take rows without padding; QImage pads each row to four bytes.
QByteArray packedRgb(const QImage& image)
{
    const qsizetype rowBytes = qsizetype(image.width()) * 3;
    QByteArray rgb(rowBytes * image.height(), Qt::Uninitialized);
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(rgb.data() + y * rowBytes, image.constScanLine(y), size_t(rowBytes));
    return rgb;
}

const uint8_t* bytes(const QByteArray& rgb)
{
    return reinterpret_cast<const uint8_t*>(rgb.constData());
}

} // namespace

void writeUserPreview(const QString& sourcePath, const QString& previewPath)
{
    const QImage preview = loadSource(sourcePath).scaled(kPreviewWidth, kPreviewHeight, Qt::IgnoreAspectRatio,
                                                         Qt::SmoothTransformation);
    writePreviewPic(previewPath, bytes(packedRgb(preview)), preview.width(), preview.height());
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
    writeFullPanoPic(panoPath, bytes(packedRgb(pano)), width, height);
}
