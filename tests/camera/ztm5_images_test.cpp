#include "camera/cam_params_ztm5.h"
#include "camera/shot_correction.h"
#include "imaging/image_io.h"
#include "support/pic_checks.h"
#include "support/system_cfg_fixture.h"
#include "support/test_support.h"
#include "support/ztm5_project.h"

#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace testsupport;

namespace {
constexpr int kSide = 96;

// A top-down RGB picture decoded by djpeg (libjpeg-turbo), as binary PPM.
struct Decoded {
    int width = 0;
    int height = 0;
    QByteArray rgb;
    int at(int x, int y, int c) const { return uint8_t(rgb[(qsizetype(y) * width + x) * 3 + c]); }
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

// Whether a pixel of a picture shows the planted red marker.
bool isRed(int r, int g, int b)
{
    return r > 120 && r > g + 60 && r > b + 60;
}

// The pixel at (x, y) counted from the file's top left, in a bottom-up buffer of side kSide.
bool bufferRedAt(const QByteArray& rgb, int x, int topY)
{
    const qsizetype i = (qsizetype(kSide - 1 - topY) * kSide + x) * 3;
    return isRed(uint8_t(rgb[i]), uint8_t(rgb[i + 1]), uint8_t(rgb[i + 2]));
}

void writeJpeg(const QString& path, int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(colour);
    ASSERT_TRUE(image.save(path, "JPG", 95));
}

class Ztm5Shots : public ::testing::Test {
protected:
    void make(const QStringList& options)
    {
        project = makeZtm5Project(dir.path(), QStringList{"--side", QString::number(kSide)} + options);
        ASSERT_TRUE(model.loadSystemFile(dir.filePath("system.cfg")));
        folder = dir.filePath(project["scans"][0]["dir"].toString());
    }
    QString path(const QString& name) const { return folder + "/" + name; }
    QString build()
    {
        return thrownMessage([&] { model.buildHdrImage(folder, 1, true, folder); });
    }
    QTemporaryDir dir;
    QJsonObject project;
    CamParamsZTM5 model;
    QString folder;
};
} // namespace

TEST_F(Ztm5Shots, ShotsLoadSquareAndBottomUpAndAShotOfAnotherSizeIsRefused)
{
    make({});
    for (int shot = 0; shot < 3; ++shot) {
        QByteArray rgb;
        model.loadFisheyeImage(folder, shot, rgb, false);
        ASSERT_EQ(rgb.size(), kSide * kSide * 3) << shot;
        // The marker near the file's top left sits near the end of the buffer, on the left.
        EXPECT_TRUE(bufferRedAt(rgb, 8, 8)) << shot;
        EXPECT_FALSE(bufferRedAt(rgb, 8, kSide - 9)) << shot;
        EXPECT_FALSE(bufferRedAt(rgb, kSide - 9, 8)) << shot;
    }
    QByteArray rgb("old");
    model.loadFisheyeImage(folder, 3, rgb, false);
    EXPECT_TRUE(rgb.isEmpty()) << "no h4.jpg: empty, no error";

    for (const auto& [width, height] : {std::pair{kSide, kSide - 16}, {kSide + 32, kSide}}) {
        writeJpeg(path("h2.jpg"), width, height, Qt::gray);
        rgb = "old";
        EXPECT_EQ(thrownMessage([&] { model.loadFisheyeImage(folder, 1, rgb, true); }),
                  "Failed to load image" + path("h2.jpg") + ": improper size.");
        EXPECT_TRUE(rgb.isEmpty());
    }
}

TEST_F(Ztm5Shots, CorrectedShotsHaveRedAndBlueLinedUpWithGreen)
{
    make({});
    makeSystemCfg(dir.filePath("strong.cfg"), {"--model", "ztm5", "--width", QString::number(kSide), "--height",
                                               QString::number(kSide), "--set", "RCA=1.04", "--set", "BCA=0.97"});
    CamParamsZTM5 strong;
    ASSERT_TRUE(strong.loadSystemFile(dir.filePath("strong.cfg")));
    QByteArray plain, corrected;
    strong.loadFisheyeImage(folder, 0, plain, false);
    strong.loadFisheyeImage(folder, 0, corrected, true);
    ASSERT_EQ(corrected.size(), plain.size());
    int redChanged = 0, blueChanged = 0;
    for (qsizetype i = 0; i < plain.size(); i += 3) {
        ASSERT_EQ(corrected[i + 1], plain[i + 1]) << "green stays, pixel " << i / 3;
        redChanged += corrected[i] != plain[i];
        blueChanged += corrected[i + 2] != plain[i + 2];
    }
    EXPECT_GT(redChanged, plain.size() / 30);
    EXPECT_GT(blueChanged, plain.size() / 30);
}

TEST_F(Ztm5Shots, ThreeExposuresBecomeTheFirstShotWithItsMarkerStillTopLeft)
{
    // Wider exposures: each is cut to its centred square first.
    make({"--exposures", "3", "--exposure-width", QString::number(kSide + 40)});
    ASSERT_FALSE(QFileInfo::exists(path("h1.jpg")));
    model.buildHdrImage(folder, 0, true, folder);
    model.buildHdrImage(folder, 2, true, folder);
    EXPECT_FALSE(QFileInfo::exists(path("h1.jpg"))) << "only the first shot has exposures";
    model.buildHdrImages(folder, true, folder);
    ASSERT_TRUE(QFileInfo::exists(path("h1.jpg")));
    for (int k = 0; k < 3; ++k)
        EXPECT_TRUE(QFileInfo::exists(path(QString("p%1.jpg").arg(k)))) << "exposures stay";

    const Decoded shot = djpeg(path("h1.jpg"));
    ASSERT_EQ(shot.width, kSide);
    ASSERT_EQ(shot.height, kSide);
    EXPECT_TRUE(isRed(shot.at(8, 8, 0), shot.at(8, 8, 1), shot.at(8, 8, 2)));
    for (const auto& [x, y] : {std::pair{8, kSide - 9}, {kSide - 9, 8}, {kSide - 9, kSide - 9}})
        EXPECT_FALSE(isRed(shot.at(x, y, 0), shot.at(x, y, 1), shot.at(x, y, 2))) << x << ", " << y;
    const ProcessResult quality = runProcess("identify", {"-format", "%Q", path("h1.jpg")});
    EXPECT_EQ(quality.out.trimmed(), "91");

    // The fused shot lies between the darkest and the brightest exposure.
    auto mean = [](const Decoded& d, int left) {
        double sum = 0;
        for (int y = 20; y < kSide - 20; ++y)
            for (int x = 20; x < kSide - 20; ++x)
                sum += d.at(x + left, y, 1);
        return sum / ((kSide - 40) * (kSide - 40));
    };
    const double fused = mean(shot, 0);
    EXPECT_GT(fused, mean(djpeg(path("p0.jpg")), 20) + 5);
    EXPECT_LT(fused, mean(djpeg(path("p2.jpg")), 20) - 5);

    // An existing shot is left alone.
    const QByteArray first = readFile(path("h1.jpg"));
    writeFile(path("h1.jpg"), "kept");
    EXPECT_EQ(build(), "(nothing thrown)");
    EXPECT_EQ(readFile(path("h1.jpg")), "kept");
    EXPECT_NE(first, "kept");
}

// The first shot of a scan on read-only media goes to the folder it is given; a shot in either
// folder is not built again.
TEST_F(Ztm5Shots, TheFirstShotFusedIntoAnotherFolderIsTheSameShot)
{
    make({"--exposures", "3"});
    const QString elsewhere = dir.filePath("cache");
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    const QStringList before = QDir(folder).entryList(QDir::Files);
    model.buildHdrImages(folder, true, elsewhere);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), before);
    ASSERT_EQ(QDir(elsewhere).entryList(QDir::Files), QStringList{"h1.jpg"});
    EXPECT_EQ(build(), "(nothing thrown)");
    EXPECT_EQ(readFile(path("h1.jpg")), readFile(elsewhere + "/h1.jpg"));
    QFile::remove(path("h1.jpg"));
    writeFile(elsewhere + "/h1.jpg", "built before");
    model.buildHdrImages(folder, true, elsewhere);
    EXPECT_FALSE(QFileInfo::exists(path("h1.jpg")));
    EXPECT_EQ(readFile(elsewhere + "/h1.jpg"), "built before");
}

TEST_F(Ztm5Shots, ASingleExposureIsTheShotAndWithoutTheFirstNothingIsBuilt)
{
    make({"--exposures", "1"});
    EXPECT_EQ(build(), "(nothing thrown)");
    const Decoded shot = djpeg(path("h1.jpg")), exposure = djpeg(path("p0.jpg"));
    ASSERT_EQ(shot.rgb.size(), exposure.rgb.size());
    double difference = 0;
    for (qsizetype i = 0; i < shot.rgb.size(); ++i)
        difference += std::abs(int(uint8_t(shot.rgb[i])) - int(uint8_t(exposure.rgb[i])));
    EXPECT_LT(difference / shot.rgb.size(), 2.0) << "the same picture, encoded once more";

    // Exposures without "p0.jpg" give nothing.
    QFile::remove(path("h1.jpg"));
    ASSERT_TRUE(QFile::rename(path("p0.jpg"), path("p1.jpg")));
    EXPECT_EQ(build(), "(nothing thrown)");
    EXPECT_FALSE(QFileInfo::exists(path("h1.jpg")));
}

TEST_F(Ztm5Shots, ExposuresThatCannotBeReadOrHoldNoShotAreReportedAndNothingIsWritten)
{
    make({"--exposures", "3"});
    const QByteArray good = readFile(path("p1.jpg"));
    writeFile(path("p1.jpg"), "no picture at all");
    EXPECT_EQ(build(), "Could not load HDR image: " + path("p1.jpg"));
    EXPECT_FALSE(QFileInfo::exists(path("h1.jpg")));

    // Of another height, or narrower than tall (no square of the shot's side in it).
    for (const auto& [width, height] : {std::pair{kSide + 20, kSide + 2}, {kSide - 10, kSide}}) {
        writeJpeg(path("p1.jpg"), width, height, Qt::darkGray);
        EXPECT_EQ(build(), "Could not process HDR image: " + path("p1.jpg")) << width << " x " << height;
        EXPECT_FALSE(QFileInfo::exists(path("h1.jpg")));
    }
    writeFile(path("p1.jpg"), good);
    EXPECT_EQ(build(), "(nothing thrown)");
    EXPECT_TRUE(QFileInfo::exists(path("h1.jpg")));
}

TEST_F(Ztm5Shots, CropAndCorrectionRefuseABufferThatHoldsNoShot)
{
    make({});
    const auto pixel = [](int x, int y, int c) { return char((x * 7 + y * 3 + c * 50) & 0xff); };
    QByteArray wide(qsizetype(kSide + 9) * kSide * 3, '\0');
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide + 9; ++x)
            for (int c = 0; c < 3; ++c)
                wide[(qsizetype(y) * (kSide + 9) + x) * 3 + c] = pixel(x, y, c);
    QByteArray rgb = wide;
    ASSERT_TRUE(cropAndCorrectChromaticAberration(model, rgb));
    ASSERT_EQ(rgb.size(), kSide * kSide * 3);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
            ASSERT_EQ(rgb[(qsizetype(y) * kSide + x) * 3 + 1], pixel(x + 4, y, 1)) << x << ", " << y;

    for (qsizetype size : {qsizetype(kSide - 8) * kSide * 3, qsizetype(kSide) * kSide * 3 + 3, qsizetype(0)}) {
        QByteArray refused(size, 'x');
        EXPECT_FALSE(cropAndCorrectChromaticAberration(model, refused)) << size;
        EXPECT_EQ(refused, QByteArray(size, 'x'));
    }
}

TEST_F(Ztm5Shots, TheFingerprintIsTheFirstLidarFilesDigest)
{
    make({});
    EXPECT_EQ(QString::fromStdString(model.scanHash(folder.toStdString())), sha1sumOf(path("pts1.dat")));
    // Only an empty first lidar file lets the shots decide.
    writeFile(path("pts1.dat"), {});
    EXPECT_EQ(QString::fromStdString(model.scanHash(folder.toStdString())), sha1sumOf(path("h1.jpg")));
}

// 637 bytes may declare 16000 x 8000 pixels, which the program's reader limit would let it decode
// for a gigabyte and seconds. A shot or exposure the calibration cannot take is refused from its
// header: with little address space left, a decode would fail first (and the shot pass unnoticed).
TEST_F(Ztm5Shots, ShotsAndExposuresOfAnotherSizeAreRefusedFromTheirHeaderBeforeDecoding)
{
    make({});
    writeFile(path("h2.jpg"), jpegDeclaringSize(16000, 8000));
    QFile::remove(path("h1.jpg"));
    writeFile(path("p0.jpg"), jpegDeclaringSize(16000, 8000));
    ImageAllocationLimit allocation(kImageReaderLimitMb);
    QByteArray rgb = "left over";
    QString shot, exposure;
    {
        AddressSpaceHeadroom headroom(256 << 20);
        shot = thrownMessage([&] { model.loadFisheyeImage(folder, 1, rgb, true); });
        exposure = build();
    }
    EXPECT_EQ(shot, "Failed to load image" + path("h2.jpg") + ": improper size.");
    EXPECT_TRUE(rgb.isEmpty());
    EXPECT_EQ(exposure, "Could not process HDR image: " + path("p0.jpg"));
    EXPECT_FALSE(QFileInfo::exists(path("h1.jpg")));

    // Of the shot's height, but more than twice as wide: no camera's frame.
    writeJpeg(path("p0.jpg"), 2 * kSide + 1, kSide, Qt::darkGray);
    EXPECT_EQ(build(), "Could not process HDR image: " + path("p0.jpg"));
    writeJpeg(path("p0.jpg"), 2 * kSide, kSide, Qt::darkGray);
    EXPECT_EQ(build(), "(nothing thrown)");
    EXPECT_TRUE(QFileInfo::exists(path("h1.jpg")));
}
