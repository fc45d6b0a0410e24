#include "camera/cam_params_ztm6.h"
#include "support/test_support.h"
#include "support/two_lens_scan_fixture.h"
#include "support/ztm6_model.h"

#include <QImage>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

using testsupport::lidarFile;
using testsupport::Room;
using testsupport::sweep;
using testsupport::writeFile;

namespace {
constexpr double kPi = 3.14159265358979323846;

double angleOf(const QPoint& p)
{
    return std::atan2(-static_cast<double>(p.y()), static_cast<double>(p.x()));
}

ScanData readFolder(const CamParamsZTM6& model, const QString& folder, const ImageParams& p = ImageParams())
{
    ScanData data;
    data.position = QPointF(-7, -8);
    data.heading = -9;
    ImageParams params = p;
    model.loadScanData(folder, params, data);
    return data;
}
} // namespace

TEST(Ztm6Lidar, ARoomSeenByBothLensesComesBackAsOneSortedOutlineOnItsWalls)
{
    QTemporaryDir dir;
    const Room room;
    // Lens 1 owns the left half (90..270 degrees), lens 2 the right half; each sees 30 degrees more.
    writeFile(dir.filePath("pts1.dat"), lidarFile(0.5f, sweep(room, 60, 300, 90, 270)));
    writeFile(dir.filePath("pts2.dat"), lidarFile(0.7f, sweep(room, -120, 120, -90, 90)));
    auto model = testsupport::makeIdentityZtm6(600);
    const ScanData data = readFolder(*model, dir.path());

    ASSERT_GT(data.lidarPoints.size(), 1400);
    for (qsizetype i = 0; i < data.lidarPoints.size(); ++i) {
        const QPoint& p = data.lidarPoints[i];
        ASSERT_LE(room.distanceToWalls(p.x(), p.y()), 1.0) << "point " << i << " (" << p.x() << ", " << p.y() << ")";
        if (i > 0) {
            ASSERT_LT(angleOf(data.lidarPoints[i - 1]), angleOf(p)) << "point " << i;
        }
    }
    // Both headings count: the mean direction of 0.5 and 0.7 radians, relative to the camera.
    EXPECT_NEAR(data.lidarHeading, -0.6 * 180 / kPi, 1e-3);
}

TEST(Ztm6Lidar, CameraYawTurnsTheOutlineAndDecidesWhichLensGivesWhichSide)
{
    QTemporaryDir dir;
    const Room room;
    // Both lenses see all around; after the turn each keeps its own half.
    writeFile(dir.filePath("pts1.dat"), lidarFile(0.0f, sweep(room, 0.125, 359.875, -1, 361)));
    writeFile(dir.filePath("pts2.dat"), lidarFile(0.0f, sweep(room, 0.125, 359.875, -1, 361)));
    auto model = testsupport::makeIdentityZtm6(600);
    model->header().YAW = static_cast<float>(kPi / 2);
    const ScanData data = readFolder(*model, dir.path());

    // A quarter turn: (x, y) -> (y, -x), so the rotated room spans y in [-4000, 2000].
    Room turned;
    turned.left = room.top;
    turned.right = room.bottom;
    turned.top = -room.right;
    turned.bottom = -room.left;
    ASSERT_GT(data.lidarPoints.size(), 1400);
    ASSERT_LT(data.lidarPoints.size(), 1441);
    int left = 0;
    for (const QPoint& p : data.lidarPoints) {
        ASSERT_LE(turned.distanceToWalls(p.x(), p.y()), 1.0) << p.x() << ", " << p.y();
        left += p.x() < 0;
    }
    EXPECT_GT(left, 400);
    EXPECT_NEAR(data.lidarHeading, 90.0, 1e-3);
}

TEST(Ztm6Lidar, LevellingTiltsTheOutlineByTheScansAngles)
{
    QTemporaryDir dir;
    const Room room;
    writeFile(dir.filePath("pts1.dat"), lidarFile(0.0f, sweep(room, 0.125, 359.875, -1, 361)));
    auto model = testsupport::makeIdentityZtm6(600);
    ImageParams p;
    p[ImageParams::ROLL_GLOBAL] = 0.1f; // tilts about the x axis: y shrinks by cos(0.1)
    const ScanData data = readFolder(*model, dir.path(), p);
    Room tilted = room;
    tilted.top = room.top * std::cos(0.1);
    tilted.bottom = room.bottom * std::cos(0.1);
    ASSERT_GT(data.lidarPoints.size(), 1400);
    for (const QPoint& q : data.lidarPoints)
        ASSERT_LE(tilted.distanceToWalls(q.x(), q.y()), 1.0) << q.x() << ", " << q.y();
}

TEST(Ztm6Lidar, ShortFilesGiveNoPointsAndTheHeadingOnlyWhenItIsComplete)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("four.dat"), lidarFile(1.25f, {}));
    writeFile(dir.filePath("three.dat"), lidarFile(1.25f, {}).left(3));
    writeFile(dir.filePath("partial.dat"), lidarFile(1.25f, {{1000, 0}}).left(11));
    QList<QPoint> points{QPoint(1, 1)};
    float heading = 0;
    readLidarPoints(dir.filePath("four.dat"), points, heading);
    EXPECT_TRUE(points.isEmpty());
    EXPECT_EQ(heading, 1.25f);
    readLidarPoints(dir.filePath("three.dat"), points, heading);
    EXPECT_TRUE(points.isEmpty());
    EXPECT_TRUE(std::isnan(heading));
    readLidarPoints(dir.filePath("partial.dat"), points, heading);
    EXPECT_TRUE(points.isEmpty());
    heading = 4.0f;
    readLidarPoints(dir.filePath("missing.dat"), points, heading);
    EXPECT_EQ(heading, 4.0f);
}

TEST(Ztm6Lidar, AtMostTenThousandRecordsAreRead)
{
    QTemporaryDir dir;
    std::vector<std::pair<float, float>> points;
    for (int k = 0; k < 20000; ++k) {
        const double a = (1.0 + k * 0.0085) * kPi / 180;
        const double r = k < 10000 ? 3000 : 5000;
        points.emplace_back(static_cast<float>(r * std::cos(a)), static_cast<float>(-r * std::sin(a)));
    }
    writeFile(dir.filePath("big.dat"), lidarFile(0.0f, points));
    QList<QPoint> read;
    float heading = 0;
    readLidarPoints(dir.filePath("big.dat"), read, heading);
    EXPECT_GT(read.size(), 9000);
    EXPECT_LE(read.size(), 10000);
    for (const QPoint& p : read)
        ASSERT_NEAR(std::hypot(p.x(), p.y()), 3000, 1.0);
}

TEST(Ztm6Lidar, OriginFarAndNonFinitePointsAreDroppedBeforeRounding)
{
    QTemporaryDir dir;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    writeFile(dir.filePath("pts.dat"),
              lidarFile(0.0f, {{3000, -100}, {0.4f, -0.3f}, {60000, 40000}, {nan, 5}, {3000, inf}, {1e30f, 1},
                               {3000, -110}, {-2e9f, 3e9f}, {3000, -120}, {99000, 998.6f}}));
    QList<QPoint> read;
    float heading = 0;
    readLidarPoints(dir.filePath("pts.dat"), read, heading);
    // The last point's |x| + |y| rounds to 99999: still a point, but too far from the others.
    ASSERT_EQ(read.size(), 3);
    EXPECT_EQ(read[0], QPoint(3000, -100));
    EXPECT_EQ(read[1], QPoint(3000, -110));
    EXPECT_EQ(read[2], QPoint(3000, -120));

    writeFile(dir.filePath("edge.dat"), lidarFile(0.0f, {{99000, 999.4f}}));
    readLidarPoints(dir.filePath("edge.dat"), read, heading);
    EXPECT_EQ(read, QList<QPoint>{QPoint(99000, 999)});
}

TEST(Ztm6Lidar, APointAtTheSameAngleIsRejectedTogetherWithTheLastAcceptedOne)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("pts.dat"), lidarFile(0.0f, {{1000, -1000}, {1010, -1000}, {1515, -1500}, {1020, -1000}}));
    QList<QPoint> read;
    float heading = 0;
    readLidarPoints(dir.filePath("pts.dat"), read, heading);
    // (1515, -1500) lies on the angle of (1010, -1000): both go, the next point starts afresh.
    EXPECT_EQ(read, (QList<QPoint>{QPoint(1000, -1000), QPoint(1020, -1000)}));
}

TEST(Ztm6ScanMetadata, ScanJsonKeysAreReadAndMissingOnesTakeTheirDefaults)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("scan.json"), R"({"pos": [1500.5, -220], "rot": 0.25, "shutterCounter": 4711,
        "hidden": 1, "globalId": "g-17", "tags": [{"t": 1}], "temperature": 41.5, "temperatureSource": "cpu",
        "system": {"fw": "2.1"}, "takePictureParams": {"iso": 100}, "lidarUptime": 3600,
        "systemcfg": "system_3.cfg", "captureTimestamp": 1700000000123, "alignmentBad": true,
        "alignmentScore": 0.75})");
    auto model = testsupport::makeIdentityZtm6(600);
    model->header().YAW = 1.0f;
    ScanData data = readFolder(*model, dir.path());
    EXPECT_EQ(data.position, QPointF(1500.5, 220));
    EXPECT_FLOAT_EQ(data.heading, static_cast<float>((1.0 - 0.25) * 57.29577951308232));
    EXPECT_EQ(data.shutterCounter, 4711);
    EXPECT_FALSE(data.shown);
    EXPECT_EQ(data.globalId, "g-17");
    EXPECT_EQ(data.tags.size(), 1);
    EXPECT_EQ(data.temperature, 41.5f);
    EXPECT_EQ(data.temperatureSource, "cpu");
    EXPECT_EQ(data.systemInfo.value("fw").toString(), "2.1");
    EXPECT_EQ(data.pictureParams.value("iso").toInt(), 100);
    EXPECT_EQ(data.lidarUptime, 3600);
    EXPECT_EQ(data.systemCfgName, "system_3.cfg");
    EXPECT_EQ(data.captureTimestamp, 1700000000123);
    EXPECT_EQ(data.alignmentFlag, 1);
    EXPECT_EQ(data.alignmentScore, 0.75f);
    EXPECT_TRUE(std::isnan(data.lidarHeading)) << "no lidar files";

    writeFile(dir.filePath("scan.json"), R"({"pos": [5], "captureTimestamp": "1234567890123", "hidden": 0})");
    data = readFolder(*model, dir.path());
    EXPECT_EQ(data.position, QPointF(-7, -8)) << "a one-number position is ignored";
    EXPECT_FLOAT_EQ(data.heading, static_cast<float>(57.29577951308232));
    EXPECT_TRUE(data.shown);
    EXPECT_EQ(data.captureTimestamp, 1234567890123);
    EXPECT_EQ(data.alignmentFlag, -1);
    EXPECT_EQ(data.alignmentScore, -1.0f);
    EXPECT_EQ(data.shutterCounter, 0);

    writeFile(dir.filePath("scan.json"), "{ not json");
    data = readFolder(*model, dir.path());
    EXPECT_TRUE(data.shown);
    EXPECT_TRUE(data.globalId.isEmpty());
    EXPECT_FLOAT_EQ(data.heading, static_cast<float>(57.29577951308232));
}

TEST(Ztm6ScanMetadata, OutOfRangeNumbersInScanJsonAreDropped)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("scan.json"), R"({"shutterCounter": 1e12, "hidden": 2.5e10, "lidarUptime": -9e15,
        "temperature": 1e300, "alignmentScore": -1e200, "captureTimestamp": 1e30, "rot": 1e308})");
    auto model = testsupport::makeIdentityZtm6(600);
    const ScanData data = readFolder(*model, dir.path());
    EXPECT_EQ(data.shutterCounter, 0);
    EXPECT_TRUE(data.shown);
    EXPECT_EQ(data.lidarUptime, 0);
    EXPECT_EQ(data.temperature, 0.0f);
    EXPECT_EQ(data.alignmentScore, -1.0f);
    EXPECT_EQ(data.captureTimestamp, 0);
    EXPECT_TRUE(std::isfinite(data.heading));
}

TEST(Ztm6ScanMetadata, OlderScansReadTheBinaryTransformOfTwelveOrSixteenBytes)
{
    QTemporaryDir dir;
    auto model = testsupport::makeIdentityZtm6(600);
    model->header().YAW = 0.5f;
    auto xfrm = [](float x, float y, float rot, const QByteArray& tail) {
        const float values[3] = {x, y, rot};
        return QByteArray(reinterpret_cast<const char*>(values), 12) + tail;
    };
    writeFile(dir.filePath("xfrm.dat"), xfrm(1200, 340, 0.25f, {}));
    ScanData data = readFolder(*model, dir.path());
    EXPECT_EQ(data.position, QPointF(1200, -340));
    EXPECT_FLOAT_EQ(data.heading, (0.5f - 0.25f) * 57.29578f);
    EXPECT_EQ(data.shutterCounter, 0);

    const uint32_t counter = 812;
    writeFile(dir.filePath("xfrm.dat"), xfrm(1, 2, 0, QByteArray(reinterpret_cast<const char*>(&counter), 4)));
    data = readFolder(*model, dir.path());
    EXPECT_EQ(data.shutterCounter, 812);

    const uint32_t huge = 0xfffffff0u;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    writeFile(dir.filePath("xfrm.dat"), xfrm(nan, 2, nan, QByteArray(reinterpret_cast<const char*>(&huge), 4)));
    data = readFolder(*model, dir.path());
    EXPECT_EQ(data.shutterCounter, 0);
    EXPECT_EQ(data.position, QPointF(-7, -8));
    EXPECT_EQ(data.heading, -9.0f);

    writeFile(dir.filePath("xfrm.dat"), xfrm(1, 2, 0, {}).left(11));
    data = readFolder(*model, dir.path());
    EXPECT_EQ(data.position, QPointF(-7, -8));

    // scan.json wins over the binary transform.
    writeFile(dir.filePath("xfrm.dat"), xfrm(1200, 340, 0.25f, {}));
    writeFile(dir.filePath("scan.json"), R"({"pos": [1, 2]})");
    data = readFolder(*model, dir.path());
    EXPECT_EQ(data.position, QPointF(1, -2));
}

TEST(Ztm6LensImages, LoadBottomUpAndRefuseImagesOfAnotherSize)
{
    QTemporaryDir dir;
    auto model = testsupport::makeIdentityZtm6(20);
    QImage right(40, 20, QImage::Format_RGB888);
    right.fill(QColor(10, 20, 30));
    for (int x = 0; x < 40; ++x)
        right.setPixelColor(x, 0, QColor(250, 250, 250));
    ASSERT_TRUE(right.save(dir.filePath("h1.jpg"), "JPG", 100));
    QImage wrong(40, 22, QImage::Format_RGB888);
    wrong.fill(Qt::black);
    ASSERT_TRUE(wrong.save(dir.filePath("h2.jpg"), "JPG"));

    QByteArray rgb;
    model->loadFisheyeImage(dir.path(), 0, rgb, false);
    ASSERT_EQ(rgb.size(), 40 * 20 * 3);
    EXPECT_GT(static_cast<uint8_t>(rgb[(19 * 40 + 5) * 3]), 200) << "the file's first row comes last";
    EXPECT_LT(static_cast<uint8_t>(rgb[5 * 3]), 60);

    rgb = "old";
    try {
        model->loadFisheyeImage(dir.path(), 1, rgb, false);
        FAIL() << "expected a size error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to load image" + dir.filePath("h2.jpg").toStdString() + ": improper size.");
    }
    EXPECT_TRUE(rgb.isEmpty());

    rgb = "old";
    model->loadFisheyeImage(dir.path(), 2, rgb, false);
    EXPECT_TRUE(rgb.isEmpty());
}
