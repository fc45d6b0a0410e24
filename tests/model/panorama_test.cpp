#include "base/cipher.h"
#include "model/panorama.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace testsupport;

namespace {
struct ScanFixture : ProjectFixture {
    Floor* floor = addFloor(addBuilding("House"), "Ground Floor");
};

QJsonObject decipheredRecord(const QString& path)
{
    QByteArray data = readFile(path);
    EXPECT_TRUE(decipherBytes(data, CipherKind::Data));
    return QJsonDocument::fromJson(data).object();
}
} // namespace

TEST(PanoramaRecord, RoundTripsThroughTheEncipheredPanoDatAndOnlyDerivedFilesAreRemoved)
{
    ScanFixture f;
    Panorama* scan = f.addUserScan(f.floor, "Scan 1");
    scan->setPos(1234.5, -67.25);
    scan->setInitAngle(37.4f);
    scan->imageParams()[ImageParams::YAW_2] = 0.125f;
    const QString path = f.path("Ground Floor/Scan 1/pano.dat");
    ASSERT_TRUE(scan->writePanoDat());
    const QJsonObject record = decipheredRecord(path);
    EXPECT_EQ(record, scan->toJson(false));
    writeFile(path, "cut");
    ASSERT_TRUE(scan->writePanoDat());
    EXPECT_EQ(decipheredRecord(path), record) << "an unchanged record is written again over a damaged copy";
    delete scan;
    Panorama* read = Panorama::createFromFolder(QJsonObject(), "Scan 1", f.floor);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->toJson(false), record);
    // Derived files go; the source picture and the alignment's transform stay.
    for (const char* name : {"s.pic", "pc.dat", "t.pic", "xfrm.dat"})
        writeFile(f.path(QString("Ground Floor/Scan 1/") + name), "x");
    read->removeDerivedFiles(false);
    EXPECT_EQ(listTree(f.path("Ground Floor/Scan 1")), (QStringList{"pano.dat", "t.pic", "u.jpg", "xfrm.dat"}));
    read->removeDerivedFiles(true);
    EXPECT_EQ(listTree(f.path("Ground Floor/Scan 1")), (QStringList{"u.jpg", "xfrm.dat"}));
}

// A floor's save makes its scans' records in order and writes their files side by side: one that
// cannot be written is reported and the others are written all the same; what was written is known
// afterwards, so an unchanged record is not written again.
TEST(PanoramaRecord, AFloorWritesEveryScansRecordAndReportsTheOneItCannot)
{
    ScanFixture f;
    QList<Panorama*> scans;
    for (int i = 0; i < 6; ++i) {
        scans << f.addUserScan(f.floor, QString("Scan %1").arg(i));
        scans.last()->setPos(100.5 * i, -20);
    }
    const QString blocked = scans[3]->folder() + "/pano.dat";
    writeFile(blocked + "/inside", "a folder where the record goes");
    LogCapture log;
    f.floor->toJson(false);
    for (Panorama* scan : scans) {
        if (scan != scans[3]) {
            EXPECT_EQ(decipheredRecord(scan->folder() + "/pano.dat"), scan->toJson(false)) << scan->dir().toStdString();
        }
    }
    EXPECT_TRUE(log.contains(QtWarningMsg, "Could not write " + blocked + ":"));

    const QString kept = scans[0]->folder() + "/pano.dat";
    const QByteArray sameSize(readFile(kept).size(), 'x');
    writeFile(kept, sameSize);
    QDir(blocked).removeRecursively();
    log.clear();
    f.floor->toJson(false);
    EXPECT_EQ(decipheredRecord(blocked), scans[3]->toJson(false)) << "written once the way is free";
    EXPECT_EQ(readFile(kept), sameSize) << "an unchanged record of the size written is not written again";
    EXPECT_TRUE(log.texts(QtWarningMsg).isEmpty());
}

TEST(PanoramaRecord, BadRecordsFallBackToDefaults)
{
    ScanFixture f;
    f.makeUserScanFolder(f.floor, "s");
    writeFile(f.path("Ground Floor/s/pano.dat"), "not enciphered JSON at all");
    LogCapture log;
    Panorama* scan = Panorama::createFromFolder(QJsonObject(), "s", f.floor);
    ASSERT_NE(scan, nullptr);
    EXPECT_TRUE(log.contains(QtWarningMsg, "Could not parse:"));
    EXPECT_EQ(scan->panoType(), PanoType::User);
    const QJsonObject hostile{{"imageParams", QJsonArray{1, 2, 3}}, {"type", "nonsense"}, {"alignment", 7},
                              {"initAngle", "x"}, {"pos", QJsonArray{"a", 2}}};
    Panorama* other = Panorama::createFromFolder(hostile, "s", f.floor);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->imageParams(), ImageParams());
    EXPECT_EQ(other->panoType(), PanoType::Unknown);
    EXPECT_EQ(other->alignment(), -1);
    EXPECT_EQ(other->pos(), QPointF(0, 0));
    other->setInitAngle(std::nanf(""));
    EXPECT_EQ(other->initAngle(), 0) << "no float-to-int conversion of a NaN";
}

// A finite double such as 1e39 used to be kept as float infinity: the next save wrote null and the
// load after that reset all of the scan's alignment and colour values.
TEST(PanoramaRecord, NumbersNoFloatHoldsAreRefusedWhereTheyAreRead)
{
    ScanFixture f;
    f.makeUserScanFolder(f.floor, "s");
    const auto params = [](double at5) {
        QJsonArray values;
        for (int i = 0; i < ImageParams::COUNT; ++i)
            values.append(i == 5 ? at5 : 0.25);
        return values;
    };
    const QJsonObject beyond{{"imageParams", params(1e39)}, {"compass", -1e39}, {"initAngle", 1e10}};
    Panorama* refused = Panorama::createFromFolder(beyond, "s", f.floor);
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(refused->imageParams(), ImageParams()) << "refused as a whole, as a value that is no number is";
    EXPECT_TRUE(std::isnan(refused->compass()));
    EXPECT_EQ(refused->initAngle(), 0) << "5.7e11 degrees: no whole-degree angle";
    f.floor->deletePano(refused, false);

    // The largest float and the smallest are values like any other.
    const QJsonObject edge{{"imageParams", params(-3.4028234663852886e38)}, {"compass", 1e-45}, {"initAngle", -1.5}};
    Panorama* kept = Panorama::createFromFolder(edge, "s", f.floor);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->imageParams()[5], -std::numeric_limits<float>::max());
    EXPECT_EQ(kept->imageParams()[6], 0.25f);
    EXPECT_EQ(kept->compass(), std::numeric_limits<float>::denorm_min());
    EXPECT_EQ(kept->initAngle(), 86);
    EXPECT_EQ(kept->toJson(false)["imageParams"][5].toDouble(), -3.4028234663852886e38);
}

TEST(TagRecord, IdsAreIssuedBeforeATagIsStoredAndHeightIsInSinglePrecision)
{
    ScanFixture f;
    Panorama* scan = f.addUserScan(f.floor, "001");
    Tag loaded;
    loaded.setIdRegistry(f.property.get());
    loaded.setUniqueId(5);
    scan->appendTag(loaded);
    scan->appendTag(Tag());
    EXPECT_EQ(Tag(scan->tags()[1]).uniqueId(), 6u) << "a copy never issues an id of its own";
    EXPECT_EQ(f.property->lastIds().value("tag"), 6);
    Tag high;
    high.v = 0.25; // 45 degrees up
    high.d = 16777217; // 2^24 + 1 has no float of its own
    EXPECT_NEAR(high.height(), Tag::kCameraHeight + 16777216, 0.01);
}
