#include "pano/gpano_xmp.h"
#include "pano/jpeg_writer.h"
#include "pano/pic_file.h"
#include "support/test_support.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// RGB rows, top first: a red band along the top, a green band down the left below it, blue
// elsewhere. A flip or a mirror moves a band where it does not belong. Odd sizes keep the rows
// unpadded.
struct MarkedImage {
    int width;
    int height;
    QByteArray rgb;

    MarkedImage(int w, int h) : width(w), height(h), rgb(qsizetype(w) * h * 3, '\0')
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                rgb[(qsizetype(y) * w + x) * 3 + (y < h / 4 ? 0 : x < w / 4 ? 1 : 2)] = char(255);
    }
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(rgb.constData()); }
};

// 'R', 'G' or 'B' for a clearly banded pixel, '?' otherwise.
char bandAt(const QImage& image, int x, int y)
{
    const QColor c = image.pixelColor(x, y);
    const int channels[3] = {c.red(), c.green(), c.blue()};
    for (int i = 0; i < 3; ++i)
        if (channels[i] > 200 && channels[(i + 1) % 3] < 60 && channels[(i + 2) % 3] < 60)
            return "RGB"[i];
    return '?';
}

void expectMarkersInPlace(const QImage& image, const MarkedImage& source)
{
    const int w = source.width, h = source.height;
    ASSERT_EQ(image.size(), QSize(w, h));
    const std::string bands{bandAt(image, w / 2, 1), bandAt(image, w - 2, 1), bandAt(image, 1, h - 2),
                            bandAt(image, w - 2, h - 2)};
    EXPECT_EQ(bands, "RRGB");
}

QImage decode(const QByteArray& jpeg)
{
    return QImage::fromData(jpeg, "jpeg");
}

void expectExiftoolGPano(const QString& path, const GPanoLayout& layout)
{
    const testsupport::ProcessResult r =
        testsupport::runProcess("exiftool", {"-j", "-XMP-GPano:all", "-Warning", path});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonObject tags = QJsonDocument::fromJson(r.out).array().at(0).toObject();
    EXPECT_FALSE(tags.contains("Warning")) << r.out.toStdString();
    EXPECT_EQ(tags["ProjectionType"].toString(), "equirectangular");
    EXPECT_EQ(tags["UsePanoramaViewer"].toVariant().toString().toLower(), "true");
    const QList<int> sizes{tags["FullPanoWidthPixels"].toInt(), tags["FullPanoHeightPixels"].toInt(),
                           tags["CroppedAreaImageWidthPixels"].toInt(), tags["CroppedAreaImageHeightPixels"].toInt(),
                           tags["CroppedAreaLeftPixels"].toInt(), tags["CroppedAreaTopPixels"].toInt()};
    EXPECT_EQ(sizes, (QList<int>{layout.fullWidth, layout.fullHeight, layout.croppedWidth, layout.croppedHeight,
                                 layout.croppedLeft, layout.croppedTop}));
}

int byteAt(const QByteArray& data, qsizetype i)
{
    return static_cast<unsigned char>(data[i]);
}

// Offset of the segment after the one at `at`.
qsizetype nextSegment(const QByteArray& jpeg, qsizetype at)
{
    return at + 2 + (byteAt(jpeg, at + 2) << 8 | byteAt(jpeg, at + 3));
}

} // namespace

TEST(JpegWriter, PlainAndEncipheredFilesKeepTopRowsAtTheTop)
{
    QTemporaryDir dir;
    const MarkedImage image(37, 29);
    const QByteArray jpeg = encodeJpeg(image.data(), image.width, image.height, 91);
    saveJpgFile(dir.filePath("plain.jpg"), image.data(), image.width, image.height, 91, false);
    EXPECT_EQ(testsupport::readFile(dir.filePath("plain.jpg")), jpeg);
    expectMarkersInPlace(decode(jpeg), image);

    const QString pic = dir.filePath("t.pic");
    saveJpgFile(pic, image.data(), image.width, image.height, 91, true);
    EXPECT_EQ(QFileInfo(pic).size(), jpeg.size() + 16);
    EXPECT_NE(testsupport::readFile(pic).mid(16, 64), jpeg.left(64)) << "the content is not enciphered";
    EXPECT_EQ(readPicFile(pic), jpeg);
    expectMarkersInPlace(loadPicImage(pic), image);
    EXPECT_EQ(testsupport::listTree(dir.path()), (QStringList{"plain.jpg", "t.pic"}));

    const QByteArray noise = testsupport::pseudoRandomBytes(64 * 64 * 3, 11);
    const auto* rgb = reinterpret_cast<const uint8_t*>(noise.constData());
    EXPECT_LT(encodeJpeg(rgb, 64, 64, 20).size() * 2, encodeJpeg(rgb, 64, 64, 95).size());
    EXPECT_THROW(encodeJpeg(rgb, 64, 64, 101), std::runtime_error);
    EXPECT_THROW(encodeJpeg(rgb, 0, 64, 90), std::runtime_error);
}

TEST(JpegWriter, GPanoMetadataIsReadByExiftool)
{
    QTemporaryDir dir;
    const MarkedImage image(300, 100);
    const GPanoLayout layout{4000, 2000, 3000, 1000, 500, 600};
    const QByteArray packet = buildGPanoXmpPacket(layout);

    saveJpgFileWithXmp(dir.filePath("pano.jpg"), image.data(), image.width, image.height, 90, false, packet);
    expectExiftoolGPano(dir.filePath("pano.jpg"), layout);

    const QString pic = dir.filePath("s.pic");
    saveJpgFileWithXmp(pic, image.data(), image.width, image.height, 90, true, packet);
    testsupport::writeFile(dir.filePath("deciphered.jpg"), readPicFile(pic));
    expectExiftoolGPano(dir.filePath("deciphered.jpg"), layout);
    expectMarkersInPlace(loadPicImage(pic), image);

    for (const GPanoLayout& impossible : {GPanoLayout{4000, 2000, 3000, 1000, 1001, 0},
                                          GPanoLayout{4000, 2000, 3000, 1000, 0, -1}, GPanoLayout{}})
        EXPECT_THROW(buildGPanoXmpPacket(impossible), std::invalid_argument);
}

TEST(JpegWriter, XmpSegmentSitsAfterApp0AndPassesThroughQtsDecoder)
{
    const MarkedImage image(120, 60);
    const QByteArray jpeg = encodeJpeg(image.data(), image.width, image.height, 90);
    const QByteArray packet = buildGPanoXmpPacket({120, 60, 120, 60, 0, 0});
    const QByteArray tagged = insertXmpSegment(jpeg, packet);

    ASSERT_EQ(tagged.mid(2, 2), "\xFF\xE0");
    EXPECT_EQ(tagged.mid(6, 5), QByteArray("JFIF\0", 5));
    const qsizetype xmpAt = nextSegment(tagged, 2);
    EXPECT_EQ(tagged.mid(xmpAt, 2), "\xFF\xE1");
    EXPECT_EQ(nextSegment(tagged, xmpAt) - xmpAt, 2 + 2 + 29 + packet.size());
    EXPECT_EQ(tagged.mid(xmpAt + 4, 29 + packet.size()), QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) + packet);
    EXPECT_EQ(tagged.mid(nextSegment(tagged, xmpAt)), jpeg.mid(nextSegment(jpeg, 2)));

    // The decoder sees the same picture, and does not take the APP1 segment for an orientation.
    QBuffer buffer;
    buffer.setData(tagged);
    QImageReader reader(&buffer, "jpeg");
    reader.setAutoTransform(true);
    EXPECT_EQ(reader.read(), decode(jpeg)) << reader.errorString().toStdString();
    EXPECT_EQ(reader.transformation(), QImageIOHandler::TransformationNone);

    // Without an APP0 segment the packet follows the start of image directly.
    const QByteArray bare = jpeg.left(2) + jpeg.mid(nextSegment(jpeg, 2));
    const QByteArray afterSoi = insertXmpSegment(bare, packet);
    EXPECT_EQ(afterSoi.mid(2, 2), "\xFF\xE1");
    EXPECT_EQ(decode(afterSoi), decode(bare));
}

TEST(JpegWriter, XmpSegmentRefusesWhatDoesNotFit)
{
    const MarkedImage image(16, 16);
    const QByteArray jpeg = encodeJpeg(image.data(), 16, 16, 90);
    const qsizetype largest = kMaxJpegSegmentPayload - 29;
    const QByteArray full = insertXmpSegment(jpeg, QByteArray(largest, ' '));
    EXPECT_EQ(full.mid(nextSegment(full, 2), 4), "\xFF\xE1\xFF\xFF");
    EXPECT_FALSE(decode(full).isNull());

    EXPECT_THROW(insertXmpSegment(jpeg, QByteArray(largest + 1, ' ')), std::runtime_error);
    EXPECT_THROW(insertXmpSegment("GIF89a.....", "x"), std::runtime_error);
    EXPECT_THROW(insertXmpSegment(QByteArray("\xFF\xD8", 2), "x"), std::runtime_error);
    // APP0 lengths that run past the end or are shorter than the length field.
    EXPECT_THROW(insertXmpSegment(QByteArray("\xFF\xD8\xFF\xE0\x40\x00JFIF", 10), "x"), std::runtime_error);
    EXPECT_THROW(insertXmpSegment(QByteArray("\xFF\xD8\xFF\xE0\x00\x01JFIF", 10), "x"), std::runtime_error);
}

TEST(JpegWriter, FailedWriteThrowsAndLeavesNothingUnderTheName)
{
    QTemporaryDir dir;
    const MarkedImage image(16, 16);
    testsupport::writeFile(dir.filePath("notafolder"), "keep");
    const QString underFile = dir.filePath("notafolder/t.pic");
    try {
        saveJpgFile(underFile, image.data(), 16, 16, 90, true);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(underFile.toStdString()), std::string::npos) << e.what();
    }
    QDir().mkpath(dir.filePath("s.pic/inside"));
    EXPECT_THROW(saveJpgFile(dir.filePath("s.pic"), image.data(), 16, 16, 90, false), std::runtime_error);
    // A failed encoding keeps the previous file whole.
    testsupport::writeFile(dir.filePath("old.jpg"), "previous");
    EXPECT_THROW(saveJpgFile(dir.filePath("old.jpg"), image.data(), 0, 16, 90, false), std::runtime_error);

    EXPECT_EQ(testsupport::readFile(dir.filePath("notafolder")), "keep");
    EXPECT_EQ(testsupport::readFile(dir.filePath("old.jpg")), "previous");
    EXPECT_EQ(testsupport::listTree(dir.path()), (QStringList{"notafolder", "old.jpg", "s.pic/", "s.pic/inside/"}));
}

// Renaming a temporary over a full device would replace the device node with a regular file.
// A private twin of /dev/full keeps a fault here from harming the machine's own node.
TEST(JpegWriter, DeviceTargetIsNeverReplaced)
{
    QTemporaryDir dir;
    const QByteArray device = QFile::encodeName(dir.filePath("full"));
    if (::mknod(device.constData(), S_IFCHR | 0666, makedev(1, 7)) != 0)
        GTEST_SKIP() << "cannot make a device node here (tests run as root)";
    const MarkedImage image(16, 16);
    EXPECT_THROW(saveJpgFile(QFile::decodeName(device), image.data(), 16, 16, 90, false), std::runtime_error);
    struct stat info {};
    ASSERT_EQ(::stat(device.constData(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
    EXPECT_EQ(testsupport::listTree(dir.path()), QStringList{"full"});
}

TEST(PicFile, RefusesShortFilesAndContentThatIsNoImage)
{
    QTemporaryDir dir;
    testsupport::writeFile(dir.filePath("short.pic"), QByteArray(15, 'x'));
    try {
        readPicFile(dir.filePath("short.pic"));
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("too short"), std::string::npos) << e.what();
    }
    EXPECT_THROW(readPicFile(dir.filePath("missing.pic")), std::runtime_error);
    // The bare IV envelopes nothing, and nothing is no image; nor is a JPEG that was never enciphered.
    testsupport::writeFile(dir.filePath("empty.pic"), QByteArray(16, 'x'));
    EXPECT_EQ(readPicFile(dir.filePath("empty.pic")), QByteArray());
    EXPECT_THROW(loadPicImage(dir.filePath("empty.pic")), std::runtime_error);
    const MarkedImage image(32, 32);
    saveJpgFile(dir.filePath("plain.pic"), image.data(), 32, 32, 90, false);
    EXPECT_THROW(loadPicImage(dir.filePath("plain.pic")), std::runtime_error);
}
