#include "app/units.h"
#include "pano/panorama.h"
#include "project/cipher.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

#include <QDomDocument>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <cmath>

#include <sys/stat.h>

using namespace testsupport;

namespace {

struct ScanFixture : ProjectFixture {
    Building* building = addBuilding("House");
    Floor* floor = addFloor(building, "Ground Floor");
};

QJsonObject decipheredRecord(const QString& path)
{
    QByteArray data = readFile(path);
    EXPECT_TRUE(decipherBytes(data, CipherKind::Data));
    return QJsonDocument::fromJson(data).object();
}

} // namespace

TEST(PanoramaRecord, RoundTripsThroughPanoDat)
{
    ScanFixture f;
    Panorama* scan = f.addUserScan(f.floor, "Scan 1");
    ASSERT_NE(scan, nullptr);
    EXPECT_EQ(scan->panoType(), PanoType::User);
    EXPECT_TRUE(scan->isEquirectangular());
    EXPECT_EQ(scan->ownName(), "Scan 1");
    scan->setPos(1234.5, -67.25);
    scan->setRotation(30);
    scan->setCompass(12.5f);
    scan->setAlignment(0);
    scan->setInitAngle(37.4f);
    scan->imageParams()[ImageParams::YAW_2] = 0.125f;
    scan->imageParams()[ImageParams::CONTRAST] = -0.5f;
    scan->setCapture(QJsonObject{{"cameraSerialNumber", "MX123"}});
    scan->setScanHash(QString(40, 'a'));
    scan->setSystemCfgIndex(f.property->systemCfgIndex("system.cfg"));
    scan->setShown(false);
    ASSERT_TRUE(scan->writePanoDat());

    const QJsonObject record = decipheredRecord(f.path("Ground Floor/Scan 1/pano.dat"));
    EXPECT_EQ(record, scan->toJson(false));
    EXPECT_EQ(record["type"].toString(), "user");
    EXPECT_EQ(record["dir"].toString(), "Scan 1");
    EXPECT_EQ(record["rot"].toDouble(), degreesToJsonAngle(30));
    EXPECT_EQ(record["imageParams"].toArray().size(), 29);
    EXPECT_TRUE(record["hidden"].toBool());

    Floor* copy = f.addFloor(f.addBuilding("Copy"), "Copy");
    ASSERT_TRUE(QDir().rename(f.path("Ground Floor/Scan 1"), f.path("Copy/Scan 1")));
    Panorama* read = Panorama::createFromFolder(QJsonObject(), f.path("Copy/Scan 1"), copy);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->toJson(false), record);
    EXPECT_EQ(read->initAngle(), 37);
    EXPECT_EQ(read->imageParams(), scan->imageParams());
}

TEST(PanoramaRecord, AnUnchangedRecordIsNotWrittenAgainButAChangedOrLostOneIs)
{
    ScanFixture f;
    Panorama* scan = f.addUserScan(f.floor, "Scan 1");
    const QString path = f.path("Ground Floor/Scan 1/pano.dat");
    // Every write goes through a new file renamed into place: a new inode.
    const auto inode = [&] {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : ino_t(0);
    };
    ASSERT_TRUE(scan->writePanoDat());
    const ino_t first = inode();
    ASSERT_TRUE(scan->writePanoDat());
    EXPECT_EQ(inode(), first) << "the same record is already there";

    scan->setCompass(40.5f);
    ASSERT_TRUE(scan->writePanoDat());
    EXPECT_NE(inode(), first);
    EXPECT_EQ(decipheredRecord(path)["compass"].toDouble(), 40.5);

    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(scan->writePanoDat());
    EXPECT_EQ(decipheredRecord(path), scan->toJson(false));
    writeFile(path, "cut");
    ASSERT_TRUE(scan->writePanoDat());
    EXPECT_EQ(decipheredRecord(path), scan->toJson(false));
}

TEST(PanoramaRecord, MissingCompassAndBadRecordsFallBackToDefaults)
{
    ScanFixture f;
    f.makeUserScanFolder(f.floor, "s");
    writeFile(f.path("Ground Floor/s/pano.dat"), "not enciphered JSON at all");
    LogCapture log;
    Panorama* scan = Panorama::createFromFolder(QJsonObject(), "s", f.floor);
    ASSERT_NE(scan, nullptr);
    EXPECT_TRUE(log.contains(QtWarningMsg, "Could not parse:"));
    EXPECT_EQ(scan->panoType(), PanoType::User);
    EXPECT_TRUE(std::isnan(scan->compass()));
    EXPECT_FALSE(scan->toJson(false).contains("compass"));

    QJsonObject hostile{{"imageParams", QJsonArray{1, 2, 3}}, {"type", "nonsense"}, {"alignment", 7},
                        {"initAngle", "x"}, {"pos", QJsonArray{"a", 2}}};
    f.makeUserScanFolder(f.floor, "t");
    Panorama* other = Panorama::createFromFolder(hostile, "t", f.floor);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->imageParams(), ImageParams());
    EXPECT_EQ(other->panoType(), PanoType::Unknown);
    EXPECT_EQ(other->alignment(), -1);
    EXPECT_EQ(other->pos(), QPointF(0, 0));
}

TEST(PanoramaRecord, OnlyPlainFoldersOfTheFloorMakeScans)
{
    ScanFixture f;
    f.makeUserScanFolder(f.floor, "s");
    writeFile(f.path("elsewhere/x/u.jpg"), "x");
    for (const QString& folder : {QString(""), QString(".."), QString("."), QString("s/../s"), QString("missing"),
                                  f.path("elsewhere/x")})
        EXPECT_EQ(Panorama::createFromFolder(QJsonObject(), folder, f.floor), nullptr) << folder.toStdString();
    EXPECT_NE(Panorama::createFromFolder(QJsonObject(), f.path("Ground Floor/s"), f.floor), nullptr);
    EXPECT_EQ(f.floor->panos().size(), 1);
}

TEST(PanoramaExport, LabelAndSvgElementFollowTheirFormats)
{
    ScanFixture f;
    f.floor->setName("Main St. #5 (rear) level");
    Panorama* scan = f.addUserScan(f.floor, "Living room, east");
    scan->setUniqueId(17);
    EXPECT_EQ(scan->exportLabel(), "Main St_ #_Living roo#17");
    EXPECT_EQ(scan->toJson(true)["dir"].toString(), "Main St_ #_Living roo#17");

    scan->setPos(12.34, -5.05);
    scan->setRotation(-12.345);
    scan->setOutline({QPoint(10, 20), QPoint(-3, 0)});
    QDomDocument document;
    const QDomElement group = scan->svgElement(document);
    EXPECT_EQ(group.tagName(), "g");
    EXPECT_EQ(group.attribute("id"), "scan17");
    EXPECT_EQ(group.attribute("transform"), "translate(12.3,  -5.0) rotate(-12.35) ");
    const QDomElement path = group.firstChildElement("path");
    EXPECT_EQ(path.attribute("class"), "point");
    EXPECT_EQ(path.attribute("d"), "M7 17v6h6v-6zM-6 -3v6h6v-6z");
    EXPECT_TRUE(group.parentNode().isNull()) << "the caller inserts it";

    const QPainterPath marker = scan->markerShape();
    EXPECT_TRUE(marker.contains(QPointF(149, 0)));
    EXPECT_FALSE(marker.contains(QPointF(151, 0)));
}

TEST(PanoramaState, VisibilityAngleAndParameterResets)
{
    ScanFixture f;
    Panorama* scan = f.addUserScan(f.floor, "s");
    EXPECT_TRUE(scan->isShown());
    f.floor->setShown(false);
    EXPECT_FALSE(scan->isShown());
    EXPECT_TRUE(scan->isShown(true));
    scan->setPanoType(PanoType::Partial);
    EXPECT_FALSE(scan->isShown(true)) << "only full and user scans reach the portal";

    scan->setInitAngle(-89.6f);
    EXPECT_EQ(scan->initAngle(), -90);
    scan->setInitAngle(std::nanf(""));
    EXPECT_EQ(scan->initAngle(), 0);

    ImageParams& params = scan->imageParams();
    params[ImageParams::ROLL_GLOBAL] = 0.5f;
    params[ImageParams::RED_GAIN_2] = 0.7f;
    params[ImageParams::SATURATION] = 0.3f;
    scan->resetImageParams(true);
    EXPECT_EQ(params[ImageParams::ROLL_GLOBAL], 0.0f);
    EXPECT_EQ(params[ImageParams::RED_GAIN_2], 0.7f);
    EXPECT_EQ(params[ImageParams::SATURATION], 0.3f);
    scan->resetImageParams(false);
    EXPECT_EQ(params, ImageParams());
}

TEST(PanoramaFiles, DerivedFilesGoAndSourcesStay)
{
    ScanFixture f;
    Panorama* scan = f.addUserScan(f.floor, "s");
    for (const char* name : {"s.pic", "pc.dat", "t.pic", "pano.dat", "xfrm.dat"})
        writeFile(f.path(QString("Ground Floor/s/") + name), "x");
    scan->removeDerivedFiles(false);
    EXPECT_EQ(listTree(f.path("Ground Floor/s")), (QStringList{"pano.dat", "t.pic", "u.jpg", "xfrm.dat"}));
    scan->removeDerivedFiles(true);
    EXPECT_EQ(listTree(f.path("Ground Floor/s")), (QStringList{"u.jpg", "xfrm.dat"}));
}

TEST(PanoramaGeometry, UndoingAMoveMakesTheCompassStale)
{
    ScanFixture f;
    Panorama* scan = f.addUserScan(f.floor, "s");
    scan->setCompass(0);
    f.floor->invalidateCompass();
    EXPECT_NEAR(f.floor->compassRotation(), 0, 1e-9);
    scan->beginEdit(false);
    scan->setRotation(45);
    scan->endEdit(false);
    EXPECT_NEAR(f.floor->compassRotation(), 45, 1e-9);
    f.floor->undoStack()->undo();
    EXPECT_NEAR(f.floor->compassRotation(), 0, 1e-9);
}

TEST(PanoramaProcessing, MissingMainImageIsReportedAsSuch)
{
    ScanFixture f;
    Panorama* user = f.addUserScan(f.floor, "u");
    QFile::remove(f.path("Ground Floor/u/u.jpg"));
    QDir().mkpath(f.path("Ground Floor/camera"));
    Panorama* camera = Panorama::createFromFolder(QJsonObject(), "camera", f.floor);
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->panoType(), PanoType::Unknown);
    for (Panorama* scan : {user, camera}) {
        try {
            scan->reload(false);
            ADD_FAILURE() << "reload without a main image must throw";
        } catch (const std::exception& e) {
            EXPECT_TRUE(QString(e.what()).endsWith("Main image is missing and pano will be omitted.")) << e.what();
        }
        EXPECT_THROW(scan->buildPano(), std::runtime_error);
    }
    camera->setPanoType(PanoType::Map);
    EXPECT_NO_THROW(camera->reload(false)) << "map scans are never reloaded";
}
