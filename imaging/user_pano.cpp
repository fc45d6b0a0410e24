#include "imaging/user_pano.h"

#include "imaging/image_io.h"
#include "imaging/scan_pictures.h"

#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

namespace {

// How many times a picture may be stretched or squeezed to the pano's 2:1.
constexpr qint64 kMaxStretch = 4;

std::runtime_error loadFailure(const QString& sourcePath, const QString& reason)
{
    return std::runtime_error(QStringLiteral("Could not load image %1: %2").arg(sourcePath, reason).toStdString());
}

std::runtime_error outOfMemory(const QString& sourcePath, const QSize& size)
{
    return loadFailure(sourcePath, QStringLiteral("there is not enough memory for a picture of %1 x %2 pixels.")
                                       .arg(size.width())
                                       .arg(size.height()));
}

// Decoded at full size on purpose: a picture too large to decode whole is refused here, not
// when its pano is built much later.
QImage loadSource(const QString& sourcePath)
{
    QImageReader reader(sourcePath);
    if (const QSize declared = reader.size(); declared.isValid()) {
        if (const QString refusal = userPictureRefusal(declared); !refusal.isEmpty())
            throw loadFailure(sourcePath, refusal);
    }
    const QImage image = reader.read();
    if (image.isNull())
        throw loadFailure(sourcePath, reader.errorString());
    // The header may not have told the size; what was decoded must make a pano all the same.
    if (const QString refusal = userPictureRefusal(image.size()); !refusal.isEmpty())
        throw loadFailure(sourcePath, refusal);
    QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    if (rgb.isNull())
        throw outOfMemory(sourcePath, image.size());
    return rgb;
}

// QImage::scaled gives a null image when it cannot allocate the result.
QImage scaledTo(const QString& sourcePath, const QImage& image, const QSize& size)
{
    if (image.size() == size)
        return image;
    QImage scaled = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.isNull() || scaled.size() != size)
        throw outOfMemory(sourcePath, size);
    return scaled;
}

// The writers take rows without padding; QImage pads each row to four bytes.
std::unique_ptr<uint8_t[]> packedRgb(const QString& sourcePath, const QImage& image)
{
    const size_t rowBytes = size_t(image.width()) * 3;
    std::unique_ptr<uint8_t[]> rgb(new (std::nothrow) uint8_t[rowBytes * size_t(image.height())]);
    if (!rgb)
        throw outOfMemory(sourcePath, image.size());
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(rgb.get() + size_t(y) * rowBytes, image.constScanLine(y), rowBytes);
    return rgb;
}

} // namespace

QString userPictureRefusal(const QSize& picture)
{
    if (!withinPixelBudget(picture))
        return tooManyPixelsText(picture);
    const qint64 width = picture.width(), height = picture.height();
    if (width < 2)
        return QStringLiteral("The image of %1 x %2 pixels is too small for a pano.").arg(width).arg(height);
    // Squeezed from taller than 1:2 or stretched from wider than 8:1.
    if (2 * height > kMaxStretch * width || width > 2 * kMaxStretch * height)
        return QStringLiteral("The image of %1 x %2 pixels cannot make a pano: it would have to be stretched more "
                              "than %3 times to the 2:1 shape of a pano.")
            .arg(width)
            .arg(height)
            .arg(kMaxStretch);
    return {};
}

QSize userPanoSize(const QSize& picture)
{
    const int width = std::min(picture.width(), kMaxFullPanoWidth);
    return {width, width / 2};
}

void writeUserPreview(const QString& sourcePath, const QString& previewPath)
{
    const QImage preview = scaledTo(sourcePath, loadSource(sourcePath), QSize(kPreviewWidth, kPreviewHeight));
    writePreviewPic(previewPath, packedRgb(sourcePath, preview).get(), preview.width(), preview.height());
}

void writeUserPano(const QString& sourcePath, const QString& panoPath)
{
    const QImage source = loadSource(sourcePath);
    const QImage pano = scaledTo(sourcePath, source, userPanoSize(source.size()));
    writeFullPanoPic(panoPath, packedRgb(sourcePath, pano).get(), pano.width(), pano.height());
}
