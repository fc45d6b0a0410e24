#include "imaging/image_io.h"
#include "support/pic_checks.h"
#include "support/test_support.h"

#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// What a reader of an image of one expected size got, with the sizes its check was shown.
struct Outcome {
    SizedImage result;
    QList<QSize> shown;
    QByteArray rgb;
    QSize size;
};

Outcome loadExpecting(const QString& path, const QSize& expected, bool readerFlag)
{
    Outcome out{SizedImage::Loaded, {}, "left over", {}};
    int width = 0, height = 0;
    out.result = loadImageRgbOfSize(path, out.rgb, width, height, true, readerFlag, [&](int w, int h) {
        out.shown << QSize(w, h);
        return QSize(w, h) == expected;
    });
    out.size = QSize(width, height);
    return out;
}

} // namespace

// The size goes to the caller's check from the file's header; a file that declares gigapixels is
// refused before a decode would take the memory (here, with little address space left, a decode
// would fail instead and the file would pass for unreadable).
TEST(SizedImage, TheDeclaredSizeIsCheckedBeforeDecodingAndTheDecodedOneAfter)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("huge.jpg"), jpegDeclaringSize(16000, 8000));
    ImageAllocationLimit allocation(kImageReaderLimitMb);
    Outcome huge;
    {
        AddressSpaceHeadroom headroom(256 << 20);
        huge = loadExpecting(dir.filePath("huge.jpg"), QSize(40, 20), false);
    }
    EXPECT_EQ(huge.result, SizedImage::WrongSize);
    EXPECT_EQ(huge.shown, QList<QSize>{QSize(16000, 8000)});
    EXPECT_TRUE(huge.rgb.isEmpty());

    ASSERT_TRUE(QImage(40, 20, QImage::Format_RGB888).save(dir.filePath("fits.jpg"), "JPG"));
    const Outcome fits = loadExpecting(dir.filePath("fits.jpg"), QSize(40, 20), false);
    EXPECT_EQ(fits.result, SizedImage::Loaded);
    EXPECT_EQ(fits.shown, (QList<QSize>{QSize(40, 20), QSize(40, 20)})) << "declared, then decoded";
    EXPECT_EQ(fits.rgb.size(), 40 * 20 * 3);
    EXPECT_EQ(fits.size, QSize(40, 20));

    writeFile(dir.filePath("broken.jpg"), "\xff\xd8 not a picture");
    for (const char* name : {"missing.jpg", "broken.jpg"}) {
        const Outcome unreadable = loadExpecting(dir.filePath(name), QSize(40, 20), false);
        EXPECT_EQ(unreadable.result, SizedImage::Unreadable) << name;
        EXPECT_TRUE(unreadable.rgb.isEmpty()) << name;
    }
}

// An exposure turned by its orientation tag is checked in the size it will have once turned.
TEST(SizedImage, AnOrientationTagTurnsTheDeclaredSizeWhenTheReaderAppliesIt)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("turned.jpg");
    ASSERT_TRUE(QImage(40, 20, QImage::Format_RGB888).save(path, "JPG"));
    const ProcessResult tagged = runProcess("exiftool", {"-overwrite_original", "-Orientation#=6", path});
    ASSERT_EQ(tagged.exitCode, 0) << tagged.err.toStdString();

    const Outcome turned = loadExpecting(path, QSize(20, 40), true);
    EXPECT_EQ(turned.result, SizedImage::Loaded);
    EXPECT_EQ(turned.shown, (QList<QSize>{QSize(20, 40), QSize(20, 40)}));
    EXPECT_EQ(turned.size, QSize(20, 40));
    const Outcome asStored = loadExpecting(path, QSize(40, 20), false);
    EXPECT_EQ(asStored.result, SizedImage::Loaded);
    EXPECT_EQ(asStored.size, QSize(40, 20));
    EXPECT_EQ(loadExpecting(path, QSize(40, 20), true).result, SizedImage::WrongSize);
}

// The rows as Qt's own decoder and conversion give them, read top-down or bottom-up: for a colour
// JPEG of many megabytes (decoded into a block of our own) and for a grey one (Qt's conversion).
TEST(SizedImage, DecodesEveryPixelAsQtsOwnConversionInEitherRowOrder)
{
    QTemporaryDir dir;
    QImage colour(1600, 1200, QImage::Format_RGB888);
    for (int y = 0; y < colour.height(); ++y)
        for (int x = 0; x < colour.width(); ++x)
            colour.setPixel(x, y, qRgb((x * 7 + y) % 256, (y * 5) % 256, (x * y) % 256));
    ASSERT_TRUE(colour.save(dir.filePath("colour.jpg"), "JPG"));
    ASSERT_TRUE(colour.convertToFormat(QImage::Format_Grayscale8).save(dir.filePath("grey.jpg"), "JPG"));

    for (const char* name : {"colour.jpg", "grey.jpg"}) {
        const QString path = dir.filePath(name);
        const QImage expected = QImageReader(path).read().convertToFormat(QImage::Format_RGB888);
        ASSERT_FALSE(expected.isNull()) << name;
        const qsizetype rowBytes = static_cast<qsizetype>(expected.width()) * 3;
        for (const bool bottomUp : {false, true}) {
            QByteArray rgb;
            int width = 0, height = 0;
            const SizedImage result =
                loadImageRgbOfSize(path, rgb, width, height, bottomUp, false, [](int, int) { return true; });
            ASSERT_EQ(result, SizedImage::Loaded) << name;
            ASSERT_EQ(QSize(width, height), expected.size()) << name;
            ASSERT_EQ(rgb.size(), rowBytes * height) << name;
            int differing = 0;
            for (int y = 0; y < height; ++y) {
                const QByteArrayView row(rgb.constData() + rowBytes * (bottomUp ? height - 1 - y : y), rowBytes);
                differing += row != QByteArrayView(expected.constScanLine(y), rowBytes) ? 1 : 0;
            }
            EXPECT_EQ(differing, 0) << name << (bottomUp ? " bottom-up" : " top-down");
        }
    }
}
