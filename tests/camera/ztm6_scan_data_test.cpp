#include "camera/cam_params_ztm4.h"
#include "camera/cam_params_ztm5.h"
#include "camera/cam_params_ztm6.h"
#include "camera/scan_fingerprint.h"
#include "support/pic_checks.h"
#include "support/test_support.h"
#include "support/two_lens_scan_fixture.h"
#include "support/ztm6_model.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace testsupport;

namespace {
constexpr double kPi = 3.14159265358979323846;
const float kNan = std::numeric_limits<float>::quiet_NaN(), kInf = std::numeric_limits<float>::infinity();

// Byte-wise sum of sha1sum digests, worked out from sha1sum's own output.
std::string digestSum(const QStringList& files)
{
    QByteArray sum(20, '\0');
    for (const QString& file : files) {
        const QByteArray digest = QByteArray::fromHex(sha1sumOf(file).toLatin1());
        for (int i = 0; i < 20; ++i)
            sum[i] = char(uint8_t(sum[i]) + uint8_t(digest[i]));
    }
    return sum.toHex().toStdString();
}

class ScanFolder : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(folder)); }
    QString path(const QString& name) const { return folder + "/" + name; }
    std::string file(const QString& name) const { return path(name).toStdString(); }
    void put(const QString& name, int size) const { writeFile(path(name), pseudoRandomBytes(size, quint32(size))); }
    std::string sha1sum(const QString& name) const { return sha1sumOf(path(name)).toStdString(); }
    // What the folder gives over a record holding markers for the values it leaves alone.
    ScanData read() const
    {
        ScanData data;
        data.position = QPointF(-7, -8);
        data.heading = -9;
        ImageParams params;
        model->loadScanData(folder, params, data);
        return data;
    }
    // The points of a lidar file; its heading lands in `heading`.
    QList<QPoint> points(const QByteArray& file)
    {
        writeFile(path("pts.dat"), file);
        QList<QPoint> read{QPoint(1, 1)};
        readLidarPoints(path("pts.dat"), read, heading);
        return read;
    }
    // Every point within 1 mm of the room's walls, in the order of their angles if sorted.
    static void expectOutline(const QList<QPoint>& outline, const Room& room, bool sorted = false)
    {
        ASSERT_GT(outline.size(), 1400);
        double previous = -10;
        for (const QPoint& p : outline) {
            ASSERT_LE(room.distanceToWalls(p.x(), p.y()), 1.0) << p.x() << ", " << p.y();
            const double angle = std::atan2(-double(p.y()), double(p.x()));
            ASSERT_TRUE(!sorted || previous < angle) << p.x() << ", " << p.y();
            previous = angle;
        }
    }
    QTemporaryDir dir;
    const QString folder = dir.filePath("Scän 7"); // a UTF-8 name, opened through its wide form
    std::unique_ptr<CamParamsZTM6> model = makeIdentityZtm6(600);
    const Room room;
    float heading = 0;
};
} // namespace

TEST_F(ScanFolder, ARoomSeenByBothLensesComesBackAsOneSortedOutlineOnItsWalls)
{
    // Lens 1 owns the left half (90..270 degrees), lens 2 the right half; each sees 30 degrees more.
    writeFile(path("pts1.dat"), lidarFile(0.5f, sweep(room, 60, 300, 90, 270)));
    writeFile(path("pts2.dat"), lidarFile(0.7f, sweep(room, -120, 120, -90, 90)));
    const ScanData data = read();
    expectOutline(data.lidarPoints, room, true);
    // The mean of both headings, relative to the camera.
    EXPECT_NEAR(data.lidarHeading, -0.6 * 180 / kPi, 1e-3);
}

TEST_F(ScanFolder, TheCamerasYawTurnsTheOutline)
{
    // Both lenses see all around: each gives its own half, turned a quarter, (x, y) -> (y, -x).
    writeFile(path("pts1.dat"), lidarFile(0.0f, sweep(room, 0.125, 359.875, -1, 361)));
    writeFile(path("pts2.dat"), lidarFile(0.0f, sweep(room, 0.125, 359.875, -1, 361)));
    model->header().YAW = float(kPi / 2);
    ScanData data = read();
    expectOutline(data.lidarPoints, Room{room.top, room.bottom, -room.right, -room.left});
    EXPECT_LT(data.lidarPoints.size(), 1441);
    EXPECT_NEAR(data.lidarHeading, 90.0, 1e-3);
}

TEST_F(ScanFolder, ShortFarNonFiniteAndExcessRecordsAreDropped)
{
    EXPECT_TRUE(points(lidarFile(1.25f, {})).isEmpty());
    EXPECT_EQ(heading, 1.25f);
    EXPECT_TRUE(points(lidarFile(1.25f, {}).left(3)).isEmpty());
    EXPECT_TRUE(std::isnan(heading)) << "no heading from a short file";
    EXPECT_TRUE(points(lidarFile(1.25f, {{1000, 0}}).left(11)).isEmpty());

    // |x| + |y| of the last point rounds to 99999: still a point, but too far from the others.
    EXPECT_EQ(points(lidarFile(0, {{3000, -100}, {0.4f, -0.3f}, {60000, 40000}, {kNan, 5}, {3000, kInf}, {1e30f, 1},
                                   {3000, -110}, {-2e9f, 3e9f}, {3000, -120}, {99000, 998.6f}})),
              (QList<QPoint>{{3000, -100}, {3000, -110}, {3000, -120}}));
    EXPECT_EQ(points(lidarFile(0, {{99000, 999.4f}})), QList<QPoint>{QPoint(99000, 999)});
    // A point on the angle of the last accepted one takes that one with it.
    EXPECT_EQ(points(lidarFile(0, {{1000, -1000}, {1010, -1000}, {1515, -1500}, {1020, -1000}})),
              (QList<QPoint>{{1000, -1000}, {1020, -1000}}));

    // Only the first 10000 records are read: the rest lie on a wider circle.
    std::vector<std::pair<float, float>> circles;
    for (int k = 0; k < 20000; ++k) {
        const double a = (1.0 + k * 0.0085) * kPi / 180, r = k < 10000 ? 3000 : 5000;
        circles.emplace_back(float(r * std::cos(a)), float(-r * std::sin(a)));
    }
    const QList<QPoint> read = points(lidarFile(0, circles));
    EXPECT_GT(read.size(), 9000);
    for (const QPoint& p : read)
        ASSERT_NEAR(std::hypot(p.x(), p.y()), 3000, 1.0);
}

TEST_F(ScanFolder, ScanJsonIsReadAndUnusableValuesKeepTheirDefaults)
{
    // The keys of the capture record are checked through a scan's reload.
    writeFile(path("scan.json"), R"({"pos": [1500.5, -220], "rot": 0.25, "hidden": 1, "tags": [{"t": 1}],
        "alignmentBad": true, "captureTimestamp": "1234567890123"})");
    model->header().YAW = 1.0f;
    ScanData data = read();
    EXPECT_EQ(data.position, QPointF(1500.5, 220));
    EXPECT_FLOAT_EQ(data.heading, float((1.0 - 0.25) * 180 / kPi));
    EXPECT_FALSE(data.shown);
    EXPECT_EQ(data.tags.size(), 1);
    EXPECT_EQ(data.alignmentFlag, 1);
    EXPECT_EQ(data.captureTimestamp, 1234567890123);

    writeFile(path("scan.json"), R"({"pos": [5], "shutterCounter": 1e12, "hidden": 2.5e10, "lidarUptime": -9e15,
        "temperature": 1e300, "alignmentScore": -1e200, "captureTimestamp": 1e30, "rot": 1e308})");
    data = read();
    EXPECT_EQ(data.position, QPointF(-7, -8)) << "a one-number position is ignored";
    EXPECT_TRUE(std::isfinite(data.heading));
    EXPECT_TRUE(data.shown);
    EXPECT_EQ(data.shutterCounter, 0);
    EXPECT_EQ(data.lidarUptime, 0);
    EXPECT_EQ(data.temperature, 0.0f);
    EXPECT_EQ(data.alignmentScore, -1.0f);
    EXPECT_EQ(data.captureTimestamp, 0);
}

// Scans load on several threads at once: each metadata file costs what it holds, not its size limit.
TEST_F(ScanFolder, ScanJsonIsReadInFullWithLittleMemoryToSpare)
{
    writeFile(path("scan.json"), R"({"shutterCounter": 41, "hidden": 1})");
    put("pts1.dat", 800);
    read(); // the lidar threads exist before the limit
    ScanData data;
    {
        AddressSpaceHeadroom headroom(40 << 20);
        if (!headroom.active())
            GTEST_SKIP() << "no address-space limit under AddressSanitizer";
        EXPECT_NO_THROW(data = read());
    }
    EXPECT_EQ(data.shutterCounter, 41);
    EXPECT_FALSE(data.shown);
}

TEST_F(ScanFolder, OlderScansReadTheBinaryTransformOfTwelveOrSixteenBytes)
{
    model->header().YAW = 0.5f;
    auto xfrm = [](float x, float y, float rot, uint32_t counter, qsizetype size) {
        const float values[3] = {x, y, rot};
        const QByteArray record = QByteArray(reinterpret_cast<const char*>(values), 12);
        return (record + QByteArray(reinterpret_cast<const char*>(&counter), 4)).left(size);
    };
    writeFile(path("xfrm.dat"), xfrm(1200, 340, 0.25f, 812, 16));
    const ScanData data = read();
    EXPECT_EQ(data.position, QPointF(1200, -340));
    EXPECT_FLOAT_EQ(data.heading, (0.5f - 0.25f) * 57.29578f);
    EXPECT_EQ(data.shutterCounter, 812);
    // Values that are not numbers, a counter no int holds, a short file: nothing is taken.
    for (const QByteArray& bad : {xfrm(kNan, 2, kNan, 0xfffffff0u, 16), xfrm(1, 2, 0, 0, 11)}) {
        writeFile(path("xfrm.dat"), bad);
        const ScanData unchanged = read();
        EXPECT_EQ(unchanged.shutterCounter, 0);
        EXPECT_EQ(unchanged.position, QPointF(-7, -8));
        EXPECT_EQ(unchanged.heading, -9.0f);
    }
    writeFile(path("xfrm.dat"), xfrm(1, 2, 0, 0, 12));
    EXPECT_EQ(read().position, QPointF(1, -2));
    writeFile(path("scan.json"), R"({"pos": [3, 4]})");
    EXPECT_EQ(read().position, QPointF(3, -4)) << "scan.json wins over the binary transform";
}

TEST_F(ScanFolder, LensImagesLoadBottomUpAndImagesOfAnotherSizeAreRefused)
{
    model = makeIdentityZtm6(20);
    QImage right(40, 20, QImage::Format_RGB888);
    right.fill(QColor(10, 20, 30));
    for (int x = 0; x < 40; ++x)
        right.setPixelColor(x, 0, QColor(250, 250, 250));
    ASSERT_TRUE(right.save(path("h1.jpg"), "JPG", 100));
    ASSERT_TRUE(QImage(40, 22, QImage::Format_RGB888).save(path("h2.jpg"), "JPG"));

    QByteArray rgb;
    model->loadFisheyeImage(folder, 0, rgb, false);
    ASSERT_EQ(rgb.size(), 40 * 20 * 3);
    EXPECT_GT(uint8_t(rgb[(19 * 40 + 5) * 3]), 200) << "the file's first row comes last";
    EXPECT_LT(uint8_t(rgb[5 * 3]), 60);

    rgb = "old";
    EXPECT_EQ(thrownMessage([&] { model->loadFisheyeImage(folder, 1, rgb, false); }),
              "Failed to load image" + path("h2.jpg") + ": improper size.");
    EXPECT_TRUE(rgb.isEmpty());
}

// A few hundred bytes may declare a lens image of 16000 x 16000: refused from its header, before a
// decode would take a gigabyte (with little address space left, that decode would fail instead).
TEST_F(ScanFolder, ALensImageDeclaringAnotherSizeIsRefusedBeforeItIsDecoded)
{
    writeFile(path("h1.jpg"), jpegDeclaringSize(16000, 16000));
    ImageAllocationLimit allocation(1024);
    QByteArray rgb = "left over";
    QString message;
    {
        AddressSpaceHeadroom headroom(256 << 20);
        message = thrownMessage([&] { model->loadFisheyeImage(folder, 0, rgb, false); });
    }
    EXPECT_EQ(message, "Failed to load image" + path("h1.jpg") + ": improper size.");
    EXPECT_TRUE(rgb.isEmpty());
}

TEST_F(ScanFolder, FingerprintDigestSumDoesNotDependOnOrderAndUnreadableFilesCountAsZero)
{
    put("a", 70000);
    put("b", 1234);
    EXPECT_EQ(sha1OfFiles({file("a"), file("b")}), digestSum({path("a"), path("b")}));
    EXPECT_EQ(sha1OfFiles({file("b"), file("a")}), digestSum({path("a"), path("b")}));
    EXPECT_EQ(sha1OfFiles({file("a"), file("missing")}), sha1sum("a"));
    EXPECT_EQ(sha1OfFiles({}), "");
    EXPECT_EQ(sha1HexOfFile(file("missing")), std::string(40, '0'));
}

TEST_F(ScanFolder, FingerprintOfTwoLensScansIsTheirLidarFilesElseTheirLensImages)
{
    const std::string scan = folder.toStdString();
    put("h1.jpg", 900);
    put("h2.jpg", 2000);
    EXPECT_EQ(model->scanHash(scan), std::string(40, '0')) << "missing lidar files count as zero digests";
    put("pts1.dat", 4004);
    EXPECT_EQ(model->scanHash(scan), sha1sum("pts1.dat"));
    put("pts2.dat", 8004);
    EXPECT_EQ(model->scanHash(scan), digestSum({path("pts1.dat"), path("pts2.dat")}));
    EXPECT_EQ(CamParamsZTM5().scanHash(scan), sha1sum("pts1.dat")) << "one-lens models hash their own way";
    EXPECT_EQ(CamParamsZTM4().scanHash(scan), "");
    writeFile(path("pts1.dat"), {});
    writeFile(path("pts2.dat"), {});
    EXPECT_EQ(model->scanHash(scan), digestSum({path("h1.jpg"), path("h2.jpg")}));
    writeFile(path("h1.jpg"), {});
    writeFile(path("h2.jpg"), {});
    EXPECT_EQ(model->scanHash(scan), "");
}
