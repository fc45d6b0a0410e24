#include "pano/gpano_xmp.h"
#include "pano/jpeg_writer.h"
#include "pano/pic_file.h"
#include "support/test_support.h"

#include <QBuffer>
#include <QDomDocument>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// An RGB image, top row first, with a red band along the top, a green band along the left edge
// below it and blue everywhere else: a flip or a mirror moves a band to where it does not belong.
struct MarkedImage {
    int width;
    int height;
    QByteArray rgb;

    MarkedImage(int w, int h) : width(w), height(h), rgb(qsizetype(w) * h * 3, '\0')
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                char* px = rgb.data() + (qsizetype(y) * w + x) * 3;
                const int channel = y < h / 4 ? 0 : x < w / 4 ? 1 : 2;
                px[channel] = char(255);
            }
    }
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(rgb.constData()); }
};

enum class Band { Red, Green, Blue };

Band bandAt(const QImage& image, int x, int y)
{
    const QColor c = image.pixelColor(x, y);
    if (c.red() > 200 && c.green() < 60 && c.blue() < 60)
        return Band::Red;
    if (c.green() > 200 && c.red() < 60 && c.blue() < 60)
        return Band::Green;
    if (c.blue() > 200 && c.red() < 60 && c.green() < 60)
        return Band::Blue;
    ADD_FAILURE() << "pixel (" << x << ", " << y << ") is no band colour: " << c.name().toStdString();
    return Band::Red;
}

void expectMarkersInPlace(const QImage& image, int width, int height)
{
    ASSERT_EQ(image.size(), QSize(width, height));
    EXPECT_EQ(bandAt(image, width / 2, 1), Band::Red);
    EXPECT_EQ(bandAt(image, width - 2, 1), Band::Red);
    EXPECT_EQ(bandAt(image, 1, height - 2), Band::Green);
    EXPECT_EQ(bandAt(image, width - 2, height - 2), Band::Blue);
    EXPECT_EQ(bandAt(image, width / 2, height / 2), Band::Blue);
}

QImage decode(const QByteArray& jpeg)
{
    QImage image;
    image.loadFromData(jpeg, "jpeg");
    return image;
}

GPanoLayout croppedLayout()
{
    return {.fullWidth = 4000, .fullHeight = 2000, .croppedWidth = 3000, .croppedHeight = 1000,
            .croppedLeft = 500, .croppedTop = 600};
}

QJsonObject exiftoolGPano(const QString& path)
{
    const testsupport::ProcessResult r =
        testsupport::runProcess("exiftool", {"-j", "-XMP-GPano:all", "-Warning", path});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return QJsonDocument::fromJson(r.out).array().at(0).toObject();
}

void expectGPano(const QJsonObject& tags, const GPanoLayout& layout)
{
    EXPECT_FALSE(tags.contains("Warning")) << tags["Warning"].toString().toStdString();
    EXPECT_EQ(tags["ProjectionType"].toString(), "equirectangular");
    EXPECT_EQ(tags["UsePanoramaViewer"].toVariant().toString().toLower(), "true");
    EXPECT_EQ(tags["FullPanoWidthPixels"].toInt(), layout.fullWidth);
    EXPECT_EQ(tags["FullPanoHeightPixels"].toInt(), layout.fullHeight);
    EXPECT_EQ(tags["CroppedAreaImageWidthPixels"].toInt(), layout.croppedWidth);
    EXPECT_EQ(tags["CroppedAreaImageHeightPixels"].toInt(), layout.croppedHeight);
    EXPECT_EQ(tags["CroppedAreaLeftPixels"].toInt(), layout.croppedLeft);
    EXPECT_EQ(tags["CroppedAreaTopPixels"].toInt(), layout.croppedTop);
}

int byteAt(const QByteArray& data, qsizetype i)
{
    return static_cast<unsigned char>(data[i]);
}

// Offsets of the marker segments between the start of image and the start of scan.
QList<qsizetype> segmentOffsets(const QByteArray& jpeg)
{
    QList<qsizetype> offsets;
    qsizetype at = 2;
    while (at + 4 <= jpeg.size() && byteAt(jpeg, at) == 0xFF && byteAt(jpeg, at + 1) != 0xDA) {
        offsets.append(at);
        at += 2 + (byteAt(jpeg, at + 2) << 8 | byteAt(jpeg, at + 3));
    }
    return offsets;
}

// The same JPEG without its leading APP0 segment, as some encoders write it.
QByteArray withoutApp0(const QByteArray& jpeg)
{
    EXPECT_EQ(byteAt(jpeg, 3), 0xE0);
    const qsizetype length = byteAt(jpeg, 4) << 8 | byteAt(jpeg, 5);
    return jpeg.left(2) + jpeg.mid(4 + length);
}

} // namespace

TEST(JpegWriter, PlainFileKeepsTopRowsAtTheTop)
{
    QTemporaryDir dir;
    const MarkedImage image(37, 29); // odd width: rows are not padded to four bytes
    const QString path = dir.filePath("plain.jpg");
    saveJpgFile(path, image.data(), image.width, image.height, 91, false);
    const QByteArray file = testsupport::readFile(path);
    EXPECT_TRUE(file.startsWith("\xFF\xD8"));
    EXPECT_EQ(file, encodeJpeg(image.data(), image.width, image.height, 91));
    expectMarkersInPlace(decode(file), image.width, image.height);
    EXPECT_EQ(testsupport::listTree(dir.path()), QStringList{"plain.jpg"});
}

TEST(JpegWriter, QualityReachesTheEncoder)
{
    const QByteArray noise = testsupport::pseudoRandomBytes(64 * 64 * 3, 11);
    const auto* rgb = reinterpret_cast<const uint8_t*>(noise.constData());
    EXPECT_LT(encodeJpeg(rgb, 64, 64, 20).size() * 2, encodeJpeg(rgb, 64, 64, 95).size());
    EXPECT_THROW(encodeJpeg(rgb, 64, 64, 101), std::runtime_error);
    EXPECT_THROW(encodeJpeg(rgb, 0, 64, 90), std::runtime_error);
    EXPECT_THROW(encodeJpeg(nullptr, 64, 64, 90), std::runtime_error);
}

TEST(JpegWriter, EncipheredFileIsTheEnvelopeOfTheSameJpeg)
{
    QTemporaryDir dir;
    const MarkedImage image(64, 32);
    const QString path = dir.filePath("t.pic");
    saveJpgFile(path, image.data(), image.width, image.height, 85, true);
    const QByteArray jpeg = encodeJpeg(image.data(), image.width, image.height, 85);
    EXPECT_EQ(QFileInfo(path).size(), jpeg.size() + 16);
    EXPECT_NE(testsupport::readFile(path).mid(16, 64), jpeg.left(64)) << "the content is not enciphered";
    EXPECT_EQ(readPicFile(path), jpeg);
    expectMarkersInPlace(loadPicImage(path), image.width, image.height);
}

TEST(JpegWriter, GPanoMetadataIsReadByExiftool)
{
    QTemporaryDir dir;
    const MarkedImage image(300, 100);
    const GPanoLayout layout = croppedLayout();
    const QByteArray packet = buildGPanoXmpPacket(layout);

    const QString plain = dir.filePath("pano.jpg");
    saveJpgFileWithXmp(plain, image.data(), image.width, image.height, 90, false, packet);
    expectGPano(exiftoolGPano(plain), layout);

    const QString enciphered = dir.filePath("s.pic");
    saveJpgFileWithXmp(enciphered, image.data(), image.width, image.height, 90, true, packet);
    const QString deciphered = dir.filePath("deciphered.jpg");
    testsupport::writeFile(deciphered, readPicFile(enciphered));
    expectGPano(exiftoolGPano(deciphered), layout);
    expectMarkersInPlace(loadPicImage(enciphered), image.width, image.height);

    // Without the packet there is nothing to report: the tags come from the segment, not a default.
    const QString bare = dir.filePath("bare.jpg");
    saveJpgFile(bare, image.data(), image.width, image.height, 90, false);
    EXPECT_FALSE(exiftoolGPano(bare).contains("ProjectionType"));
}

TEST(JpegWriter, XmpSegmentPassesThroughQtsDecoderUnharmed)
{
    const MarkedImage image(120, 60);
    const QByteArray jpeg = encodeJpeg(image.data(), image.width, image.height, 90);
    const QByteArray packet = buildGPanoXmpPacket({120, 60, 120, 60, 0, 0});
    const QByteArray tagged = insertXmpSegment(jpeg, packet);

    EXPECT_EQ(tagged.size(), jpeg.size() + 4 + 29 + packet.size());
    const QImage plainImage = decode(jpeg);
    const QImage taggedImage = decode(tagged);
    ASSERT_FALSE(taggedImage.isNull());
    EXPECT_EQ(taggedImage, plainImage);

    // The segment is an APP1 like EXIF; the reader must not take it for an orientation.
    QBuffer buffer;
    buffer.setData(tagged);
    QImageReader reader(&buffer, "jpeg");
    reader.setAutoTransform(true);
    EXPECT_EQ(reader.read(), plainImage) << reader.errorString().toStdString();
    EXPECT_EQ(reader.transformation(), QImageIOHandler::TransformationNone);
}

TEST(JpegWriter, XmpSegmentFollowsStartOfImageOrTheApp0Segments)
{
    const MarkedImage image(16, 16);
    const QByteArray jpeg = encodeJpeg(image.data(), 16, 16, 90);
    const QByteArray packet = buildGPanoXmpPacket({16, 16, 16, 16, 0, 0});

    const QByteArray afterJfif = insertXmpSegment(jpeg, packet);
    const QList<qsizetype> segments = segmentOffsets(afterJfif);
    ASSERT_GE(segments.size(), 2);
    EXPECT_EQ(byteAt(afterJfif, segments[0] + 1), 0xE0);
    EXPECT_EQ(afterJfif.mid(segments[0] + 4, 5), QByteArray("JFIF\0", 5));
    EXPECT_EQ(byteAt(afterJfif, segments[1] + 1), 0xE1);
    EXPECT_EQ(afterJfif.mid(segments[1] + 4, 29), QByteArray("http://ns.adobe.com/xap/1.0/\0", 29));
    const qsizetype length = byteAt(afterJfif, segments[1] + 2) << 8 | byteAt(afterJfif, segments[1] + 3);
    EXPECT_EQ(length, 2 + 29 + packet.size());

    const QByteArray bare = withoutApp0(jpeg);
    ASSERT_FALSE(decode(bare).isNull());
    const QByteArray afterSoi = insertXmpSegment(bare, packet);
    EXPECT_EQ(afterSoi.mid(2, 2), QByteArray("\xFF\xE1"));
    EXPECT_EQ(decode(afterSoi), decode(bare));
}

TEST(JpegWriter, XmpSegmentRefusesWhatDoesNotFit)
{
    const MarkedImage image(16, 16);
    const QByteArray jpeg = encodeJpeg(image.data(), 16, 16, 90);
    const qsizetype largest = kMaxJpegSegmentPayload - 29;

    const QByteArray full = insertXmpSegment(jpeg, QByteArray(largest, ' '));
    const qsizetype xmpAt = segmentOffsets(full).at(1);
    EXPECT_EQ(full.mid(xmpAt, 4), QByteArray("\xFF\xE1\xFF\xFF"));
    EXPECT_FALSE(decode(full).isNull());

    EXPECT_THROW(insertXmpSegment(jpeg, QByteArray(largest + 1, ' ')), std::runtime_error);
    EXPECT_THROW(insertXmpSegment(QByteArray("GIF89a....."), "x"), std::runtime_error);
    EXPECT_THROW(insertXmpSegment(QByteArray("\xFF\xD8", 2), "x"), std::runtime_error);
    // An APP0 length that runs past the end of the data.
    EXPECT_THROW(insertXmpSegment(QByteArray("\xFF\xD8\xFF\xE0\x40\x00JFIF", 10), "x"), std::runtime_error);
    EXPECT_THROW(insertXmpSegment(QByteArray("\xFF\xD8\xFF\xE0\x00\x01JFIF", 10), "x"), std::runtime_error);
}

TEST(JpegWriter, GPanoPacketIsWellFormedAndRefusesImpossibleLayouts)
{
    const QByteArray packet = buildGPanoXmpPacket(croppedLayout());
    QDomDocument doc;
    QString error;
    ASSERT_TRUE(doc.setContent(packet, true, &error)) << error.toStdString();
    const QDomNodeList names = doc.elementsByTagNameNS("http://ns.google.com/photos/1.0/panorama/",
                                                       "CroppedAreaTopPixels");
    ASSERT_EQ(names.size(), 1);
    EXPECT_EQ(names.at(0).toElement().text(), "600");

    GPanoLayout tooWide = croppedLayout();
    tooWide.croppedLeft = 1001;
    EXPECT_THROW(buildGPanoXmpPacket(tooWide), std::invalid_argument);
    GPanoLayout negative = croppedLayout();
    negative.croppedTop = -1;
    EXPECT_THROW(buildGPanoXmpPacket(negative), std::invalid_argument);
    EXPECT_THROW(buildGPanoXmpPacket(GPanoLayout{}), std::invalid_argument);
    EXPECT_NO_THROW(buildGPanoXmpPacket({4000, 2000, 4000, 2000, 0, 0}));
}

TEST(JpegWriter, FailedWriteThrowsAndLeavesNothingUnderTheName)
{
    QTemporaryDir dir;
    const MarkedImage image(16, 16);

    // The parent folder is a regular file.
    testsupport::writeFile(dir.filePath("notafolder"), "keep");
    const QString underFile = dir.filePath("notafolder/t.pic");
    EXPECT_THROW(saveJpgFile(underFile, image.data(), 16, 16, 90, true), std::runtime_error);
    EXPECT_EQ(testsupport::readFile(dir.filePath("notafolder")), "keep");

    // The target is a folder.
    const QString folder = dir.filePath("s.pic");
    QDir().mkpath(folder + "/inside");
    EXPECT_THROW(saveJpgFile(folder, image.data(), 16, 16, 90, false), std::runtime_error);
    EXPECT_TRUE(QFileInfo(folder + "/inside").isDir());

    // A failed encoding keeps the previous file whole.
    testsupport::writeFile(dir.filePath("old.jpg"), "previous");
    EXPECT_THROW(saveJpgFile(dir.filePath("old.jpg"), image.data(), 0, 16, 90, false), std::runtime_error);
    EXPECT_EQ(testsupport::readFile(dir.filePath("old.jpg")), "previous");

    EXPECT_EQ(testsupport::listTree(dir.path()), (QStringList{"notafolder", "old.jpg", "s.pic/", "s.pic/inside/"}));

    try {
        saveJpgFile(underFile, image.data(), 16, 16, 90, false);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(underFile.toStdString()), std::string::npos) << e.what();
    }
}

// A full device (a private twin of /dev/full, so a fault cannot harm the machine's own node)
// must make the write fail, not be replaced by a regular file.
TEST(JpegWriter, DeviceTargetIsNeverReplaced)
{
    QTemporaryDir dir;
    const QString device = dir.filePath("full");
    if (::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0666, makedev(1, 7)) != 0)
        GTEST_SKIP() << "cannot make a device node here (tests run as root)";
    const MarkedImage image(16, 16);
    EXPECT_THROW(saveJpgFile(device, image.data(), 16, 16, 90, false), std::runtime_error);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(device).constData(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
    EXPECT_EQ(testsupport::listTree(dir.path()), QStringList{"full"});
}

TEST(PicFile, RefusesFilesShorterThanTheEnvelope)
{
    QTemporaryDir dir;
    const QString shortFile = dir.filePath("short.pic");
    testsupport::writeFile(shortFile, QByteArray(15, 'x'));
    try {
        readPicFile(shortFile);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("too short"), std::string::npos) << e.what();
    }
    EXPECT_THROW(loadPicImage(shortFile), std::runtime_error);
    EXPECT_THROW(readPicFile(dir.filePath("missing.pic")), std::runtime_error);

    // The bare IV is a valid envelope of nothing, and nothing is no image.
    testsupport::writeFile(dir.filePath("empty.pic"), QByteArray(16, 'x'));
    EXPECT_EQ(readPicFile(dir.filePath("empty.pic")), QByteArray());
    EXPECT_THROW(loadPicImage(dir.filePath("empty.pic")), std::runtime_error);
}

TEST(PicFile, PlainJpegIsNotTakenForAnEncipheredOne)
{
    QTemporaryDir dir;
    const MarkedImage image(32, 32);
    const QString path = dir.filePath("plain.pic");
    saveJpgFile(path, image.data(), 32, 32, 90, false);
    EXPECT_THROW(loadPicImage(path), std::runtime_error);
}
