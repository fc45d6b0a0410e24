#include "support/pic_checks.h"

#include "imaging/pic_file.h"
#include "support/test_support.h"

#include <QBuffer>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>

namespace testsupport {

QImage decipheredPicImage(const QString& picPath)
{
    const QByteArray jpeg = readPicFile(picPath);
    EXPECT_TRUE(jpeg.startsWith("\xff\xd8")) << "a JPEG stream inside the envelope";
    return QImage::fromData(jpeg, "JPG");
}

QJsonObject exiftoolGPano(const QString& picPath)
{
    QTemporaryDir dir;
    const QString jpegPath = dir.filePath("pano.jpg");
    writeFile(jpegPath, readPicFile(picPath));
    const ProcessResult result = runProcess("exiftool", {"-j", "-XMP-GPano:all", jpegPath});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    return QJsonDocument::fromJson(result.out).array().at(0).toObject();
}

QByteArray jpegDeclaringSize(int width, int height)
{
    QImage small(16, 16, QImage::Format_RGB888);
    small.fill(QColor(90, 140, 200));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!small.save(&buffer, "JPG", 50))
        throw std::runtime_error("could not encode a JPEG");
    // Baseline frame header: marker FF C0, length, precision, then height and width, big-endian.
    const qsizetype frame = jpeg.indexOf(QByteArray("\xff\xc0", 2));
    if (frame < 0)
        throw std::runtime_error("no baseline frame header");
    const char size[4] = {char(height >> 8), char(height & 0xff), char(width >> 8), char(width & 0xff)};
    jpeg.replace(frame + 5, 4, size, 4);
    return jpeg;
}

ImageAllocationLimit::ImageAllocationLimit(int megabytes) : m_saved(QImageReader::allocationLimit())
{
    QImageReader::setAllocationLimit(megabytes);
}

ImageAllocationLimit::~ImageAllocationLimit()
{
    QImageReader::setAllocationLimit(m_saved);
}

} // namespace testsupport
