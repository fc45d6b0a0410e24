#include "base/cipher.h"
#include "imaging/gpano_xmp.h"
#include "imaging/image_io.h"
#include "imaging/jpeg_writer.h"
#include "imaging/pic_file.h"
#include "imaging/scan_pictures.h"
#include "imaging/user_pano.h"
#include "model/panorama.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/pic_checks.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"

#include <QAction>
#include <QBuffer>
#include <QImageReader>
#include <QMenu>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace testsupport;

namespace {

// Sky above, ground below and the red marker at the top left, whatever the size.
void expectSkyOnTop(const QImage& image)
{
    ASSERT_FALSE(image.isNull());
    const int w = image.width(), h = image.height();
    EXPECT_TRUE(isSkyColour(image.pixel(w / 2, h / 8)) && isGroundColour(image.pixel(w / 2, h - 1 - h / 8)));
    const QRgb marker = image.pixel(w / 80, h / 40);
    EXPECT_TRUE(qRed(marker) > 180 && qGreen(marker) < 80) << "the red marker stays at the top left";
}

// The planted sky picture, whose RGB888 rows (top first) are 600 bytes: packed without padding.
const uint8_t* plantedRgb()
{
    static const QImage planted = plantedSkyImage(200, 100);
    return planted.constBits();
}

struct UserScanFixture : ProjectFixture {
    Floor* floor = addFloor(addBuilding("House"), "Ground");
    QTemporaryDir pictures;

    QString picture(const QString& name, int width, int height)
    {
        const QString path = pictures.filePath(name);
        EXPECT_TRUE(plantedSkyImage(width, height).save(path, "JPG", 92));
        return path;
    }

    void addThroughMenu(const QStringList& files)
    {
        ScriptedPrompt prompt;
        prompt.answerFiles(files);
        QMenu menu;
        floor->contextMenuActions(&menu);
        for (QAction* action : menu.actions())
            if (action->text() == "Add user pano")
                floor->onContextAction(action);
        ASSERT_EQ(prompt.asked().size(), 1);
        EXPECT_EQ(prompt.asked()[0].title, "Select image (preferably >= 7200x3600)");
        EXPECT_EQ(prompt.asked()[0].text, "JPG Files (*.jpg *.jpeg)");
    }
};

} // namespace

TEST(JpegWriter, PlainEncipheredAndTaggedFilesKeepTopRowsAtTheTopAndShortPicFilesAreRefused)
{
    QTemporaryDir dir;
    const QByteArray jpeg = encodeJpeg(plantedRgb(), 200, 100, 91);
    EXPECT_EQ(QImage::fromData(jpeg, "JPG").size(), QSize(200, 100));
    expectSkyOnTop(QImage::fromData(jpeg, "JPG"));
    saveJpgFile(dir.filePath("plain.jpg"), plantedRgb(), 200, 100, 91, false);
    EXPECT_EQ(readFile(dir.filePath("plain.jpg")), jpeg);
    saveJpgFile(dir.filePath("t.pic"), plantedRgb(), 200, 100, 91, true);
    EXPECT_EQ(readFile(dir.filePath("t.pic")).size(), jpeg.size() + 16);
    EXPECT_NE(readFile(dir.filePath("t.pic")).mid(16, 64), jpeg.left(64)) << "the content is not enciphered";
    EXPECT_EQ(readPicFile(dir.filePath("t.pic")), jpeg);
    expectSkyOnTop(loadPicImage(dir.filePath("t.pic")));
    EXPECT_THROW(loadPicImage(dir.filePath("plain.jpg")), std::runtime_error) << "never enciphered: no picture";
    writeFile(dir.filePath("short.pic"), QByteArray(15, 'x'));
    EXPECT_TRUE(thrownMessage([&] { readPicFile(dir.filePath("short.pic")); }).contains("too short"));
    EXPECT_THROW(encodeJpeg(plantedRgb(), 200, 100, 101), std::runtime_error);
    EXPECT_THROW(encodeJpeg(plantedRgb(), 0, 100, 90), std::runtime_error);

    // The XMP packet follows APP0 (JFIF); the decoder sees the same picture and no orientation in it.
    const QByteArray packet = buildGPanoXmpPacket({4000, 2000, 3000, 1000, 500, 600});
    saveJpgFileWithXmp(dir.filePath("s.pic"), plantedRgb(), 200, 100, 91, true, packet);
    const QByteArray tagged = readPicFile(dir.filePath("s.pic"));
    const qsizetype xmpAt = 4 + (uint8_t(tagged[4]) << 8 | uint8_t(tagged[5]));
    EXPECT_EQ(tagged.mid(2, 2) + tagged.mid(6, 5) + tagged.mid(xmpAt, 2), QByteArray("\xFF\xE0JFIF\0\xFF\xE1", 9));
    EXPECT_EQ(tagged.mid(xmpAt + 4, 29 + packet.size()), QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) + packet);
    QBuffer buffer;
    buffer.setData(tagged);
    QImageReader reader(&buffer, "jpeg");
    reader.setAutoTransform(true);
    EXPECT_EQ(reader.read(), QImage::fromData(jpeg, "JPG"));
    EXPECT_EQ(reader.transformation(), QImageIOHandler::TransformationNone);
}

// Under a file, over a folder, with nothing to encode, onto a private twin of /dev/full.
TEST(JpegWriter, FailedWritesThrowAndLeaveWhatWasThere)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("old.jpg"), "previous");
    QDir().mkpath(dir.filePath("s.pic/inside"));
    ASSERT_EQ(::mknod(QFile::encodeName(dir.filePath("full")).constData(), S_IFCHR | 0666, makedev(1, 7)), 0);
    EXPECT_TRUE(thrownMessage([&] { saveJpgFile(dir.filePath("old.jpg/t.pic"), plantedRgb(), 200, 100, 90, true); })
                    .contains(dir.filePath("old.jpg/t.pic")));
    for (const auto& [name, width] : QList<std::pair<const char*, int>>{{"s.pic", 200}, {"old.jpg", 0}, {"full", 200}})
        EXPECT_THROW(saveJpgFile(dir.filePath(name), plantedRgb(), width, 100, 90, false), std::runtime_error) << name;
    EXPECT_FALSE(QFileInfo(dir.filePath("full")).isFile()) << "the device node was replaced";
    {
        FileSizeLimit limit(500); // a write cut short, as on a nearly full disk: the cause is named
        EXPECT_EQ(thrownMessage([&] { saveJpgFile(dir.filePath("cut.jpg"), plantedRgb(), 200, 100, 90, false); }),
                  "Could not write \"" + dir.filePath("cut.jpg") + "\": " + QString::fromLocal8Bit(strerror(EFBIG)));
    }
    EXPECT_EQ(readFile(dir.filePath("old.jpg")), "previous");
    EXPECT_EQ(listTree(dir.path()), (QStringList{"full", "old.jpg", "s.pic/", "s.pic/inside/"}));
}

TEST(ImageIo, RowsComeTopDownOrWithTheFilesFirstRowLast)
{
    QTemporaryDir dir;
    const QImage planted = plantedSkyImage(40, 24);
    ASSERT_TRUE(planted.convertToFormat(QImage::Format_ARGB32).save(dir.filePath("planted.png")));
    QByteArray topDown, bottomUp;
    int width = 0, height = 0;
    ASSERT_TRUE(loadImageRgb(dir.filePath("planted.png"), topDown, width, height, false, false, false));
    ASSERT_TRUE(loadImageRgb(dir.filePath("planted.png"), bottomUp, width, height, true, false, false));
    ASSERT_TRUE(width == 40 && height == 24 && topDown.size() == 40 * 24 * 3 && bottomUp.size() == topDown.size());
    EXPECT_EQ(QImage(reinterpret_cast<const uchar*>(topDown.constData()), 40, 24, 120, QImage::Format_RGB888), planted);
    for (int y = 0; y < 24; ++y)
        EXPECT_EQ(bottomUp.mid(y * 120, 120), topDown.mid((23 - y) * 120, 120)) << "the file's first row last";

    writeFile(dir.filePath("broken.jpg"), QByteArrayLiteral("\xff\xd8\xff not a jpeg at all"));
    for (const QString& path : {dir.filePath("missing.jpg"), dir.filePath("broken.jpg")}) {
        QByteArray rgb = "left over";
        EXPECT_FALSE(loadImageRgb(path, rgb, width, height, true, false, false)) << path.toStdString();
        EXPECT_TRUE(rgb.isEmpty());
    }
}

TEST(UserPano, PictureBecomesAScanWithPreviewAndFullPanoSkyUpWhichOutliveTheSourcePicture)
{
    UserScanFixture f;
    LogCapture log;
    f.addThroughMenu({f.picture("garden.jpg", 3000, 1500)});
    ASSERT_EQ(f.floor->panos().size(), 1);
    Panorama* scan = f.floor->panos().first();
    EXPECT_EQ(f.floor->highlightedPanos(), QList<QGraphicsItem*>{scan});
    EXPECT_TRUE(log.contains(QtInfoMsg, "Please adjust scan position, rotation and initial angle"));
    EXPECT_TRUE(log.contains(QtWarningMsg, "Selected image resolution is too low: 3000x1500. For better experience"));
    EXPECT_FALSE(log.contains(QtWarningMsg, "Aspect ratio"));
    const QImage preview = decipheredPicImage(scan->folder() + "/t.pic");
    EXPECT_EQ(preview.size(), QSize(1800, 900));
    expectSkyOnTop(preview);
    scan->buildPano();
    const QImage pano = decipheredPicImage(scan->folder() + "/s.pic");
    EXPECT_EQ(pano.size(), QSize(3000, 1500));
    expectSkyOnTop(pano);
    const QJsonObject gpano = exiftoolGPano(scan->folder() + "/s.pic");
    EXPECT_EQ(gpano["ProjectionType"].toString(), "equirectangular");
    EXPECT_EQ(QList<int>({gpano["FullPanoWidthPixels"].toInt(), gpano["FullPanoHeightPixels"].toInt(),
                          gpano["CroppedAreaImageWidthPixels"].toInt(), gpano["CroppedAreaImageHeightPixels"].toInt()}),
              QList<int>({3000, 1500, 3000, 1500}));
    EXPECT_EQ(listTree(f.path("Ground")), (QStringList{"User Pano_garden/", "User Pano_garden/s.pic",
                                                       "User Pano_garden/t.pic", "User Pano_garden/u.jpg"}));

    // A scan opened from an export has "t.pic" and "s.pic" without "u.jpg": they are kept as they are.
    ASSERT_TRUE(QFile::remove(scan->folder() + "/u.jpg"));
    const QByteArray pictures = readFile(scan->folder() + "/t.pic") + readFile(scan->folder() + "/s.pic");
    EXPECT_NO_THROW(scan->reload(false));
    EXPECT_NO_THROW(scan->buildPano());
    EXPECT_EQ(readFile(scan->folder() + "/t.pic") + readFile(scan->folder() + "/s.pic"), pictures);
    // Reprocessing needs the source picture, and so does a scan without its full pano.
    const QString missing = "Main image is missing and pano will be omitted.";
    EXPECT_TRUE(thrownMessage([&] { scan->reload(true); }).endsWith(missing));
    ASSERT_TRUE(QFile::remove(scan->folder() + "/s.pic"));
    EXPECT_TRUE(thrownMessage([&] { scan->buildPano(); }).endsWith(missing));
}

TEST(UserPano, UnreadablePicturesLeaveNothingBehindAndOddOnesAreScaledToTwoToOne)
{
    UserScanFixture f;
    LogCapture log;
    // A header that claims far more pixels than any picture may have: refused before it is copied.
    QByteArray huge = readFile(f.picture("small.jpg", 8, 8));
    const qsizetype sof = huge.indexOf("\xff\xc0");
    ASSERT_GT(sof, 0);
    huge.replace(sof + 5, 4, QByteArray("\x75\x30\xea\x60", 4)); // 60000 x 30000
    writeFile(f.pictures.filePath("huge.jpg"), huge);
    writeFile(f.pictures.filePath("garbage.jpg"), "not a picture");
    const QString wide = f.picture("wide.jpg", 3000, 1000);
    f.addThroughMenu({f.pictures.filePath("garbage.jpg"), f.pictures.filePath("huge.jpg"), wide, wide});
    EXPECT_EQ(log.texts(QtWarningMsg).filter("Could not load image").size(), 2);
    EXPECT_TRUE(log.contains(QtWarningMsg, "Aspect ratio of equirectangular image should be exactly 2:1."));
    ASSERT_EQ(f.floor->panos().size(), 2);
    EXPECT_EQ(listTree(f.path("Ground")).filter(QRegularExpression("/$")),
              (QStringList{"User Pano_wide/", "User Pano_wide_001/"}))
        << "the half-made scan folders are removed";
    f.floor->panos()[0]->buildPano();
    EXPECT_EQ(decipheredPicImage(f.floor->panos()[0]->folder() + "/s.pic").size(), QSize(3000, 1500));
}

// 637 bytes may declare 16000 x 16000 pixels, which the program's reader limit would let it decode
// at a cost of a gigabyte and seconds. Every reader refuses such a picture from its header (with
// little address space left, a decode would fail otherwise); real panoramic sizes stay within.
TEST(ImagePixelBudget, PicturesDeclaringMorePixelsThanTheBudgetAreRefusedBeforeDecoding)
{
    EXPECT_TRUE(withinPixelBudget({7200, 3600}) && withinPixelBudget({12000, 6000}) && withinPixelBudget({16384, 8192}));
    EXPECT_FALSE(withinPixelBudget({16385, 8192}) || withinPixelBudget({16000, 16000}) || withinPixelBudget({0, 5}));

    UserScanFixture f;
    const QString huge = f.pictures.filePath("huge.jpg");
    writeFile(huge, jpegDeclaringSize(16000, 16000));
    ASSERT_LT(readFile(huge).size(), 1000);
    QByteArray pic = readFile(huge);
    encipherBytes(pic, CipherKind::Data);
    writeFile(f.pictures.filePath("t.pic"), pic);
    const QString refusal = "The image of 16000 x 16000 pixels is larger than the 134 million pixels this program "
                            "decodes.";
    ImageAllocationLimit allocation(1024);
    LogCapture log;
    QStringList messages;
    QByteArray rgb = "left over";
    int width = 0, height = 0;
    bool loaded = true;
    {
        AddressSpaceHeadroom headroom(256 << 20);
        loaded = loadImageRgb(huge, rgb, width, height, true, false, false);
        messages << thrownMessage([&] { writeUserPreview(huge, f.path("preview.pic")); })
                 << thrownMessage([&] { writeUserPano(huge, f.path("pano.pic")); })
                 << thrownMessage([&] { loadPicImage(f.pictures.filePath("t.pic")); });
        f.addThroughMenu({huge});
    }
    EXPECT_FALSE(loaded);
    EXPECT_TRUE(rgb.isEmpty());
    EXPECT_EQ(messages, (QStringList{"Could not load image " + huge + ": " + refusal,
                                     "Could not load image " + huge + ": " + refusal,
                                     "Could not decode \"" + f.pictures.filePath("t.pic") + "\": " + refusal}));
    EXPECT_TRUE(log.contains(QtWarningMsg, "Could not load image " + huge + " " + refusal))
        << log.texts(QtWarningMsg).join("\n").toStdString();
    EXPECT_TRUE(f.floor->panos().isEmpty());
    EXPECT_EQ(listTree(f.path("Ground")), QStringList()) << "nothing of it is copied into the project";
}

// 637 bytes may declare 65000 x 2 pixels: a picture that holds no pano. Its pano would have been
// 65000 x 32500 (gigabytes for the scaled copy); it is refused at import with the reason, and
// whatever builds a pano from such a picture found in a scan folder refuses it too.
TEST(UserPano, PicturesThatMakeNoSensiblePanoAreRefusedAtImportAndWhenBuilt)
{
    EXPECT_EQ(userPictureRefusal({800, 100}), "") << "8:1, stretched four times";
    EXPECT_EQ(userPictureRefusal({50, 100}), "") << "1:2, squeezed four times";
    EXPECT_EQ(userPictureRefusal({2, 1}), "");
    for (const QSize size : {QSize(801, 100), QSize(49, 100), QSize(1, 1), QSize(16385, 8192), QSize(0, 0)})
        EXPECT_NE(userPictureRefusal(size), "") << size.width() << " x " << size.height();

    UserScanFixture f;
    LogCapture log;
    const QString stripe = f.pictures.filePath("stripe.jpg");
    writeFile(stripe, jpegDeclaringSize(65000, 2));
    ASSERT_LT(readFile(stripe).size(), 1000);
    const QString dot = f.picture("dot.jpg", 1, 1);
    const QString tall = f.picture("tall.jpg", 100, 300);
    const QString wide = f.picture("wide.jpg", 800, 100);
    f.addThroughMenu({stripe, dot, tall, wide});
    const QString refusal = "The image of 65000 x 2 pixels cannot make a pano: it would have to be stretched more "
                            "than 4 times to the 2:1 shape of a pano.";
    const QStringList warnings = log.texts(QtWarningMsg).filter("Could not load image");
    ASSERT_EQ(warnings.size(), 3) << log.texts(QtWarningMsg).join("\n").toStdString();
    EXPECT_EQ(warnings[0], "Could not load image " + stripe + " " + refusal);
    EXPECT_EQ(warnings[1], "Could not load image " + dot + " The image of 1 x 1 pixels is too small for a pano.");
    EXPECT_TRUE(warnings[2].startsWith("Could not load image " + tall + " The image of 100 x 300 pixels cannot make"));
    ASSERT_EQ(f.floor->panos().size(), 1);
    EXPECT_EQ(f.floor->panos()[0]->dir(), "User Pano_wide");
    EXPECT_EQ(listTree(f.path("Ground")).filter(QRegularExpression("/$")), QStringList{"User Pano_wide/"});

    const QStringList messages{thrownMessage([&] { writeUserPreview(stripe, f.path("t.pic")); }),
                               thrownMessage([&] { writeUserPano(stripe, f.path("s.pic")); })};
    EXPECT_EQ(messages, QStringList(2, "Could not load image " + stripe + ": " + refusal));
    EXPECT_FALSE(QFile::exists(f.path("t.pic")) || QFile::exists(f.path("s.pic")));
}

// Every pano the program writes fits the budget of its own image reader, so it can be read again:
// a picture wider than the widest pano makes a pano of that width, and the pano writer refuses
// anything larger before it encodes a byte.
TEST(UserPano, NoPanoIsLargerThanTheProgramReadsAndAPictureWiderMakesOneOfTheLargestSize)
{
    EXPECT_EQ(userPanoSize({20000, 5000}), QSize(16384, 8192));
    EXPECT_EQ(userPanoSize({16384, 8192}), QSize(16384, 8192));
    EXPECT_EQ(userPanoSize({3001, 1000}), QSize(3001, 1500));
    EXPECT_TRUE(withinPixelBudget(userPanoSize({65535, 65535})));

    QTemporaryDir dir;
    EXPECT_EQ(thrownMessage([&] { writeFullPanoPic(dir.filePath("s.pic"), plantedRgb(), 16385, 8192); }),
              "A pano of 16385 x 8192 pixels is larger than the 16384 x 8192 this program writes.");
    EXPECT_THROW(writeFullPanoPic(dir.filePath("s.pic"), plantedRgb(), 16384, 8193), std::runtime_error);
    EXPECT_EQ(listTree(dir.path()), QStringList());
}

// Where the scaled pano cannot be allocated, QImage::scaled gives a null image; handed on, the
// encoder read width x height x 3 bytes from an empty buffer. It is a failure with the reason.
TEST(UserPano, APanoThatCannotBeAllocatedIsAFailureWithTheReasonAndNothingIsWritten)
{
    QTemporaryDir dir;
    const QString picture = dir.filePath("u.jpg");
    writeFile(picture, jpegDeclaringSize(8192, 1024)); // 24 MB decoded, a pano of 96 MB
    ImageAllocationLimit allocation(kImageReaderLimitMb);
    // Qt converts a picture this large on its thread pool, whose threads could not start under
    // the limit (and the conversion would wait for them): they are started first.
    ASSERT_FALSE(QImage(8192, 1024, QImage::Format_RGB32).convertToFormat(QImage::Format_RGB888).isNull());
    QString message;
    {
        AddressSpaceHeadroom headroom(80 << 20);
        if (!headroom.active())
            GTEST_SKIP() << "no address-space limit under the sanitizers";
        message = thrownMessage([&] { writeUserPano(picture, dir.filePath("s.pic")); });
    }
    EXPECT_EQ(message, "Could not load image " + picture
                           + ": there is not enough memory for a picture of 8192 x 4096 pixels.");
    EXPECT_FALSE(QFile::exists(dir.filePath("s.pic")));
}
