#include "camera/cam_params_ztm4.h"
#include "imaging/image_io.h"
#include "support/pic_checks.h"
#include "support/system_cfg_fixture.h"
#include "support/test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {
constexpr int kSide = 96;
constexpr int kWidth = 144;

// A top-down RGB picture decoded by djpeg (libjpeg-turbo), as binary PPM.
struct Decoded {
    int width = 0;
    int height = 0;
    QByteArray rgb;
    int at(int x, int y, int c) const { return uint8_t(rgb[(qsizetype(y) * width + x) * 3 + c]); }
    bool redAt(int x, int y) const { return at(x, y, 0) > 150 && at(x, y, 1) < 90 && at(x, y, 2) < 90; }
};

Decoded djpeg(const QString& path)
{
    const ProcessResult result = runProcess("djpeg", {"-pnm", path});
    Decoded out;
    if (result.exitCode != 0)
        return out;
    // "P6\n<w> <h>\n255\n" then the pixels.
    const QList<QByteArray> header = result.out.left(32).split('\n');
    const QList<QByteArray> size = header.value(1).split(' ');
    out.width = size.value(0).toInt();
    out.height = size.value(1).toInt();
    out.rgb = result.out.right(qsizetype(out.width) * out.height * 3);
    return out;
}

// Exposures as the camera writes them, by PIL: `width` x `height`, a grey ramp scaled by the
// exposure's gain and a red marker at the top left of the centred square.
void writeExposures(const QString& folder, const QString& letter, int width, int height, int count)
{
    const char* program =
        "import sys\n"
        "import numpy as np\n"
        "from PIL import Image\n"
        "folder, letter, w, h, count = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])\n"
        "off = (w - min(w, h)) // 2\n"
        "x = np.arange(w)[None, :]\n"
        "y = np.arange(h)[:, None]\n"
        "light = 0.15 + 0.6 * (x + y) / (w + h) + 0.1 * ((x // 6 + y // 6) % 2)\n"
        "for k, gain in enumerate((0.4, 1.0, 2.5)[:count]):\n"
        "    v = np.clip(np.floor(255 * np.clip(light * gain, 0, 1) ** (1 / 2.2) + 0.5), 0, 255)\n"
        "    img = np.repeat(v[..., None], 3, axis=2).astype(np.uint8)\n"
        "    img[3:15, off + 3:off + 15] = (235, 20, 20)\n"
        "    Image.fromarray(img, 'RGB').save('%s/p%s%d.jpg' % (folder, letter, k), 'JPEG', quality=95)\n";
    const ProcessResult result = runProcess(systemPython(), {"-c", program, folder, letter, QString::number(width),
                                                             QString::number(height), QString::number(count)});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
}

// How many pixels of a decoded picture show the marker, in each quarter (top-left, top-right,
// bottom-left, bottom-right).
std::array<int, 4> redQuarters(const Decoded& picture)
{
    std::array<int, 4> counts{};
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            if (picture.redAt(x, y))
                ++counts[size_t((y >= picture.height / 2) * 2 + (x >= picture.width / 2))];
    return counts;
}

class Ztm4Shots : public ::testing::Test {
protected:
    void SetUp() override
    {
        makeSystemCfg(dir.filePath("system.cfg"),
                      {"--model", "ztm4", "--height", QString::number(kSide), "--width", QString::number(kWidth)});
        ASSERT_TRUE(model.loadSystemFile(dir.filePath("system.cfg")));
        folder = dir.filePath("scan");
        ASSERT_TRUE(QDir().mkpath(folder));
    }
    QString path(const QString& name) const { return folder + "/" + name; }
    QString build(int shot = 0) { return thrownMessage([&] { model.buildHdrImage(folder, shot, false, folder); }); }
    QStringList files() const { return QDir(folder).entryList(QDir::Files, QDir::Name); }
    QTemporaryDir dir;
    CamParamsZTM4 model;
    QString folder;
};
} // namespace

// Three landscape exposures fuse into the shot's square: the marker stays at its top left, the
// file is a quality-91 JPEG and the exposures are gone.
TEST_F(Ztm4Shots, ExposuresFuseIntoTheLetteredShotWithTheMarkerWhereItWas)
{
    writeExposures(folder, "b", kWidth, kSide, 3);
    EXPECT_EQ(build(1), "(nothing thrown)");
    EXPECT_EQ(files(), QStringList{"hb.jpg"});
    const Decoded shot = djpeg(path("hb.jpg"));
    ASSERT_EQ(shot.width, kSide);
    ASSERT_EQ(shot.height, kSide);
    const std::array<int, 4> red = redQuarters(shot);
    EXPECT_GT(red[0], 80);
    EXPECT_EQ(red[1] + red[2] + red[3], 0);
    EXPECT_TRUE(shot.redAt(8, 8));
    const ProcessResult quality = runProcess("identify", {"-format", "%Q", path("hb.jpg")});
    ASSERT_EQ(quality.exitCode, 0) << quality.err.toStdString();
    EXPECT_EQ(quality.out.trimmed(), "91");
    // The fusion brings the dark exposure's highlights and the bright one's shadows together:
    // the far corner, burnt out in the brightest exposure, is not white.
    EXPECT_LT(shot.at(kSide - 4, kSide - 4, 1), 250);

    // The shot loads bottom-up: the file's top row is the buffer's last.
    QByteArray rgb;
    model.loadFisheyeImage(folder, 1, rgb, true);
    ASSERT_EQ(rgb.size(), kSide * kSide * 3);
    const qsizetype topLeft = qsizetype(kSide - 1 - 8) * kSide * 3 + 8 * 3;
    EXPECT_GT(uint8_t(rgb[topLeft]), 150);
    EXPECT_LT(uint8_t(rgb[topLeft + 1]), 90);
}

TEST_F(Ztm4Shots, OneExposureIsTheShotAndSquareExposuresAreTakenAsTheyAre)
{
    writeExposures(folder, "a", kWidth, kSide, 1);
    EXPECT_EQ(build(0), "(nothing thrown)");
    EXPECT_EQ(files(), QStringList{"ha.jpg"});
    std::array<int, 4> red = redQuarters(djpeg(path("ha.jpg")));
    EXPECT_GT(red[0], 80);
    EXPECT_EQ(red[1] + red[2] + red[3], 0);

    // Two exposures: the second is not used but goes with the first.
    writeExposures(folder, "c", kSide, kSide, 2);
    EXPECT_EQ(build(2), "(nothing thrown)");
    EXPECT_EQ(files(), (QStringList{"ha.jpg", "hc.jpg"}));
    red = redQuarters(djpeg(path("hc.jpg")));
    EXPECT_GT(red[0], 80);
    EXPECT_EQ(red[1] + red[2] + red[3], 0);
}

TEST_F(Ztm4Shots, NothingIsBuiltOverAShotOrWithoutTheFirstExposure)
{
    writeExposures(folder, "a", kWidth, kSide, 3);
    writeFile(path("ha.jpg"), "already built");
    EXPECT_EQ(build(0), "(nothing thrown)");
    EXPECT_EQ(readFile(path("ha.jpg")), "already built");
    EXPECT_EQ(files().size(), 4);

    writeExposures(folder, "b", kWidth, kSide, 3);
    QFile::remove(path("pb0.jpg"));
    EXPECT_EQ(build(1), "(nothing thrown)");
    EXPECT_TRUE(QFile::exists(path("pb1.jpg")) && QFile::exists(path("pb2.jpg")));
    EXPECT_FALSE(QFile::exists(path("hb.jpg")));
    EXPECT_EQ(build(3), "(nothing thrown)") << "no fourth shot";
}

// A scan folder that cannot be written: the shot goes to the folder it is given, the same shot as in
// the scan folder, and the exposures, then all there is of the shot on the scan's own media, stay.
// A shot in either folder is not built again.
TEST_F(Ztm4Shots, AShotFusedIntoAnotherFolderLeavesTheScanFolderAsItWas)
{
    writeExposures(folder, "b", kWidth, kSide, 3);
    const QString elsewhere = dir.filePath("cache");
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    const QStringList exposures = files();
    EXPECT_EQ(thrownMessage([&] { model.buildHdrImage(folder, 1, false, elsewhere); }), "(nothing thrown)");
    EXPECT_EQ(files(), exposures);
    EXPECT_EQ(QDir(elsewhere).entryList(QDir::Files), QStringList{"hb.jpg"});
    EXPECT_EQ(build(1), "(nothing thrown)");
    EXPECT_EQ(readFile(path("hb.jpg")), readFile(elsewhere + "/hb.jpg")) << "the same fusion";
    EXPECT_EQ(files(), QStringList{"hb.jpg"});

    writeExposures(folder, "a", kWidth, kSide, 3);
    writeFile(elsewhere + "/ha.jpg", "built before");
    model.buildHdrImage(folder, 0, false, elsewhere);
    EXPECT_EQ(readFile(elsewhere + "/ha.jpg"), "built before");
    EXPECT_FALSE(QFile::exists(path("ha.jpg")));
    const QString other = dir.filePath("other");
    ASSERT_TRUE(QDir().mkpath(other));
    writeExposures(folder, "b", kWidth, kSide, 3);
    model.buildHdrImage(folder, 1, false, other);
    EXPECT_TRUE(QDir(other).isEmpty()) << "the scan folder holds the shot";
}

// Exposures that do not hold the shot's square are refused by name, and nothing is removed.
TEST_F(Ztm4Shots, ExposuresWithoutTheShotsSquareAreRefused)
{
    writeExposures(folder, "a", kSide - 10, kSide, 3);
    EXPECT_EQ(build(0), "Could not process HDR image: " + path("pa0.jpg")) << "portrait";
    writeExposures(folder, "b", kWidth, kSide + 2, 3);
    EXPECT_EQ(build(1), "Could not process HDR image: " + path("pb0.jpg")) << "another height";
    writeExposures(folder, "c", kWidth, kSide, 3);
    writeFile(path("pc1.jpg"), "not a picture");
    EXPECT_EQ(build(2), "Could not load HDR image: " + path("pc1.jpg"));
    EXPECT_EQ(files().size(), 9);
}

// The shot is written through a temporary and a rename: when the write fails the exposures stay
// and no part of a shot is left.
TEST_F(Ztm4Shots, AFailedWriteKeepsTheExposures)
{
    writeExposures(folder, "a", kWidth, kSide, 3);
    const QStringList before = files();
    QString message;
    {
        FileSizeLimit limit(512);
        message = build(0);
    }
    EXPECT_TRUE(message.startsWith("Could not write \"" + path("ha.jpg") + "\"")) << message.toStdString();
    EXPECT_EQ(files(), before);
    EXPECT_EQ(build(0), "(nothing thrown)");
    EXPECT_EQ(files(), QStringList{"ha.jpg"});
}

TEST_F(Ztm4Shots, ShotsOfAnotherSizeAreRefusedAndMissingOnesLeaveNothing)
{
    QByteArray rgb("left over");
    model.loadFisheyeImage(folder, 0, rgb, false);
    EXPECT_TRUE(rgb.isEmpty()) << "no file";
    writeExposures(folder, "a", kWidth, kSide, 1);
    ASSERT_TRUE(QFile::rename(path("pa0.jpg"), path("ha.jpg")));
    rgb = "left over";
    EXPECT_EQ(thrownMessage([&] { model.loadFisheyeImage(folder, 0, rgb, false); }),
              "Failed to process image" + path("ha.jpg") + ": improper size.");
    EXPECT_TRUE(rgb.isEmpty());
}

// 637 bytes may declare 16000 x 8000 pixels, which the program's reader limit would let it decode
// for a gigabyte and seconds. A shot or exposure the calibration cannot take is refused from its
// header: with little address space left, a decode would fail first (and the shot pass unnoticed).
TEST_F(Ztm4Shots, ShotsAndExposuresOfAnotherSizeAreRefusedFromTheirHeaderBeforeDecoding)
{
    writeFile(path("ha.jpg"), jpegDeclaringSize(16000, 8000));
    writeFile(path("pb0.jpg"), jpegDeclaringSize(16000, 8000));
    // Of the shot's height but wider than any camera's frame: more than twice as wide as high.
    writeFile(path("pc0.jpg"), jpegDeclaringSize(2 * kSide + 1, kSide));
    ImageAllocationLimit allocation(kImageReaderLimitMb);
    QByteArray rgb = "left over";
    QString shot, exposure, wide;
    {
        AddressSpaceHeadroom headroom(256 << 20);
        shot = thrownMessage([&] { model.loadFisheyeImage(folder, 0, rgb, false); });
        exposure = build(1);
        wide = build(2);
    }
    EXPECT_EQ(shot, "Failed to process image" + path("ha.jpg") + ": improper size.");
    EXPECT_TRUE(rgb.isEmpty());
    EXPECT_EQ(exposure, "Could not process HDR image: " + path("pb0.jpg"));
    EXPECT_EQ(wide, "Could not process HDR image: " + path("pc0.jpg"));
    EXPECT_EQ(files(), (QStringList{"ha.jpg", "pb0.jpg", "pc0.jpg"})) << "nothing built, nothing removed";

    // Twice as wide as high is the widest exposure taken.
    writeExposures(folder, "c", 2 * kSide, kSide, 1);
    EXPECT_EQ(build(2), "(nothing thrown)");
    EXPECT_TRUE(QFile::exists(path("hc.jpg")));
}
