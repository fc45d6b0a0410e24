#include "camera/cam_params_ztm5.h"
#include "camera/lidar_heading.h"
#include "support/system_cfg_fixture.h"
#include "support/test_support.h"
#include "support/two_lens_scan_fixture.h"
#include "support/ztm5_project.h"

#include <QDir>
#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace testsupport;

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180;
const float kNan = std::numeric_limits<float>::quiet_NaN(), kInf = std::numeric_limits<float>::infinity();

using Points = std::vector<std::pair<float, float>>;

// A sweep of the rectangular room, turned by `turn` degrees against the first (its own angle a
// looks along the room's a + turn), sampled every `step` degrees from `from`.
QList<QPoint> sweepPoints(const Room& room, double turn, double step = 0.25, double from = 0.1)
{
    QList<QPoint> out;
    for (double a = from; a < 360; a += step) {
        const auto [x, y] = room.hit((a + turn) * kDeg);
        const double d = std::hypot(x, y);
        out.append(QPoint(int(std::lround(d * std::cos(a * kDeg))), int(std::lround(-d * std::sin(a * kDeg)))));
    }
    return out;
}

// A point at angle a degrees (atan2(-y, x)) and range r.
QPoint polar(double a, double r)
{
    return QPoint(int(std::lround(r * std::cos(a * kDeg))), int(std::lround(-r * std::sin(a * kDeg))));
}

// The same points, each within a millimetre (the turns are computed in single precision).
void expectNear(const QList<QPoint>& actual, const QList<QPoint>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (qsizetype i = 0; i < actual.size(); ++i)
        EXPECT_LE((actual[i] - expected[i]).manhattanLength(), 1)
            << i << ": " << actual[i].x() << ", " << actual[i].y() << " against " << expected[i].x() << ", " << expected[i].y();
}

double degrees(float radians)
{
    return radians / kDeg;
}

class Ztm5ScanFolder : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(folder)); }
    QString path(const QString& name) const { return folder + "/" + name; }
    // The points of lidar file 1 under the model's calibration; its heading lands in `heading`.
    QList<QPoint> shot(const QByteArray& file, float amplitude = 0, float offset = 0)
    {
        writeFile(path("pts1.dat"), file);
        QList<QPoint> read{QPoint(1, 1)};
        model.readLidarShot(folder, 0, read, heading, 0.0f, amplitude, offset);
        return read;
    }
    // What the folder gives over a record holding markers for the values it leaves alone.
    ScanData read(ImageParams& params, int mode = 0)
    {
        ScanData data;
        data.position = QPointF(-7, -8);
        data.heading = -9;
        data.shown = false;
        data.tags = QJsonArray{1};
        data.temperature = 5;
        data.temperatureSource = "probe";
        data.systemInfo = QJsonObject{{"x", 1}};
        LidarReadOptions options;
        options.headingSearchMode = mode;
        model.loadScanData(folder, params, data, options);
        return data;
    }
    QTemporaryDir dir;
    const QString folder = dir.filePath("Scän 3");
    CamParamsZTM5 model;
    float heading = 0;
};
} // namespace

TEST(Ztm5Lidar, AnLShapedRoomComesBackOnItsWallsWithTheTurnsFoundForTheRightShots)
{
    QTemporaryDir dir;
    const QJsonObject project = makeZtm5Project(dir.path(), {"--scans", "3"});
    CamParamsZTM5 model;
    ASSERT_TRUE(model.loadSystemFile(dir.filePath("system.cfg")));
    int scanIndex = 0;
    for (const QJsonValue& value : project["scans"].toArray()) {
        const QJsonObject scan = value.toObject();
        SCOPED_TRACE(scan["dir"].toString().toStdString());
        const QString folder = dir.filePath(scan["dir"].toString());
        const QJsonArray outline = scan["outline"].toArray();
        for (int mode : {1, 2}) {
            ImageParams params;
            ScanData data;
            LidarReadOptions options;
            options.headingSearchMode = mode;
            model.loadScanData(folder, params, data, options);
            // File 2 was taken with shot 3 and file 3 with shot 2: each turn lands on its own shot.
            EXPECT_NEAR(degrees(params[ImageParams::YAW_3]), degrees(float(scan["yaw3"].toDouble())), 0.25) << mode;
            EXPECT_NEAR(degrees(params[ImageParams::YAW_2]), degrees(float(scan["yaw2"].toDouble())), 0.25) << mode;
            const QList<int> counts = {scan["points"][0].toInt(), scan["points"][1].toInt(), scan["points"][2].toInt()};
            ASSERT_GT(data.lidarPoints.size(), (counts[0] + counts[1] + counts[2]) * 9 / 10);
            for (const QPoint& p : std::as_const(data.lidarPoints))
                ASSERT_LE(distanceToPolygon(outline, p), 15.0) << p.x() << ", " << p.y();
            EXPECT_NEAR(data.lidarHeading, scan["lidarHeading"].toDouble(), 0.2);
        }
        // Turning each sweep by the other shot's yaw puts it off the walls.
        ImageParams swapped;
        swapped[ImageParams::YAW_3] = float(scan["yaw2"].toDouble());
        swapped[ImageParams::YAW_2] = float(scan["yaw3"].toDouble());
        ScanData data;
        model.loadScanData(folder, swapped, data);
        int off = 0;
        for (const QPoint& p : std::as_const(data.lidarPoints))
            off += distanceToPolygon(outline, p) > 15.0;
        EXPECT_GT(off, data.lidarPoints.size() / 4);

        // The metadata of "scan.json".
        const QJsonObject json = scan["scanJson"].toObject();
        EXPECT_EQ(data.position, QPointF(json["pos"][0].toDouble(), -json["pos"][1].toDouble()));
        EXPECT_FLOAT_EQ(data.heading, float(json["rot"].toDouble() * -57.29577951308232));
        EXPECT_EQ(data.shutterCounter, json["shutterCounter"].toInt());
        EXPECT_EQ(data.shown, scanIndex % 2 == 0);
        ++scanIndex;
    }
}

TEST_F(Ztm5ScanFolder, WithoutAnEstimateTheYawsStayAsTheyWereToTheLastBit)
{
    writeFile(path("pts1.dat"), lidarFile(0.0f, {{3000, 10}, {3000, 20}}));
    ImageParams params;
    const float yaw3 = 0.0123f, yaw2 = -0.0456f;
    // The round trip through the nominal turn would not give them back.
    ASSERT_NE((yaw3 + 4.18879f) - 4.18879f, yaw3);
    ASSERT_NE((yaw2 + 2.094395f) - 2.094395f, yaw2);
    params[ImageParams::YAW_3] = yaw3;
    params[ImageParams::YAW_2] = yaw2;
    const ImageParams before = params;
    read(params, 0);
    EXPECT_EQ(params, before);
    // An estimate that finds nothing to match keeps the yaws too (within the round trip).
    read(params, 2);
    EXPECT_NEAR(params[ImageParams::YAW_3], yaw3, 1e-6);
    EXPECT_NEAR(params[ImageParams::YAW_2], yaw2, 1e-6);
}

TEST_F(Ztm5ScanFolder, LidarRecordsThatAreShortFarNotFiniteOrBeyondTheFirstTenThousandAreDropped)
{
    EXPECT_TRUE(shot(lidarFile(1.25f, {})).isEmpty());
    EXPECT_EQ(heading, 1.25f);
    EXPECT_TRUE(shot(lidarFile(1.25f, {}).left(3)).isEmpty());
    EXPECT_TRUE(std::isnan(heading)) << "no heading from a short file";
    heading = 2.5f;
    QList<QPoint> untouched{QPoint(1, 1)};
    model.readLidarShot(folder, 2, untouched, heading, 0, 0, 0);
    EXPECT_TRUE(untouched.isEmpty());
    EXPECT_EQ(heading, 2.5f) << "a missing file leaves the heading";

    // (0, 0), beyond 99999 mm, not finite or huge: dropped before anything is rounded. A
    // trailing partial record is ignored.
    EXPECT_EQ(shot(lidarFile(0, {{3000, -100}, {0.4f, -0.3f}, {60000, 40000}, {kNan, 5}, {3000, kInf}, {1e30f, 1},
                                 {3000, -110}, {-2e9f, 3e9f}, {-kInf, kNan}, {3000, -120}, {99000, 999.6f}})
                       + QByteArray("\1\2\3", 3)),
              (QList<QPoint>{{3000, -100}, {3000, -110}, {3000, -120}}));
    EXPECT_EQ(shot(lidarFile(0, {{99000, 998.6f}})), QList<QPoint>{QPoint(99000, 999)}) << "99999 is still a return";

    // A return in the direction of the last one at another range is a glint: both go.
    EXPECT_EQ(shot(lidarFile(0, {{1000, -1000}, {1010, -1000}, {1515, -1500}, {1020, -1000}})),
              (QList<QPoint>{{1000, -1000}, {1020, -1000}}));

    // Only the first 10000 records are read: the rest lie on a wider circle.
    Points circles;
    for (int k = 0; k < 10500; ++k) {
        const double a = (1.0 + k * 0.03) * kDeg, r = k < 10000 ? 3000 : 5000;
        circles.emplace_back(float(r * std::cos(a)), float(-r * std::sin(a)));
    }
    const QList<QPoint> read = shot(lidarFile(0, circles));
    EXPECT_EQ(read.size(), 10000);
    for (const QPoint& p : read)
        ASSERT_NEAR(std::hypot(p.x(), p.y()), 3000, 1.0);
}

TEST_F(Ztm5ScanFolder, CalibrationTurnsEachReturnAboutTheLidarsOwnCentre)
{
    const double vc2 = 0.02, offset = -0.005;
    makeSystemCfg(dir.filePath("system.cfg"), {"--model", "ztm5", "--set", "VC0=0", "--set", "VC1=0", "--set",
                                               QString("VC2=%1").arg(vc2)});
    ASSERT_TRUE(model.loadSystemFile(dir.filePath("system.cfg")));
    Points ring;
    for (int k = 0; k < 400; ++k) {
        const double a = (10 + k * 0.3) * kDeg, r = 2500 + 400 * std::sin(k * 0.05);
        ring.emplace_back(float(r * std::cos(a)), float(-r * std::sin(a)));
    }
    const QByteArray file = lidarFile(0, ring);
    const QList<QPoint> raw = shot(file, -1.0f);
    const QList<QPoint> turned = shot(file, 0.0f, float(offset));
    ASSERT_EQ(raw.size(), turned.size());
    // Each point keeps its distance from the centre 26 mm along +y and turns by -VC2 + offset.
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const double rx = raw[i].x(), ry = raw[i].y() - 26.0, tx = turned[i].x(), ty = turned[i].y() - 26.0;
        ASSERT_NEAR(std::hypot(tx, ty), std::hypot(rx, ry), 1.5) << "both rounded to millimetres";
        const double turn = std::remainder(std::atan2(-ty, tx) - std::atan2(-ry, rx), 2 * kPi);
        ASSERT_NEAR(turn, -vc2 + offset, 1.5 / 2000) << i;
    }
    // With no calibration the correction gives the points back.
    CamParamsZTM5 plain;
    QList<QPoint> corrected;
    plain.readLidarShot(folder, 0, corrected, heading, 0.7f, 0.0f, 0.0f);
    EXPECT_EQ(corrected, raw);
}

// A calibration that does more than turn (VC1 kept from a calibration search) places the returns
// also when no trial is asked for: each return's angle about the lidar's centre loses
// VC1 sin(a + VC0) / (VC1 cos(a + VC0) + 1), its distance from there stays.
TEST_F(Ztm5ScanFolder, WithoutATrialAKeptCalibrationStillPlacesTheReturns)
{
    const double vc0 = 0.7, vc1 = 0.004, vc2 = 0.02;
    makeSystemCfg(dir.filePath("system.cfg"), {"--model", "ztm5", "--set", QString("VC0=%1").arg(vc0), "--set",
                                               QString("VC1=%1").arg(vc1), "--set", QString("VC2=%1").arg(vc2)});
    ASSERT_TRUE(model.loadSystemFile(dir.filePath("system.cfg")));
    Points ring;
    for (int k = 0; k < 400; ++k) {
        const double a = (10 + k * 0.3) * kDeg, r = 2500 + 400 * std::sin(k * 0.05);
        ring.emplace_back(float(r * std::cos(a)), float(-r * std::sin(a)));
    }
    const QList<QPoint> placed = shot(lidarFile(0, ring), -1.0f);
    ASSERT_EQ(placed.size(), qsizetype(ring.size()));
    int moved = 0;
    for (size_t i = 0; i < ring.size(); ++i) {
        // The ring is given as the plan has it (y down); its y about the lidar's centre:
        const double x = ring[i].first, y = double(ring[i].second) - 26.0;
        const double r = std::hypot(x, y);
        double a = std::atan2(-y, x) - vc2;
        a -= vc1 * std::sin(a + vc0) / (vc1 * std::cos(a + vc0) + 1.0);
        a += vc2;
        const QPointF expected(r * std::cos(a), 26.0 - r * std::sin(a));
        ASSERT_LE(std::fabs(placed[qsizetype(i)].x() - expected.x()) + std::fabs(placed[qsizetype(i)].y() - expected.y()),
                  1.2) << i;
        moved += (placed[qsizetype(i)] - QPoint(int(std::lround(ring[i].first)), int(std::lround(ring[i].second))))
                     .manhattanLength() > 2;
    }
    EXPECT_GT(moved, 200) << "the calibration turns the returns by up to 10 mm";
}

TEST_F(Ztm5ScanFolder, EachSweepEndsInARepeatedPointAndEmptySweepsStillMarkTheirEnd)
{
    writeFile(path("pts1.dat"), lidarFile(kNan, {}));
    writeFile(path("pts2.dat"), lidarFile(-3.5e28f, {}));
    writeFile(path("pts3.dat"), lidarFile(kNan, {{3000, 0}, {3000, 12}, {3000, 12.2f}, {3000, 24}}));
    ImageParams params;
    ScanData data = read(params);
    // File 3 is turned by 240 degrees: (x, y) -> (x cos 240 - y sin 240, x sin 240 + y cos 240).
    QList<QPoint> expected{{0, 50}, {0, 50}, {0, 50}};
    for (int y : {0, 12, 24}) {
        const QPoint p = polar(-240.0 + std::atan2(-double(y), 3000.0) / kDeg, std::hypot(3000.0, double(y)));
        expected.append(p);
    }
    expectNear(data.lidarPoints, expected);
    EXPECT_TRUE(std::isnan(data.lidarHeading)) << "no sweep has a heading";

    // Each sweep's points, then its last one again.
    writeFile(path("pts1.dat"), lidarFile(0.4f, {{3000, -500}, {3000, -520}}));
    writeFile(path("pts2.dat"), lidarFile(kNan, {{2000, 0}}));
    data = read(params);
    ASSERT_EQ(data.lidarPoints.size(), 8) << "the same point twice in a row is kept once";
    EXPECT_EQ(data.lidarPoints[1], data.lidarPoints[2]);
    EXPECT_EQ(data.lidarPoints[3], data.lidarPoints[4]);
    expectNear({data.lidarPoints[3]}, {polar(-120, 2000)});
    // One heading: the lidar heading is its direction against the first shot's nominal turn.
    EXPECT_NEAR(data.lidarHeading, -0.4 / kDeg, 1e-4);
}

TEST_F(Ztm5ScanFolder, MetadataComesFromScanJsonOrElseFromTheBinaryTransform)
{
    ImageParams params;
    ScanData data = read(params);
    EXPECT_EQ(data.position, QPointF(-7, -8)) << "neither file: kept";
    EXPECT_EQ(data.heading, -9.0f);
    EXPECT_FALSE(data.shown);
    EXPECT_EQ(data.shutterCounter, 0);
    EXPECT_EQ(data.temperature, 0.0f);
    EXPECT_TRUE(data.temperatureSource.isEmpty());
    EXPECT_TRUE(data.systemInfo.isEmpty());
    EXPECT_EQ(data.tags, QJsonArray{1}) << "not this reader's";

    auto xfrm = [](float x, float y, float rot, uint32_t counter, qsizetype size) {
        const float values[3] = {x, y, rot};
        return (QByteArray(reinterpret_cast<const char*>(values), 12) + QByteArray(reinterpret_cast<const char*>(&counter), 4))
            .left(size);
    };
    writeFile(path("xfrm.dat"), xfrm(1200, 340, 0.25f, 812, 12));
    data = read(params);
    EXPECT_EQ(data.position, QPointF(1200, -340));
    EXPECT_FLOAT_EQ(data.heading, 0.25f * -57.29578f);
    EXPECT_EQ(data.shutterCounter, 0) << "twelve bytes hold no counter";
    writeFile(path("xfrm.dat"), xfrm(1200, 340, 0.25f, 812, 16));
    EXPECT_EQ(read(params).shutterCounter, 812);
    writeFile(path("xfrm.dat"), xfrm(kNan, 3, kInf, 7, 11));
    EXPECT_EQ(read(params).position, QPointF(-7, -8)) << "too short";

    writeFile(path("scan.json"), R"({"pos": [1500.5, 220, 9], "rot": -0.5, "shutterCounter": 77, "hidden": 0})");
    data = read(params);
    EXPECT_EQ(data.position, QPointF(1500.5, -220));
    EXPECT_FLOAT_EQ(data.heading, float(0.5 * 57.29577951308232));
    EXPECT_EQ(data.shutterCounter, 77);
    EXPECT_TRUE(data.shown);
    writeFile(path("scan.json"), R"({"pos": [5], "hidden": 3, "rot": 1e300})");
    data = read(params);
    EXPECT_EQ(data.position, QPointF(-7, -8)) << "a one-number position is ignored";
    EXPECT_EQ(data.heading, 0.0f) << "a heading no float holds counts as missing";
    EXPECT_FALSE(data.shown);
    writeFile(path("scan.json"), "{ not json");
    data = read(params);
    EXPECT_EQ(data.heading, 0.0f);
    EXPECT_TRUE(data.shown);
    EXPECT_EQ(data.position, QPointF(-7, -8)) << "scan.json opened: the binary transform is not read";
}

TEST_F(Ztm5ScanFolder, TrialCalibrationTurnsTheSweepsWithoutLevellingOrMarkers)
{
    writeFile(path("pts1.dat"), lidarFile(0, {{3000, -500}, {3000, -520}}));
    writeFile(path("pts2.dat"), lidarFile(0, {{2000, 0}}));
    writeFile(path("pts3.dat"), lidarFile(0, {{1000, 0}}));
    ImageParams params;
    params[ImageParams::YAW_3] = float(10 * kDeg);
    params[ImageParams::YAW_2] = float(-5 * kDeg);
    params[ImageParams::PITCH_GLOBAL] = 0.3f;
    QList<QPoint> out{QPoint(9, 9)};
    QList<QPoint>& result = model.rotatePointCloud(out, folder, params, 0.0f, 0.0f);
    EXPECT_EQ(&result, &out);
    expectNear(out, {{3000, -500}, {3000, -520}, polar(-110, 2000), polar(-245, 1000)});
}

TEST(LidarHeading, FindsTheTurnOfEachSweepAndKeepsItWhenNothingOverlaps)
{
    const Room room;
    const std::array<QList<QPoint>, 3> lists = {sweepPoints(room, 0), sweepPoints(room, 242.5, 0.25, 0.05),
                                                sweepPoints(room, 117.0, 0.25, 0.1)};
    std::array<float, 3> headings = {9.0f, 4.18879f, 2.094395f};
    for (int mode : {1, 2}) {
        estimateLidarHeading(lists, headings, mode);
        EXPECT_EQ(headings[0], 9.0f) << "the first sweep's is never touched";
        EXPECT_NEAR(degrees(headings[1]), 242.5, 0.13);
        EXPECT_NEAR(degrees(headings[2]), 117.0, 0.13);
    }
    std::array<float, 3> kept = {0.0f, 4.25f, 2.0f};
    estimateLidarHeading(lists, kept, 0);
    EXPECT_EQ(kept, (std::array<float, 3>{0.0f, 4.25f, 2.0f})) << "mode 0 does not look";

    // A sweep without points, or one whose directions never meet the first's within the search,
    // is no evidence: a whole-sector turn (to 0) or a jump to the nominal turn would be a guess.
    const QList<QPoint> quarter = sweepPoints(room, 0, 0.25, 0.1).mid(0, 300);
    const std::array<QList<QPoint>, 3> apart = {quarter, {}, sweepPoints(room, 0, 0.25, 0.1).mid(400, 300)};
    for (int mode : {1, 2}) {
        std::array<float, 3> found = {0.0f, 4.25f, 2.0f};
        estimateLidarHeading(apart, found, mode);
        EXPECT_EQ(found, (std::array<float, 3>{0.0f, 4.25f, 2.0f})) << mode;
    }
}

TEST(LidarHeading, AWeakMatchIsTakenOnlyWhenAskedAndTheFirstPointOfADirectionCounts)
{
    // Twenty directions only: a perfect match 10 degrees off the nominal turn scores 20, below
    // what mode 1 needs to leave the nominal turn.
    QList<QPoint> first, turned;
    for (int k = 0; k < 20; ++k) {
        first.append(polar(k * 3.0 + 0.1, 2000 + 150 * k));
        turned.append(polar(k * 3.0 + 0.1 - 250.0 + 360.0, 2000 + 150 * k));
    }
    std::array<float, 3> headings = {0.0f, 0.0f, 0.0f};
    estimateLidarHeading({first, turned, turned}, headings, 1);
    EXPECT_EQ(headings[1], 960.0f * 360.0f / 1440.0f * 0.017453292f);
    estimateLidarHeading({first, turned, turned}, headings, 2);
    EXPECT_NEAR(degrees(headings[1]), 250.0, 1e-4);

    // Ranges appended later in the same directions do not replace the first ones.
    QList<QPoint> noisy = first;
    for (int k = 0; k < 20; ++k)
        noisy.append(polar(k * 3.0 + 0.12, 9000));
    headings = {0.0f, 0.0f, 0.0f};
    estimateLidarHeading({noisy, turned, turned}, headings, 2);
    EXPECT_NEAR(degrees(headings[1]), 250.0, 1e-4);

    // A point at 359.9 degrees has no bin: it meets nothing.
    headings = {0.0f, 1.0f, 1.0f};
    const std::array<QList<QPoint>, 3> single = {QList<QPoint>{polar(359.9, 3000)}, QList<QPoint>{polar(119.9, 3000)},
                                                  QList<QPoint>{polar(239.9, 3000)}};
    estimateLidarHeading(single, headings, 2);
    EXPECT_EQ(headings, (std::array<float, 3>{0.0f, 1.0f, 1.0f}));
}
