#include "base/cipher.h"
#include "model/panorama.h"
#include "model/pointcloud_file.h"
#include "support/model_fixture.h"
#include "support/pic_checks.h"
#include "support/test_support.h"
#include "support/two_lens_scan_fixture.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QtConcurrent>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <cmath>

using namespace testsupport;

namespace {
constexpr double kRadToDeg = 57.29577951308232;
const QString kMissingMainImage = QStringLiteral("Main image is missing and pano will be omitted.");

struct TwoLensProject : ProjectFixture {
    TwoLensScanSetup setup;
    Floor* floor = addFloor(addBuilding("House"), "Ground");
    TwoLensProject() { property->setCamParams(makeTwoLensCamera(setup).release()); }
    QString scanPath(const QString& name) const { return floor->folderPath() + "/" + name; }
    Panorama* addScan(const QString& name)
    {
        writeTwoLensScanFolder(scanPath(name), setup);
        return Panorama::createFromFolder(QJsonObject(), name, floor);
    }
    // The outline the camera model reads from the scan's lidar files (pinned by the camera tests).
    QList<QPoint> lidarOutline(const QString& name) const
    {
        ScanData data;
        ImageParams p;
        makeTwoLensCamera(setup)->loadScanData(scanPath(name), p, data);
        return data.lidarPoints;
    }
};

// Runs the action on a pool thread, as the load and the build pass do: the text of its failure.
const QString kDone = QStringLiteral("(nothing thrown)");
template <typename F>
QString onPoolThread(F&& action)
{
    return QtConcurrent::run([&] { return thrownMessage(action); }).result();
}

// The scan's outline arrives through a job posted to the GUI thread.
bool outlineArrives(Panorama* scan)
{
    return processEventsUntil([&] { return !scan->outline().isEmpty(); });
}
} // namespace

TEST(TwoLensScanReload, ReadsTheScanDataWritesPreviewAndPointcloudAndLaterKeepsThePlacement)
{
    TwoLensProject f;
    Panorama* scan = f.addScan("s");
    ASSERT_TRUE(scan && scan->panoType() == PanoType::Full);
    ASSERT_EQ(onPoolThread([&] { scan->reload(false); }), kDone);
    EXPECT_TRUE(scan->outline().isEmpty()) << "geometry reaches the scene only on the GUI thread";
    ASSERT_TRUE(outlineArrives(scan));
    EXPECT_EQ(scan->outline(), f.lidarOutline("s"));
    // "pos" (x, y) with y up becomes (x, -y); the heading is (YAW - rot) in degrees, YAW being 0.
    EXPECT_EQ(scan->pos(), QPointF(2500, -1200));
    EXPECT_NEAR(scan->rotation(), -0.25 * kRadToDeg, 1e-4);
    EXPECT_TRUE(f.property->isDirty()) << "a scan placed from its camera data is a change to save";
    EXPECT_EQ(scan->scanHash().toStdString(), CamParamsZTM6().scanHash(f.scanPath("s").toStdString()));
    const QJsonObject scanJson = QJsonDocument::fromJson(readFile(f.scanPath("s/scan.json"))).object();
    for (const char* key : {"captureTimestamp", "shutterCounter", "temperature", "temperatureSource", "lidarUptime",
                            "system", "takePictureParams", "systemcfg", "globalId", "alignmentScore"})
        EXPECT_EQ(scan->capture()[key], scanJson[key]) << key;
    EXPECT_EQ(scan->capture()["cameraSerialNumber"].toString(), "MX0123456789");

    const QImage preview = decipheredPicImage(f.scanPath("s/t.pic"));
    EXPECT_EQ(preview.size(), QSize(1800, 900));
    expectPlantedScene(preview);
    QList<QPoint> stored;
    ASSERT_TRUE(readPointcloudFile(f.scanPath("s/pc.dat"), stored));
    EXPECT_EQ(stored, scan->outline());
    QByteArray data = scan->pointcloudData();
    ASSERT_TRUE(decipherBytes(data, CipherKind::Data));
    ASSERT_TRUE(decodePointcloud(data, stored));
    EXPECT_EQ(stored, scan->outline());

    // A later reload keeps what the user placed and the preview; reprocessing renders it again.
    scan->setState({QPointF(100, 200), 30.0});
    scan->setOutline({});
    f.property->setDirty(false);
    writeFile(f.scanPath("s/t.pic"), "kept");
    ASSERT_EQ(onPoolThread([&] { scan->reload(false); }), kDone);
    ASSERT_TRUE(outlineArrives(scan));
    EXPECT_EQ(scan->pos(), QPointF(100, 200));
    EXPECT_EQ(scan->rotation(), 30.0);
    EXPECT_FALSE(f.property->isDirty());
    EXPECT_EQ(readFile(f.scanPath("s/t.pic")), "kept");
    ASSERT_EQ(onPoolThread([&] { scan->reload(true); }), kDone);
    EXPECT_EQ(decipheredPicImage(f.scanPath("s/t.pic")).size(), QSize(1800, 900));
}

TEST(TwoLensScanBuild, EqualisesTheLensesAndWritesTheFullPanoWithItsPacket)
{
    TwoLensProject f;
    Panorama* scan = f.addScan("s");
    ASSERT_EQ(onPoolThread([&] { scan->buildPano(); }), kDone);
    for (int ch = 0; ch < 3; ++ch)
        EXPECT_NEAR(scan->imageParams()[ImageParams::RED_GAIN_2 + ch], f.setup.lens2Gains[ch], 0.0101) << ch;

    const QImage pano = decipheredPicImage(f.scanPath("s/s.pic"));
    ASSERT_EQ(pano.size(), QSize(7200, 3600));
    expectPlantedScene(pano);
    // Outside the seam bands each half comes from its own lens; the scene has one colour along an
    // elevation, so the gains must have brought lens 2 (its picture darker) onto lens 1.
    using Channel = int (*)(QRgb);
    for (int row : {1080, 2520})
        for (Channel channel : {Channel(qRed), Channel(qGreen), Channel(qBlue)})
            EXPECT_NEAR(channel(pano.pixel(6480, row)), channel(pano.pixel(3600, row)), 4) << row;
    const QJsonObject gpano = exiftoolGPano(f.scanPath("s/s.pic"));
    EXPECT_EQ(gpano["ProjectionType"].toString(), "equirectangular");
    for (const auto& [key, value] : {std::pair{"FullPanoWidthPixels", 7200}, {"FullPanoHeightPixels", 3600},
                                     {"CroppedAreaImageWidthPixels", 7200}, {"CroppedAreaImageHeightPixels", 3600},
                                     {"CroppedAreaLeftPixels", 0}, {"CroppedAreaTopPixels", 0}})
        EXPECT_EQ(gpano[key].toInt(-1), value) << key;
}

TEST(TwoLensScanBuild, MissingLensImagesAndUnusableScanFolders)
{
    TwoLensProject f;
    Panorama* scan = f.addScan("s");
    QFile::remove(f.scanPath("s/h1.jpg"));
    EXPECT_TRUE(onPoolThread([&] { scan->reload(false); }).endsWith(kMissingMainImage));
    EXPECT_TRUE(onPoolThread([&] { scan->reload(true); }).endsWith(kMissingMainImage));
    EXPECT_TRUE(onPoolThread([&] { scan->buildPano(); }).endsWith(kMissingMainImage));
    EXPECT_FALSE(QFileInfo::exists(f.scanPath("s/t.pic")));
    EXPECT_FALSE(QFileInfo::exists(f.scanPath("s/s.pic")));

    // Without lens 2 the pano comes from lens 1 alone and the gains stay as they were.
    TwoLensScanSetup oneLens = f.setup;
    oneLens.withSecondLensImage = false;
    writeTwoLensScanFolder(f.scanPath("one"), oneLens);
    Panorama* single = Panorama::createFromFolder(QJsonObject(), "one", f.floor);
    ASSERT_EQ(onPoolThread([&] { single->buildPano(); }), kDone);
    EXPECT_EQ(single->imageParams(), ImageParams());
    expectPlantedScene(decipheredPicImage(f.scanPath("one/s.pic")));

    // A lens image that is not a picture is reported, not taken for missing.
    Panorama* broken = f.addScan("broken");
    writeFile(f.scanPath("broken/h1.jpg"), "not a picture");
    const QString text = onPoolThread([&] { broken->reload(false); });
    EXPECT_FALSE(text.isEmpty());
    EXPECT_FALSE(text.endsWith(kMissingMainImage)) << text.toStdString();
}

TEST(TwoLensScanPlacement, FloorTransformPlacesANewScan)
{
    TwoLensProject f;
    const double tx = 1000, ty = -500, angle = 0.5;
    writeFile(f.floor->folderPath() + "/floor.json", R"({"floorTransform": {"tx": 1000, "ty": -500, "angle": 0.5}})");
    Panorama* scan = f.addScan("s");
    ASSERT_EQ(onPoolThread([&] { scan->loadPointcloud(true, 0, 0, -1, 0); }), kDone);
    ASSERT_TRUE(outlineArrives(scan));
    // The camera's frame turned by -angle (y down: clockwise on screen is positive) and moved.
    const double x = 2500, y = -1200, c = std::cos(-angle), s = std::sin(-angle);
    EXPECT_NEAR(scan->pos().x(), x * c - y * s + tx, 1e-6);
    EXPECT_NEAR(scan->pos().y(), x * s + y * c + ty, 1e-6);
    EXPECT_NEAR(scan->rotation(), -0.25 * kRadToDeg - angle * kRadToDeg, 1e-4);
    EXPECT_EQ(scan->outline(), f.lidarOutline("s"));
}

TEST(TwoLensScanPlacement, JobsForADeletedScanAreDropped)
{
    TwoLensProject f;
    Panorama* scan = f.addScan("s");
    Panorama* other = f.addScan("t");
    for (Panorama* posting : {scan, other})
        ASSERT_EQ(onPoolThread([&] { posting->loadPointcloud(true, 0, 0, -1, 0); }), kDone);
    f.floor->deletePano(scan, false);
    ASSERT_TRUE(outlineArrives(other));
    processEventsFor(50);
    EXPECT_EQ(f.floor->panos(), QList<Panorama*>{other});
}

TEST(PointcloudFile, RoundTripsAndRefusesWhatIsNotOne)
{
    const QList<QPoint> points{{1, -2}, {INT_MAX, INT_MIN}, {0, 0}, {-40000, 99999}};
    const QByteArray bytes = encodePointcloud(points);
    EXPECT_EQ(bytes.left(20).toHex(), "5150434401000000" "04000000" "01000000" "feffffff");
    QList<QPoint> read;
    ASSERT_TRUE(decodePointcloud(bytes, read));
    EXPECT_EQ(read, points);

    // Longer, shorter, a huge count, another version, another magic, a header alone.
    auto with = [&](int at, char value) { return QByteArray(bytes).replace(at, 1, &value, 1); };
    const QByteArray longer = bytes + QByteArray(8, '\0');
    for (const QByteArray& bad : {longer, bytes.chopped(1), with(11, 0x7f), with(4, 2), with(0, 'X'), bytes.left(4)}) {
        read = {QPoint(1, 1)};
        EXPECT_FALSE(decodePointcloud(bad, read)) << bad.toHex().toStdString();
        EXPECT_TRUE(read.isEmpty());
    }

    // A file far larger than any point cloud is refused by its size; a folder is not replaced.
    QTemporaryDir dir;
    QFile big(dir.filePath("pc.dat"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(qint64(kMaxPointcloudPoints) * 8 + 1024));
    EXPECT_FALSE(readPointcloudFile(big.fileName(), read));
    EXPECT_THROW(writePointcloudFile(dir.path(), points), std::runtime_error);
    FileSizeLimit limit(20); // a write cut short, as on a nearly full disk: the cause is named
    EXPECT_EQ(thrownMessage([&] { writePointcloudFile(dir.filePath("cut.dat"), points); }),
              "Could not write " + dir.filePath("cut.dat") + ": " + QString::fromLocal8Bit(strerror(EFBIG)));
}
