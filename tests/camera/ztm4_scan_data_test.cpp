#include "camera/cam_params_ztm4.h"
#include "support/laser_line_project.h"
#include "support/system_cfg_fixture.h"
#include "support/test_support.h"

#include <QDir>
#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

using namespace testsupport;

namespace {
constexpr double kPi = 3.14159265358979323846;

QByteArray floats(std::initializer_list<float> values)
{
    QByteArray bytes;
    for (float value : values)
        bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
    return bytes;
}

template <typename T>
QByteArray raw(T value)
{
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

QByteArray utf16Record(const QString& text)
{
    QByteArray bytes = raw<int32_t>(int32_t(text.size()));
    for (QChar c : text)
        bytes += raw<uint16_t>(c.unicode());
    return bytes;
}

// A "room.dat" of the field application, its version, image-parameter count and record count
// as given, then the position (y up) and heading.
QByteArray roomDat(uint32_t version, int32_t imageParams, int32_t records, float x, float y, float heading)
{
    QByteArray bytes = raw(version) + utf16Record("Hall") + QByteArray(version >= 12 ? 2 : 1, '\x01')
        + raw<int32_t>(3) + raw(imageParams);
    bytes += QByteArray(4 * qMax(imageParams, 0), '\x07') + raw(records) + QByteArray(8 * qMax(records, 0), '\x05');
    return bytes + floats({x, y, heading});
}

// A scan read from scratch with the values a caller starts with.
ScanData freshData()
{
    ScanData data;
    data.position = QPointF(qQNaN(), qQNaN());
    data.heading = qQNaN();
    data.shutterCounter = 9;
    data.shown = false;
    data.temperature = 30;
    data.temperatureSource = "lidar";
    data.systemInfo = QJsonObject{{"a", 1}};
    return data;
}

class Ztm4ScanFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        makeSystemCfg(dir.filePath("system.cfg"), {"--model", "ztm4"});
        ASSERT_TRUE(model.loadSystemFile(dir.filePath("system.cfg")));
        folder = dir.filePath("scan");
        ASSERT_TRUE(QDir().mkpath(folder));
    }
    QString path(const QString& name) const { return folder + "/" + name; }
    ScanData read()
    {
        ScanData data = freshData();
        model.loadScanData(folder, params, data);
        return data;
    }
    QTemporaryDir dir;
    CamParamsZTM4 model;
    ImageParams params;
    QString folder;
};
} // namespace

// Wall points projected into centroid files by an independent writer of the laser and lens model
// come back within a millimetre, each shot turned by its yaw; the compass angles give the planted
// heading and "room.dat" the position where the field application placed the scan.
TEST(Ztm4Lasers, WallPointsComeBackFromTheCentroidFilesWithinAMillimetre)
{
    QTemporaryDir dir;
    const float yaw2 = 0.03f, yaw3 = -0.02f;
    const QJsonObject project =
        makeLaserLineProject(dir.path(), {"--side", "2848", "--width", "4272", "--no-shots", "--samples", "60",
                                          "--yaw2", QString::number(double(yaw2), 'g', 9), "--yaw3",
                                          QString::number(double(yaw3), 'g', 9)});
    CamParamsZTM4 model;
    ASSERT_TRUE(model.loadSystemFile(dir.filePath("system.cfg")));
    ASSERT_EQ(model.laserCount(), 3);
    int scans = 0, roomFiles = 0, twoAngles = 0;
    for (const QJsonValue floor : project["floors"].toArray())
        for (const QJsonValue value : floor["scans"].toArray()) {
            const QJsonObject scan = value.toObject();
            SCOPED_TRACE(scan["raw"].toString().toStdString());
            ++scans;
            roomFiles += scan["roomDat"].toBool();
            twoAngles += scan["compass"].toArray().size() == 2;
            ImageParams params;
            params[ImageParams::YAW_2] = yaw2;
            params[ImageParams::YAW_3] = yaw3;
            const ImageParams before = params;
            ScanData data = freshData();
            model.loadScanData(dir.filePath(scan["raw"].toString()), params, data);

            const QList<QPointF> expected = laserWallPoints(scan);
            ASSERT_GT(expected.size(), 250);
            ASSERT_EQ(data.lidarPoints.size(), expected.size());
            double worst = 0;
            for (qsizetype i = 0; i < expected.size(); ++i)
                worst = std::max(worst, std::hypot(data.lidarPoints[i].x() - expected[i].x(),
                                                   data.lidarPoints[i].y() - expected[i].y()));
            EXPECT_LE(worst, 1.0);

            EXPECT_NEAR(data.position.x(), scan["position"][0].toDouble(), 1e-3);
            EXPECT_NEAR(data.position.y(), scan["position"][1].toDouble(), 1e-3);
            EXPECT_NEAR(data.heading, scan["heading"].toDouble(), 2e-3);
            EXPECT_NEAR(data.lidarHeading, scan["heading"].toDouble(), 2e-3);
            EXPECT_EQ(data.shutterCounter, 0);
            EXPECT_TRUE(data.shown);
            EXPECT_EQ(data.temperature, 0.0f);
            EXPECT_TRUE(data.temperatureSource.isEmpty());
            EXPECT_TRUE(data.systemInfo.isEmpty());
            EXPECT_EQ(params, before) << "the yaws are read, not written";
        }
    EXPECT_EQ(scans, 4);
    EXPECT_EQ(roomFiles, 2);
    EXPECT_EQ(twoAngles, 1);
}

// Reading a scan again and again leaves its alignment exactly as it was.
TEST_F(Ztm4ScanFiles, RereadingNeverMovesTheYaws)
{
    writeFile(path("pos.txt"), "PosX:10\nPosY:20\n");
    params[ImageParams::YAW_2] = 0.1234567f;
    params[ImageParams::YAW_3] = -2.7182818f;
    const ImageParams before = params;
    for (int i = 0; i < 50; ++i)
        read();
    EXPECT_EQ(std::memcmp(params.values.data(), before.values.data(), sizeof before.values), 0);
}

TEST(Ztm4Compass, HeadingOfTwoOrThreeAnglesIsThePlantedOne)
{
    for (float heading : {0.0f, 0.4f, 2.5f, 3.2f, 5.9f}) {
        SCOPED_TRACE(heading);
        const auto wrap = [](double a) { return float(std::fmod(a + 4 * kPi, 2 * kPi)); };
        // Turning one way the compass reads +120 degrees per shot, the other way -120.
        for (double turn : {2 * kPi / 3, -2 * kPi / 3}) {
            const std::vector<float> three = {wrap(heading + 0.01), wrap(heading + turn - 0.02),
                                              wrap(heading + 2 * turn + 0.01)};
            ASSERT_TRUE(CamParamsZTM4::headingAnglesValid(three));
            const float solved = CamParamsZTM4::solveHeading(three);
            EXPECT_NEAR(std::remainder(double(solved) - heading, 2 * kPi), 0.0, 1e-4) << turn;
        }
        const std::vector<float> two = {wrap(heading - 0.02), wrap(heading + kPi + 0.02)};
        ASSERT_TRUE(CamParamsZTM4::headingAnglesValid(two));
        EXPECT_NEAR(std::remainder(double(CamParamsZTM4::solveHeading(two)) - heading, 2 * kPi), 0.0, 1e-5);
    }
}

TEST(Ztm4Compass, AnglesTooCloseOrMarkedEmptyGiveNoHeading)
{
    const float deg = float(kPi / 180);
    EXPECT_TRUE(CamParamsZTM4::headingAnglesValid({0.3f, 0.3f + 150 * deg}));
    EXPECT_FALSE(CamParamsZTM4::headingAnglesValid({0.3f, 0.3f + 130 * deg}));
    EXPECT_TRUE(CamParamsZTM4::headingAnglesValid({1.0f, 1.0f + 85 * deg, 1.0f + 200 * deg}));
    EXPECT_FALSE(CamParamsZTM4::headingAnglesValid({1.0f, 1.0f + 75 * deg, 1.0f + 200 * deg}));
    EXPECT_FALSE(CamParamsZTM4::headingAnglesValid({1.0f, 1.0f + 120 * deg, 1.0f + 320 * deg}));
    EXPECT_FALSE(CamParamsZTM4::headingAnglesValid({1.0f}));
    EXPECT_FALSE(CamParamsZTM4::headingAnglesValid({1.0f, 2.0f, 3.0f, 4.0f}));
    EXPECT_FALSE(CamParamsZTM4::headingAnglesValid({0.0f, -3.697314e28f}));
    EXPECT_FALSE(CamParamsZTM4::headingAnglesValid({0.0f, std::nanf("")}));
}

// The compass lines of "pos.txt": 150 degrees apart give a heading, 130 degrees or a line out
// of its place give none, which the scan takes as 0.
TEST_F(Ztm4ScanFiles, PositionAndCompassLinesOfPosTxt)
{
    const auto heading = [&](const QByteArray& text) {
        writeFile(path("pos.txt"), text);
        return read();
    };
    ScanData data = heading("PosX:1250.5\nPosY:-300.25\nAng0:0.5\nAng1:3.1179938\n");
    EXPECT_EQ(data.position, QPointF(1250.5, 300.25));
    const float h = CamParamsZTM4::solveHeading({0.5f, 3.1179938f});
    EXPECT_NEAR(data.heading, 360.0f - 57.29578f * h, 1e-3);
    EXPECT_EQ(data.lidarHeading, data.heading);

    data = heading("PosX:1\nPosY:2\nAng0:0.5\nAng1:2.7689280\n"); // 130 degrees
    EXPECT_TRUE(std::isnan(data.lidarHeading));
    EXPECT_EQ(data.heading, 0.0f);
    EXPECT_EQ(data.position, QPointF(1, -2));

    data = heading("PosX:1\nPosY:2\nAng0:0.5\nAng2:3.6415927\n"); // the second line says it is the third
    EXPECT_TRUE(std::isnan(data.lidarHeading));
    data = heading("PosX:1\nPosY:2\nAng0:0.5\nAng1:-3.697314e28\n");
    EXPECT_TRUE(std::isnan(data.lidarHeading)) << "marked empty";
    data = heading("PosX:1\nPosY:2\nAng0:0.5\n\nAng1:3.6415927\n");
    EXPECT_TRUE(std::isnan(data.lidarHeading)) << "an empty line ends the angles";
    data = heading("PosX:1\nPosY:2\nAng0:0.5\nAng1:3.6415927\nAng2:1.0\nAng3:2.0\n");
    EXPECT_TRUE(std::isnan(data.lidarHeading)) << "a fourth angle is not read, the three are too close";
    data = heading("PosX:1\nPosY:2\nAng0: 0.5\nAng1:3.6415927 degrees\n");
    EXPECT_FALSE(std::isnan(data.lidarHeading)) << "blanks before a number, words after it";

    data = heading("PosY:2\nPosX:1\nAng0:0.5\n");
    EXPECT_TRUE(std::isnan(data.position.x()) && std::isnan(data.position.y())) << "lines out of their order";
    data = heading("PosX:nan\nPosY:inf\n");
    EXPECT_TRUE(std::isnan(data.position.x()) && std::isnan(data.position.y()));
    data = heading("");
    EXPECT_TRUE(std::isnan(data.lidarHeading));
    EXPECT_EQ(data.heading, 0.0f);
}

TEST_F(Ztm4ScanFiles, WithoutPosTxtTheCentroidsAreNotRead)
{
    writeFile(path("aCts.dat"), floats({100, 2000}));
    ScanData data = freshData();
    data.lidarPoints = {QPoint(1, 2)};
    model.loadScanData(folder, params, data);
    EXPECT_EQ(data.lidarPoints, QList<QPoint>{QPoint(1, 2)});
    EXPECT_TRUE(std::isnan(data.heading)) << "nothing says where the scan looks";
    EXPECT_EQ(data.shutterCounter, 0);
}

// "room.dat" places the scan where the field application put it, over what "pos.txt" says.
TEST_F(Ztm4ScanFiles, RoomFilePlacesTheScanAndRefusesOldOrCorruptFiles)
{
    writeFile(path("pos.txt"), "PosX:1\nPosY:2\nAng0:0.5\nAng1:3.6415927\n");
    for (uint32_t version : {4u, 11u, 12u, 30u}) {
        SCOPED_TRACE(version);
        writeFile(path("room.dat"), roomDat(version, 20, 5, 1500.5f, -250.0f, 0.5f));
        const ScanData data = read();
        EXPECT_EQ(data.position, QPointF(1500.5, 250.0));
        EXPECT_NEAR(data.heading, 360.0f - 57.29578f * 0.5f, 1e-4);
        EXPECT_FALSE(std::isnan(data.lidarHeading)) << "the compass heading stays the camera's";
    }
    writeFile(path("room.dat"), roomDat(3, 0, 0, 1, 2, 3));
    EXPECT_EQ(thrownMessage([&] { read(); }), "File version 3 is too old to load. Min supported is version 4.");
    writeFile(path("room.dat"), roomDat(12, 21, 0, 1, 2, 3));
    EXPECT_EQ(thrownMessage([&] { read(); }),
              "Invalid number of image parameters. The file is probably corrupted or you may be trying to load the "
              "exported project, which is not supported.");
    writeFile(path("room.dat"), roomDat(12, -1, 0, 1, 2, 3));
    EXPECT_NE(thrownMessage([&] { read(); }), "(nothing thrown)");
}

// A file cut short anywhere, or with a record count its bytes cannot hold, leaves the position
// and heading as "pos.txt" gave them; a file that ends after the position keeps the heading.
TEST_F(Ztm4ScanFiles, TruncatedRoomFilesLeavePositionAndHeading)
{
    writeFile(path("pos.txt"), "PosX:1\nPosY:2\nAng0:0.5\nAng1:3.6415927\n");
    writeFile(path("room.dat"), {});
    const ScanData camera = read();
    const QByteArray whole = roomDat(12, 2, 3, 1500.5f, -250.0f, 0.5f);
    for (qsizetype length = 4; length < whole.size() - 4; ++length) {
        SCOPED_TRACE(length);
        writeFile(path("room.dat"), whole.left(length));
        const ScanData data = read();
        EXPECT_EQ(data.position, camera.position);
        EXPECT_EQ(data.heading, camera.heading);
    }
    writeFile(path("room.dat"), whole.left(whole.size() - 4));
    ScanData data = read();
    EXPECT_EQ(data.position, QPointF(1500.5, 250.0));
    EXPECT_EQ(data.heading, camera.heading);
    for (int32_t records : {-1, 0x7fffffff, 1 << 29}) {
        SCOPED_TRACE(records);
        QByteArray bytes = roomDat(12, 2, 0, 1500.5f, -250.0f, 0.5f);
        std::memcpy(bytes.data() + 4 + 4 + 8 + 2 + 4 + 4 + 8, &records, 4);
        writeFile(path("room.dat"), bytes);
        data = read();
        EXPECT_EQ(data.position, camera.position);
        EXPECT_EQ(data.heading, camera.heading);
    }
}

// Only centroids in a laser's columns, with a ray that meets its plane between about 447 mm and
// 20 m, become points; the file is read up to its ten-thousandth record.
TEST_F(Ztm4ScanFiles, CentroidsOutsideTheLasersReachGiveNoPoints)
{
    makeSystemCfg(dir.filePath("flat.cfg"),
                  {"--model", "ztm4", "--lasers", "1", "--set", "laser1.PN=-1000", "--set", "laser1.NX=0", "--set",
                   "laser1.NY=1", "--set", "laser1.NZ=0", "--set", "laser1.A0=0", "--set", "laser1.A1=0", "--set",
                   "laser1.A2=0", "--set", "laser1.A3=0", "--set", "laser1.A4=0", "--set", "laser1.A5=0", "--set",
                   "laser1.UMIN=100", "--set", "laser1.UMAX=2700", "--set", "K1=0", "--set", "K2=0", "--set", "P1=0",
                   "--set", "P2=0", "--set", "P3=0", "--set", "RY=1", "--set", "U0=1424", "--set", "V0=1424"});
    CamParamsZTM4 flat;
    ASSERT_TRUE(flat.loadSystemFile(dir.filePath("flat.cfg")));
    // A floor 1000 mm below the camera: a pixel straight below the centre at angle a from the
    // axis sees it at 1000 / tan(a) ahead.
    const float f = flat.lensTerm(CamParamsOneLens::F);
    const auto below = [&](double degrees) { return float(1424.0 + f * degrees * kPi / 180.0); };
    writeFile(path("pos.txt"), "PosX:0\nPosY:0\n");
    QByteArray records = floats({1424, below(45)});                      // 1000 mm ahead
    records += floats({50, below(45)});                                  // left of the laser's columns
    records += floats({2750, below(45)});                                // right of them
    records += floats({1424, below(70)});                                // 364 mm: too near
    records += floats({1424, below(2.5)});                               // 22.9 m: too far
    records += floats({-1, below(30)}) + floats({1424, -1}) + floats({std::nanf(""), 1000});
    records += floats({1424, below(10)});                                // 5671 mm ahead
    writeFile(path("aCts.dat"), records);
    ScanData data = freshData();
    flat.loadScanData(folder, params, data);
    ASSERT_EQ(data.lidarPoints.size(), 2);
    EXPECT_NEAR(data.lidarPoints[0].x(), 0, 1);
    EXPECT_NEAR(data.lidarPoints[0].y(), -1000, 1);
    EXPECT_NEAR(data.lidarPoints[1].y(), -1000.0 / std::tan(10 * kPi / 180), 1);

    // Shot c looks along 120 degrees (plus YAW_2): its point ahead turns with it.
    QFile::remove(path("aCts.dat"));
    writeFile(path("cCts.dat"), floats({1424, below(45)}));
    params[ImageParams::YAW_2] = float(10 * kPi / 180);
    data = freshData();
    flat.loadScanData(folder, params, data);
    ASSERT_EQ(data.lidarPoints.size(), 1);
    const double yaw = 2.094395 + 10 * kPi / 180;
    EXPECT_NEAR(data.lidarPoints[0].x(), -std::sin(yaw) * 1000, 1);
    EXPECT_NEAR(data.lidarPoints[0].y(), -std::cos(yaw) * 1000, 1);

    // Ten thousand records at most.
    QByteArray many;
    for (int i = 0; i < 10050; ++i)
        many += floats({1424, below(45)});
    writeFile(path("cCts.dat"), many + QByteArray("odd"));
    data = freshData();
    flat.loadScanData(folder, params, data);
    EXPECT_EQ(data.lidarPoints.size(), 10000);

    // Without lasers nothing becomes a point.
    makeSystemCfg(dir.filePath("none.cfg"), {"--model", "ztm4", "--lasers", "0"});
    CamParamsZTM4 none;
    ASSERT_TRUE(none.loadSystemFile(dir.filePath("none.cfg")));
    data = freshData();
    none.loadScanData(folder, params, data);
    EXPECT_TRUE(data.lidarPoints.isEmpty());
}

// The ray model on its own: a laser plane cut straight, the fan position of each laser on both
// halves of the lens, and a ray along its plane.
TEST_F(Ztm4ScanFiles, LaserRaysMeetTheirPlanes)
{
    QStringList options = {"--model", "ztm4", "--lasers", "3"};
    const char* const planes[3][4] = {{"-1000", "0", "1", "0"}, {"500", "0", "0", "1"}, {"-1000", "0", "1", "0"}};
    for (int laser = 0; laser < 3; ++laser) {
        const char* const keys[] = {"PN", "NX", "NY", "NZ"};
        for (int k = 0; k < 4; ++k)
            options << "--set" << QString("laser%1.%2=%3").arg(laser + 1).arg(keys[k], planes[laser][k]);
        for (int k = 0; k < 6; ++k)
            options << "--set" << QString("laser%1.A%2=%3").arg(laser + 1).arg(k).arg(laser == 0 && k == 1 ? 0.1 : 0.0);
    }
    makeSystemCfg(dir.filePath("fan.cfg"), options);
    CamParamsZTM4 fan;
    ASSERT_TRUE(fan.loadSystemFile(dir.filePath("fan.cfg")));
    float x = 0, y = 0, z = 0;
    // Straight down-forward at 45 degrees: laser 1 of 3 serves the fan from 120 to 180 degrees,
    // so the ray's laser angle is pi/2 - 5 pi / 6 and its polynomial lifts it by 0.1 times that
    // before it meets the floor 1000 mm down.
    fan.laserRay(float(kPi / 4), 0.0f, -1.0f, 0, x, y, z);
    double lifted = -std::sin(kPi / 4) + 0.1 * (kPi / 2 - 5 * kPi / 6);
    EXPECT_NEAR(y, -1000, 1e-2);
    EXPECT_NEAR(z, 1000 * std::cos(kPi / 4) / -lifted, 1e-2);
    EXPECT_NEAR(x, 0, 1e-3);
    // Behind the lens, to the left: the laser angle runs on past pi (7 pi / 6 here).
    const double theta = 2 * kPi / 3;
    fan.laserRay(float(theta), -1.0f, 0.0f, 0, x, y, z);
    lifted = 0.1 * (7 * kPi / 6 - 5 * kPi / 6);
    EXPECT_NEAR(y, -1000, 1e-2);
    EXPECT_NEAR(x, -1000 * -std::sin(theta) / lifted, 1e-1);
    EXPECT_NEAR(z, -1000 * std::cos(theta) / lifted, 1e-1);
    // Laser 2's plane z = 500 cut by a ray 30 degrees right of the axis.
    fan.laserRay(float(kPi / 6), 1.0f, 0.0f, 1, x, y, z);
    EXPECT_NEAR(z, 500, 1e-2);
    EXPECT_NEAR(x, 500 * std::tan(kPi / 6), 1e-2);
    EXPECT_NEAR(y, 0, 1e-3);
    // A level ray runs along laser 3's level plane and never meets it.
    fan.laserRay(0.7f, 1.0f, 0.0f, 2, x, y, z);
    EXPECT_EQ(x, -3.697314e28f);
    EXPECT_EQ(y, -3.697314e28f);
    EXPECT_EQ(z, -3.697314e28f);
    fan.laserRay(0.5f, 0.0f, -1.0f, 3, x, y, z);
    EXPECT_EQ(x, -3.697314e28f) << "no fourth laser";
}
