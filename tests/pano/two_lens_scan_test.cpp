#include "pano/panorama.h"
#include "pano/pointcloud_file.h"
#include "project/cipher.h"
#include "support/model_fixture.h"
#include "support/pic_checks.h"
#include "support/test_support.h"
#include "support/two_lens_scan_fixture.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QtConcurrent>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

using namespace testsupport;

namespace {

constexpr double kRadToDeg = 57.29577951308232;

struct TwoLensProject : ProjectFixture {
    TwoLensScanSetup setup;
    Building* building = addBuilding("House");
    Floor* floor = addFloor(building, "Ground");

    TwoLensProject() { property->setCamParams(makeTwoLensCamera(setup).release()); }

    QString scanPath(const QString& name) const { return floor->folderPath() + "/" + name; }

    Panorama* addScan(const QString& name)
    {
        writeTwoLensScanFolder(scanPath(name), setup);
        return Panorama::createFromFolder(QJsonObject(), name, floor);
    }
};

// Runs the action on a pool thread, as the load and the build pass do; the failure text or empty.
template <typename F>
QString onPoolThread(F&& action)
{
    return QtConcurrent::run([&]() -> QString {
               try {
                   action();
               } catch (const std::exception& e) {
                   return QString::fromUtf8(e.what());
               }
               return {};
           })
        .result();
}

// The fingerprint as sha1sum and byte-wise addition make it.
QString digestSumOf(const QStringList& paths)
{
    QByteArray sum(20, '\0');
    for (const QString& path : paths) {
        const QByteArray digest = QByteArray::fromHex(sha1sumOf(path).toLatin1());
        for (int i = 0; i < 20; ++i)
            sum[i] = static_cast<char>(static_cast<uint8_t>(sum[i]) + static_cast<uint8_t>(digest[i]));
    }
    return QString::fromLatin1(sum.toHex());
}

// The angle the outline is sorted by; a point on the negative x axis counts as -pi.
double angleOf(const QPoint& p)
{
    return std::atan2(-static_cast<double>(p.y()), static_cast<double>(p.x()));
}

void expectOutlineOnTheWalls(const QList<QPoint>& outline, const Room& room)
{
    ASSERT_GT(outline.size(), 1400);
    for (qsizetype i = 0; i < outline.size(); ++i) {
        const QPoint& p = outline[i];
        ASSERT_LE(room.distanceToWalls(p.x(), p.y()), 1.0) << "point " << i;
        if (i > 0) {
            ASSERT_LE(angleOf(outline[i - 1]), angleOf(p)) << "point " << i;
        }
    }
}

} // namespace

TEST(TwoLensScanReload, ReadsTheScanDataAndWritesPreviewAndPointcloud)
{
    TwoLensProject f;
    Panorama* scan = f.addScan("Scan 1");
    ASSERT_NE(scan, nullptr);
    EXPECT_EQ(scan->panoType(), PanoType::Full);

    ASSERT_EQ(onPoolThread([&] { scan->reload(false); }), "");
    EXPECT_TRUE(scan->outline().isEmpty()) << "geometry reaches the scene only on the GUI thread";
    ASSERT_TRUE(processEventsUntil([&] { return !scan->outline().isEmpty(); }));

    expectOutlineOnTheWalls(scan->outline(), f.setup.room);
    // "pos" (x, y) with y up becomes (x, -y); the heading is (YAW - rot) in degrees, YAW being 0.
    EXPECT_EQ(scan->pos(), QPointF(2500, -1200));
    EXPECT_NEAR(scan->rotation(), -0.25 * kRadToDeg, 1e-4);
    EXPECT_TRUE(f.property->isDirty()) << "a scan placed from its camera data is a change to save";

    EXPECT_EQ(scan->scanHash(), digestSumOf({f.scanPath("Scan 1/pts1.dat"), f.scanPath("Scan 1/pts2.dat")}));
    const QJsonObject capture = scan->capture();
    EXPECT_EQ(capture["cameraSerialNumber"].toString(), "MX0123456789");
    EXPECT_EQ(capture["captureTimestamp"].toInteger(), 1700000000123);
    EXPECT_EQ(capture["shutterCounter"].toInt(), 4321);
    EXPECT_EQ(capture["system"].toObject()["firmware"].toString(), "4.2.17");
    EXPECT_EQ(capture["systemcfg"].toString(), "system.cfg");
    EXPECT_EQ(f.property->shutterCounter(), 4321);
    EXPECT_EQ(f.property->systemcfgs(), QStringList{"system.cfg"});
    EXPECT_EQ(scan->systemCfgIndex(), 0);

    const QImage preview = decipheredPicImage(f.scanPath("Scan 1/t.pic"));
    EXPECT_EQ(preview.size(), QSize(1800, 900));
    expectPlantedScene(preview);

    QList<QPoint> stored;
    ASSERT_TRUE(readPointcloudFile(f.scanPath("Scan 1/pc.dat"), stored));
    EXPECT_EQ(stored, scan->outline());
    QByteArray data = scan->pointcloudData();
    ASSERT_TRUE(decipherBytes(data, CipherKind::Data));
    QList<QPoint> decoded;
    ASSERT_TRUE(decodePointcloud(data, decoded));
    EXPECT_EQ(decoded, scan->outline());
}

TEST(TwoLensScanReload, LaterReloadsKeepTheUsersPlacementAndPreviewUnlessReprocessing)
{
    TwoLensProject f;
    Panorama* scan = f.addScan("s");
    ASSERT_EQ(onPoolThread([&] { scan->reload(false); }), "");
    ASSERT_TRUE(processEventsUntil([&] { return !scan->outline().isEmpty(); }));
    const QList<QPoint> outline = scan->outline();

    scan->setState({QPointF(100, 200), 30.0});
    scan->setOutline({});
    f.property->setDirty(false);
    writeFile(f.scanPath("s/t.pic"), "kept");
    ASSERT_EQ(onPoolThread([&] { scan->reload(false); }), "");
    ASSERT_TRUE(processEventsUntil([&] { return !scan->outline().isEmpty(); }));
    EXPECT_EQ(scan->outline(), outline);
    EXPECT_EQ(scan->pos(), QPointF(100, 200));
    EXPECT_EQ(scan->rotation(), 30.0);
    EXPECT_FALSE(f.property->isDirty());
    EXPECT_EQ(readFile(f.scanPath("s/t.pic")), "kept");

    ASSERT_EQ(onPoolThread([&] { scan->reload(true); }), "");
    EXPECT_EQ(decipheredPicImage(f.scanPath("s/t.pic")).size(), QSize(1800, 900));
}

TEST(TwoLensScanBuild, EqualisesTheLensesAndWritesTheFullPanoWithItsPacket)
{
    TwoLensProject f;
    Panorama* scan = f.addScan("s");
    // Lens 2's picture itself differs from lens 1's, or matching colours below would prove nothing.
    const QImage lens1(f.scanPath("s/h1.jpg"));
    const QImage lens2(f.scanPath("s/h2.jpg"));
    const QPoint skyInLens2(static_cast<int>(0.9 * lens2.width()), static_cast<int>(0.3 * lens2.height()));
    ASSERT_GT(std::abs(qRed(lens1.pixel(skyInLens2)) - qRed(lens2.pixel(skyInLens2))), 10);

    ASSERT_EQ(onPoolThread([&] { scan->buildPano(); }), "");
    const ImageParams& params = scan->imageParams();
    EXPECT_NEAR(params[ImageParams::RED_GAIN_2], f.setup.lens2Gains[0], 0.0101);
    EXPECT_NEAR(params[ImageParams::GREEN_GAIN_2], f.setup.lens2Gains[1], 0.0101);
    EXPECT_NEAR(params[ImageParams::BLUE_GAIN_2], f.setup.lens2Gains[2], 0.0101);

    const QImage pano = decipheredPicImage(f.scanPath("s/s.pic"));
    ASSERT_EQ(pano.size(), QSize(7200, 3600));
    expectPlantedScene(pano);
    // Outside the seam bands each half comes from its own lens; on one elevation the scene has
    // one colour, so the gains must have brought lens 2 onto lens 1.
    for (double v : {0.3, 0.7}) {
        const QRgb fromLens1 = pano.pixel(static_cast<int>(0.5 * 7200), static_cast<int>(v * 3600));
        const QRgb fromLens2 = pano.pixel(static_cast<int>(0.9 * 7200), static_cast<int>(v * 3600));
        EXPECT_NEAR(qRed(fromLens2), qRed(fromLens1), 4) << v;
        EXPECT_NEAR(qGreen(fromLens2), qGreen(fromLens1), 4) << v;
        EXPECT_NEAR(qBlue(fromLens2), qBlue(fromLens1), 4) << v;
    }

    const QJsonObject gpano = exiftoolGPano(f.scanPath("s/s.pic"));
    EXPECT_EQ(gpano["ProjectionType"].toString(), "equirectangular");
    EXPECT_EQ(gpano["FullPanoWidthPixels"].toInt(), 7200);
    EXPECT_EQ(gpano["FullPanoHeightPixels"].toInt(), 3600);
    EXPECT_EQ(gpano["CroppedAreaImageWidthPixels"].toInt(), 7200);
    EXPECT_EQ(gpano["CroppedAreaImageHeightPixels"].toInt(), 3600);
    EXPECT_EQ(gpano["CroppedAreaLeftPixels"].toInt(-1), 0);
    EXPECT_EQ(gpano["CroppedAreaTopPixels"].toInt(-1), 0);
}

TEST(TwoLensScanBuild, MissingLensImagesAndUnusableScanFolders)
{
    TwoLensProject f;
    Panorama* scan = f.addScan("s");
    QFile::remove(f.scanPath("s/h1.jpg"));
    for (bool reprocess : {false, true}) {
        const QString text = onPoolThread([&] { scan->reload(reprocess); });
        EXPECT_TRUE(text.endsWith("Main image is missing and pano will be omitted.")) << text.toStdString();
    }
    EXPECT_TRUE(onPoolThread([&] { scan->buildPano(); }).endsWith("Main image is missing and pano will be omitted."));
    EXPECT_FALSE(QFileInfo::exists(f.scanPath("s/t.pic")));
    EXPECT_FALSE(QFileInfo::exists(f.scanPath("s/s.pic")));

    // Without lens 2 the pano comes from lens 1 alone and the gains stay as they were.
    TwoLensScanSetup oneLens = f.setup;
    oneLens.withSecondLensImage = false;
    writeTwoLensScanFolder(f.scanPath("one"), oneLens);
    Panorama* single = Panorama::createFromFolder(QJsonObject(), "one", f.floor);
    ASSERT_EQ(onPoolThread([&] { single->buildPano(); }), "");
    EXPECT_EQ(single->imageParams(), ImageParams());
    expectPlantedScene(decipheredPicImage(f.scanPath("one/s.pic")));

    // A lens image that is not a picture is reported, not taken for missing.
    writeTwoLensScanFolder(f.scanPath("broken"), f.setup);
    writeFile(f.scanPath("broken/h1.jpg"), "not a picture");
    Panorama* broken = Panorama::createFromFolder(QJsonObject(), "broken", f.floor);
    const QString text = onPoolThread([&] { broken->reload(false); });
    EXPECT_FALSE(text.isEmpty());
    EXPECT_FALSE(text.endsWith("Main image is missing and pano will be omitted.")) << text.toStdString();

    // A folder where the point cloud belongs: the reload fails and says so.
    writeTwoLensScanFolder(f.scanPath("blocked"), f.setup);
    QDir().mkpath(f.scanPath("blocked/pc.dat"));
    Panorama* blocked = Panorama::createFromFolder(QJsonObject(), "blocked", f.floor);
    EXPECT_TRUE(onPoolThread([&] { blocked->reload(false); }).contains("pc.dat"));
}

TEST(TwoLensScanBuild, AScanLeftWithItsDerivedFilesOnlyKeepsThem)
{
    TwoLensProject f;
    Panorama* scan = f.addScan("s");
    ASSERT_EQ(onPoolThread([&] {
                  scan->reload(false);
                  scan->buildPano();
              }),
              "");
    ASSERT_TRUE(processEventsUntil([&] { return !scan->outline().isEmpty(); }));
    const QList<QPoint> outline = scan->outline();
    const QByteArray pano = readFile(f.scanPath("s/s.pic"));
    // What an export archive carries of a scan: its pictures and its point cloud.
    for (const char* name : {"h1.jpg", "h2.jpg", "pts1.dat", "pts2.dat", "scan.json"})
        ASSERT_TRUE(QFile::remove(f.scanPath("s/") + name));
    scan->setOutline({});

    ASSERT_EQ(onPoolThread([&] {
                  scan->reload(false);
                  scan->buildPano();
              }),
              "");
    ASSERT_TRUE(processEventsUntil([&] { return !scan->outline().isEmpty(); }));
    EXPECT_EQ(scan->outline(), outline);
    EXPECT_EQ(readFile(f.scanPath("s/s.pic")), pano);
    EXPECT_TRUE(onPoolThread([&] { scan->reload(true); }).endsWith("Main image is missing and pano will be omitted."));
}

TEST(TwoLensScanPlacement, FloorTransformMovesAndTurnsANewScan)
{
    TwoLensProject f;
    const double tx = 1000, ty = -500, angle = 0.5;
    writeFile(f.floor->folderPath() + "/floor.json",
              QJsonDocument(QJsonObject{{"floorTransform", QJsonObject{{"tx", tx}, {"ty", ty}, {"angle", angle}}}})
                  .toJson());
    Panorama* scan = f.addScan("s");
    ASSERT_EQ(onPoolThread([&] { scan->loadPointcloud(true, 0, 0, -1, 0); }), "");
    ASSERT_TRUE(processEventsUntil([&] { return !scan->outline().isEmpty(); }));

    // The camera's frame turned by -angle (y down: clockwise on screen is positive) and moved.
    const double x = 2500, y = -1200;
    const double c = std::cos(-angle), s = std::sin(-angle);
    EXPECT_NEAR(scan->pos().x(), x * c - y * s + tx, 1e-6);
    EXPECT_NEAR(scan->pos().y(), x * s + y * c + ty, 1e-6);
    EXPECT_NEAR(scan->rotation(), -0.25 * kRadToDeg - angle * kRadToDeg, 1e-4);
    expectOutlineOnTheWalls(scan->outline(), f.setup.room);

    // Without placing, only the outline is read again.
    scan->setState({QPointF(5, 6), 7.0});
    scan->setOutline({});
    scan->loadPointcloud(false, 0, 0.1f, 2.0f, 0.0f);
    ASSERT_TRUE(processEventsUntil([&] { return !scan->outline().isEmpty(); }));
    EXPECT_EQ(scan->pos(), QPointF(5, 6));
    EXPECT_EQ(scan->rotation(), 7.0);
}

TEST(TwoLensScanPlacement, UnusableMetadataLeavesTheScanWhereItIs)
{
    TwoLensProject f;
    // Older metadata with a position that is not a number.
    Panorama* scan = f.addScan("s");
    QFile::remove(f.scanPath("s/scan.json"));
    const float xfrm[4] = {std::nanf(""), 10.0f, 0.5f, 0.0f};
    writeFile(f.scanPath("s/xfrm.dat"), QByteArray(reinterpret_cast<const char*>(xfrm), sizeof xfrm));
    scan->setState({QPointF(11, 12), 13.0});
    ASSERT_EQ(onPoolThread([&] { scan->reload(false); }), "");
    ASSERT_TRUE(processEventsUntil([&] { return !scan->outline().isEmpty(); }));
    EXPECT_EQ(scan->pos(), QPointF(11, 12));
    EXPECT_EQ(scan->rotation(), 13.0);

    // A floor transform far outside any building.
    TwoLensProject g;
    writeFile(g.floor->folderPath() + "/floor.json", R"({"floorTransform": {"tx": 1e300, "ty": 0, "angle": 0}})");
    Panorama* far = g.addScan("s");
    ASSERT_EQ(onPoolThread([&] { far->reload(false); }), "");
    ASSERT_TRUE(processEventsUntil([&] { return !far->outline().isEmpty(); }));
    EXPECT_EQ(far->pos(), QPointF(0, 0));
}

TEST(TwoLensScanPlacement, JobsForADeletedScanAreDropped)
{
    TwoLensProject f;
    Panorama* scan = f.addScan("s");
    Panorama* other = f.addScan("t");
    ASSERT_EQ(onPoolThread([&] {
                  scan->loadPointcloud(true, 0, 0, -1, 0);
                  other->loadPointcloud(true, 0, 0, -1, 0);
              }),
              "");
    f.floor->deletePano(scan, false);
    ASSERT_TRUE(processEventsUntil([&] { return !other->outline().isEmpty(); }));
    processEventsFor(50);
    EXPECT_EQ(f.floor->panos(), QList<Panorama*>{other});
}

TEST(PointcloudFile, RoundTripsAndRefusesWhatIsNotOne)
{
    const QList<QPoint> points{{1, -2}, {INT_MAX, INT_MIN}, {0, 0}, {-40000, 99999}};
    const QByteArray bytes = encodePointcloud(points);
    EXPECT_EQ(bytes.left(12).toHex(), "5150434401000000" "04000000");
    EXPECT_EQ(bytes.mid(12, 8).toHex(), "01000000" "feffffff");
    EXPECT_EQ(bytes.size(), 12 + 8 * 4);
    QList<QPoint> read{{9, 9}};
    ASSERT_TRUE(decodePointcloud(bytes, read));
    EXPECT_EQ(read, points);
    ASSERT_TRUE(decodePointcloud(encodePointcloud({}), read));
    EXPECT_TRUE(read.isEmpty());

    QByteArray longer = bytes + QByteArray(8, '\0');
    QByteArray shorter = bytes.left(bytes.size() - 1);
    QByteArray hugeCount = bytes;
    hugeCount[11] = char(0x7f);
    QByteArray otherVersion = bytes;
    otherVersion[4] = 2;
    QByteArray otherMagic = bytes;
    otherMagic[0] = 'X';
    for (const QByteArray& bad : {longer, shorter, hugeCount, otherVersion, otherMagic, QByteArray("QPCD")}) {
        read = {QPoint(1, 1)};
        EXPECT_FALSE(decodePointcloud(bad, read)) << bad.toHex().toStdString();
        EXPECT_TRUE(read.isEmpty());
    }

    QTemporaryDir dir;
    const QString path = dir.filePath("pc.dat");
    writePointcloudFile(path, points);
    ASSERT_TRUE(readPointcloudFile(path, read));
    EXPECT_EQ(read, points);
    // A file far larger than any point cloud is refused by its size.
    QFile big(path);
    ASSERT_TRUE(big.resize(qint64(kMaxPointcloudPoints) * 8 + 1024));
    EXPECT_FALSE(readPointcloudFile(path, read));
    EXPECT_FALSE(readPointcloudFile(dir.filePath("missing"), read));
    QDir().mkpath(dir.filePath("folder"));
    EXPECT_THROW(writePointcloudFile(dir.filePath("folder"), points), std::runtime_error);
}

TEST(TwoLensScanFixture, ThePythonFolderMatchesTheOneWrittenHereAndReloads)
{
    TwoLensProject f;
    const QString script = QStringLiteral(QUORIL_SOURCE_DIR "/tests/support/two_lens_scan.py");
    const QString folder = f.scanPath("py");
    ProcessResult result = runProcess(systemPython(), {script, "scan", folder});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    writeTwoLensScanFolder(f.scanPath("cpp"), f.setup);
    for (const char* name : {"pts1.dat", "pts2.dat"})
        EXPECT_EQ(readFile(folder + "/" + name), readFile(f.scanPath("cpp/") + name)) << name;
    EXPECT_EQ(QJsonDocument::fromJson(readFile(folder + "/scan.json")),
              QJsonDocument::fromJson(readFile(f.scanPath("cpp/scan.json"))));

    // Its calibration file is one the camera model accepts, and the scan renders with it.
    const QString cfg = f.path("system.cfg");
    result = runProcess(systemPython(), {script, "system-cfg", cfg});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    auto* camera = new CamParamsZTM6;
    f.property->setCamParams(camera);
    ASSERT_TRUE(camera->loadSystemFile(cfg));
    EXPECT_EQ(camera->modelName(), "ZTM6");
    camera->initBlendMasks(7200, 1800);
    Panorama* scan = Panorama::createFromFolder(QJsonObject(), "py", f.floor);
    ASSERT_EQ(onPoolThread([&] { scan->reload(false); }), "");
    ASSERT_TRUE(processEventsUntil([&] { return !scan->outline().isEmpty(); }));
    expectOutlineOnTheWalls(scan->outline(), f.setup.room);
    expectPlantedScene(decipheredPicImage(scan->folder() + "/t.pic"));
}
