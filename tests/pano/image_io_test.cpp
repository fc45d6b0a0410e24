#include "pano/image_io.h"
#include "support/test_support.h"

#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
// A file whose pixel (x, y) is (x, y, 7) and whose first row is marked white.
QString writeMarkedImage(const QTemporaryDir& dir, const char* format, QImage::Format pixelFormat)
{
    QImage image(40, 24, pixelFormat);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixelColor(x, y, y == 0 ? QColor(255, 255, 255) : QColor(x * 6, y * 10, 7));
    const QString path = dir.filePath(QStringLiteral("marked.%1").arg(QString::fromLatin1(format).toLower()));
    EXPECT_TRUE(image.save(path, format));
    return path;
}

const uint8_t* pixel(const QByteArray& rgb, int width, int x, int y)
{
    return reinterpret_cast<const uint8_t*>(rgb.constData()) + (static_cast<size_t>(y) * width + x) * 3;
}
} // namespace

TEST(ImageIo, RowsComeTopDownOrWithTheFilesFirstRowLast)
{
    QTemporaryDir dir;
    for (QImage::Format format : {QImage::Format_RGB888, QImage::Format_ARGB32, QImage::Format_Grayscale8}) {
        const QString path = writeMarkedImage(dir, "PNG", format);
        QByteArray rgb;
        int width = 0, height = 0;
        ASSERT_TRUE(loadImageRgb(path, rgb, width, height, false, false, false));
        ASSERT_EQ(width, 40);
        ASSERT_EQ(height, 24);
        ASSERT_EQ(rgb.size(), 40 * 24 * 3);
        EXPECT_EQ(pixel(rgb, width, 5, 0)[0], 255);
        if (format != QImage::Format_Grayscale8) {
            EXPECT_EQ(pixel(rgb, width, 5, 3)[0], 30);
            EXPECT_EQ(pixel(rgb, width, 5, 3)[1], 30);
            EXPECT_EQ(pixel(rgb, width, 39, 23)[0], 234);
            EXPECT_EQ(pixel(rgb, width, 39, 23)[2], 7);
        }

        QByteArray bottomUp;
        ASSERT_TRUE(loadImageRgb(path, bottomUp, width, height, true, false, false));
        EXPECT_EQ(pixel(bottomUp, width, 5, 23)[0], 255) << "first file row stored last";
        for (int y = 0; y < height; ++y)
            ASSERT_EQ(0, memcmp(pixel(bottomUp, width, 0, y), pixel(rgb, width, 0, height - 1 - y), 40 * 3));
    }
}

TEST(ImageIo, ScalingReadsTheImageAtTheGivenSize)
{
    QTemporaryDir dir;
    const QString path = writeMarkedImage(dir, "PNG", QImage::Format_RGB888);
    QByteArray rgb;
    int width = 20, height = 12;
    ASSERT_TRUE(loadImageRgb(path, rgb, width, height, false, true, false));
    EXPECT_EQ(width, 20);
    EXPECT_EQ(height, 12);
    EXPECT_EQ(rgb.size(), 20 * 12 * 3);
}

TEST(ImageIo, UnreadableFilesGiveFalseAndAnEmptyBuffer)
{
    QTemporaryDir dir;
    testsupport::writeFile(dir.filePath("broken.jpg"), QByteArrayLiteral("\xff\xd8\xff not a jpeg at all"));
    for (const QString& path : {dir.filePath("missing.jpg"), dir.filePath("broken.jpg"), dir.path()}) {
        QByteArray rgb("left over");
        int width = 0, height = 0;
        EXPECT_FALSE(loadImageRgb(path, rgb, width, height, true, false, false)) << path.toStdString();
        EXPECT_TRUE(rgb.isEmpty());
    }
}
