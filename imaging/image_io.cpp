#include "imaging/image_io.h"

#include "base/huge_pages.h"

#include <QImage>
#include <QImageReader>

#include <cstring>
#include <memory>

QString tooManyPixelsText(const QSize& size)
{
    return QStringLiteral("The image of %1 x %2 pixels is larger than the %3 million pixels this program decodes.")
        .arg(size.width())
        .arg(size.height())
        .arg(kMaxImagePixels / 1000000);
}

namespace {

// The reader's image as RGB rows; false (rgb empty) when it does not decode.
bool decodeRgb(QImageReader& reader, QByteArray& rgb, int& width, int& height, bool bottomUp)
{
    // The JPEG decoder writes every pixel of an image of the size and format it would make (32-bit
    // RGB for colour) in place: here one on a block advised to huge pages. For another size or
    // format it makes its own. Other decoders may draw over what an image held, so they get none.
    std::unique_ptr<uchar[]> block;
    QImage image;
    const QSize expected = reader.scaledSize().isValid() ? reader.scaledSize() : reader.size();
    if (reader.format() == "jpeg" && withinPixelBudget(expected)) {
        const qsizetype rowBytes = static_cast<qsizetype>(expected.width()) * 4;
        block = makeHugeArray<uchar>(static_cast<size_t>(rowBytes) * static_cast<size_t>(expected.height()));
        image = QImage(block.get(), expected.width(), expected.height(), rowBytes, QImage::Format_RGB32);
    }
    if (!reader.read(&image) || image.isNull())
        return false;
    // 32-bit RGB, what colour JPEGs decode to, goes to RGB rows directly: no third image.
    const bool direct = image.format() == QImage::Format_RGB32;
    if (!direct)
        image = image.convertToFormat(QImage::Format_RGB888);
    if (image.isNull())
        return false;

    const qsizetype pixels = image.width();
    const qsizetype rowBytes = pixels * 3;
    rgb.resize(rowBytes * image.height());
    adviseHugePages(rgb.data(), static_cast<size_t>(rgb.size()));
    for (int y = 0; y < image.height(); ++y) {
        const int target = bottomUp ? image.height() - 1 - y : y;
        char* out = rgb.data() + rowBytes * target;
        if (!direct) {
            std::memcpy(out, image.constScanLine(y), static_cast<size_t>(rowBytes));
            continue;
        }
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (qsizetype x = 0; x < pixels; ++x) {
            out[3 * x] = static_cast<char>(qRed(line[x]));
            out[3 * x + 1] = static_cast<char>(qGreen(line[x]));
            out[3 * x + 2] = static_cast<char>(qBlue(line[x]));
        }
    }
    width = image.width();
    height = image.height();
    return true;
}

} // namespace

bool loadImageRgb(const QString& path, QByteArray& rgb, int& width, int& height, bool bottomUp, bool scale,
                  bool readerFlag)
{
    rgb.clear();
    QImageReader reader(path);
    if (const QSize declared = reader.size(); declared.isValid() && !withinPixelBudget(declared))
        return false;
    reader.setAutoTransform(readerFlag);
    if (scale) {
        if (width <= 0 || height <= 0)
            return false;
        reader.setScaledSize(QSize(width, height));
    }
    return decodeRgb(reader, rgb, width, height, bottomUp);
}

SizedImage loadImageRgbOfSize(const QString& path, QByteArray& rgb, int& width, int& height, bool bottomUp,
                              bool readerFlag, const std::function<bool(int width, int height)>& fits)
{
    rgb.clear();
    QImageReader reader(path);
    QSize declared = reader.size();
    if (!declared.isValid())
        return SizedImage::Unreadable;
    reader.setAutoTransform(readerFlag);
    if (readerFlag && reader.transformation().testFlag(QImageIOHandler::TransformationRotate90))
        declared.transpose();
    if (!withinPixelBudget(declared) || !fits(declared.width(), declared.height()))
        return SizedImage::WrongSize;
    int decodedWidth = 0, decodedHeight = 0;
    if (!decodeRgb(reader, rgb, decodedWidth, decodedHeight, bottomUp))
        return SizedImage::Unreadable;
    if (!fits(decodedWidth, decodedHeight)) {
        rgb.clear();
        return SizedImage::WrongSize;
    }
    width = decodedWidth;
    height = decodedHeight;
    return SizedImage::Loaded;
}
