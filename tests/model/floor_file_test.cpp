#include "model/floor_reader.h"
#include "model/note.h"
#include "model/panorama.h"
#include "model/reference_line.h"
#include "model/tag_entry.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

#include <QDir>
#include <QJsonArray>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

using namespace testsupport;

namespace {

Tag makeTag(double u, double v, double d)
{
    Tag tag;
    tag.u = tag.originalU = u;
    tag.v = tag.originalV = v;
    tag.d = d;
    tag.content = "see manual.pdf";
    return tag;
}

int noteCount(const Floor* floor)
{
    const QList<QGraphicsItem*> items = floor->items();
    return std::count_if(items.begin(), items.end(), [](QGraphicsItem* i) { return dynamic_cast<Note*>(i); });
}

QStringList scanDirs(const Floor* floor)
{
    QStringList dirs;
    for (const Panorama* pano : floor->panos())
        dirs << pano->dir();
    return dirs;
}

// Fractions of a turn compare modulo one.
void expectSameU(double a, double b)
{
    const double difference = std::fabs(a - b);
    EXPECT_LT(std::min(difference, 1 - difference), 1e-6) << a << " vs " << b;
}

// A floor with two placed scans carrying a tag each, a note and a reference line.
struct FurnishedFloor : ProjectFixture {
    Floor* floor = addFloor(addBuilding("House"), "Ground");
    FurnishedFloor()
    {
        Panorama* a = addUserScan(floor, "001");
        a->setPos(1000.25, 500);
        a->setRotation(30);
        a->appendTag(makeTag(0.1, 0.3, 2500.5));
        Panorama* b = addUserScan(floor, "002");
        b->setPos(-200, 300.75);
        b->appendTag(makeTag(0.8, 0.6, 900));
        floor->addItem(new Note({120.5, -40}, "Kitchen"));
        ReferenceLine::create(floor, {0, 0}, {500.5, 250});
    }
};

// A project whose floor Ground holds the scan folder 001.
struct GroundFloorProject : ProjectFixture {
    Building* building = addBuilding("House");
    Floor* floor = addFloor(building, "Ground");
    GroundFloorProject() { QDir().mkpath(path("Ground/001")); }
};

} // namespace

TEST(FloorFile, SavedFormReadsBackAsTheSameObjectAndTheLeanerExportFormLoadsOnceExtracted)
{
    FurnishedFloor f;
    const QJsonObject record = f.floor->toJson(false);
    Property reopened; // as a later session opens the folder
    reopened.setFolder(f.path());
    Floor* reread = readFloorObject(record, new Building(&reopened));
    ASSERT_NE(reread, nullptr);
    EXPECT_EQ(reread->toJson(false), record);

    f.addUserScan(f.floor, "_Map")->setPanoType(PanoType::Map);
    const QJsonObject saved = f.floor->toJson(false)["layout"].toObject();
    const QJsonObject exported = f.floor->toJson(true)["layout"].toObject();
    EXPECT_FALSE(f.floor->toJson(true).contains("dir") || exported.contains("referenceLines"));
    ASSERT_EQ(saved["panos"].toArray().size(), 3);
    ASSERT_EQ(exported["panos"].toArray().size(), 2) << "the map scan is left out";
    for (int i = 0; i < 2; ++i) {
        Panorama* pano = f.floor->panos()[i];
        EXPECT_EQ(saved["panos"][i].toObject(), (QJsonObject{{"dir", pano->dir()}, {"id", qint64(pano->uniqueId())}}));
        EXPECT_EQ(exported["panos"][i].toObject(), pano->toJson(true));
        EXPECT_EQ(exported["panos"][i]["dir"].toString(), pano->exportLabel());
        QJsonObject tag = saved["tags"][i].toObject();
        EXPECT_EQ(tag.take("originalPos").toArray().size(), 2);
        EXPECT_TRUE(tag.take("offset").isDouble());
        EXPECT_EQ(tag, exported["tags"][i].toObject());
    }

    // Extraction leaves each scan's files in a folder named by its export label in the project folder.
    QTemporaryDir extracted;
    for (Panorama* pano : f.floor->panos())
        writeFile(extracted.filePath(pano->exportLabel() + "/t.pic"), "preview");
    writeFile(extracted.filePath("_Assets/manual.pdf"), "pdf");
    LogCapture log;
    Property fresh;
    fresh.setFolder(extracted.path());
    Floor* loaded = readFloorObject(f.floor->toJson(true), new Building(&fresh));
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(log.texts(QtWarningMsg).isEmpty()) << log.texts(QtWarningMsg).join("\n").toStdString();
    ASSERT_EQ(loaded->panos().size(), 2);
    for (int i = 0; i < 2; ++i) {
        const Panorama* original = f.floor->panos()[i];
        const Panorama* pano = loaded->panos()[i];
        EXPECT_TRUE(QFile::exists(pano->folder() + "/t.pic"));
        ASSERT_EQ(pano->tags().size(), 1);
        expectSameU(pano->tags()[0].u, original->tags()[0].u);
        EXPECT_TRUE(QFile::exists(pano->folder() + "/assets/manual.pdf")) << "a tag's asset goes with its scan";
    }
}

TEST(FloorFile, NumbersAreReadAsDoublesAndLoadedIdsAreRegistered)
{
    GroundFloorProject p;
    Panorama* scan = p.addUserScan(p.floor, "S");
    scan->setPos(1000, -500);
    scan->setRotation(37);
    for (const auto& c : {std::array{0.1, 0.3, 2500.0}, {0.75, 0.62, 4100.7}, {0.999, 0.05, 12345.6}, {0.0, 0.95, 333.3}}) {
        SCOPED_TRACE(c[0]);
        // The export form holds only the scene position.
        const Tag read = tagFromEntry(tagEntryToJson(makeTag(c[0], c[1], c[2]), *scan, true), *scan, nullptr);
        expectSameU(read.u, c[0]);
        EXPECT_NEAR(read.v, c[1], 1e-6);
        EXPECT_NEAR(read.d, c[2], c[2] * 1e-6);
    }
    const Tag rounded = tagFromEntry(QJsonObject{{"pos", QJsonArray{1234.6, -20.5, 1500.5}}}, *scan, nullptr);
    EXPECT_EQ(QList<int>({rounded.sceneX, rounded.sceneY, rounded.sceneZ}), QList<int>({1235, -21, 1501}));
    const QJsonObject stored{{"originalPos", QJsonArray{0.25, 0.5}}, {"offset", 1234.5}};
    EXPECT_EQ(tagFromEntry(stored, *scan, nullptr).d, 1234.5) << "a non-integral distance is kept";

    p.floor->loadContents(QJsonObject{
        {"labels", QJsonArray{QJsonObject{{"pos", QJsonArray{10.6, -20.4}}, {"text", "Kitchen"}, {"id", 42}}}},
        {"notes", QJsonArray{QJsonObject{{"text", "Hall"}, {"id", 3}}}},
    });
    const DraftGraphicItem* kitchen = p.floor->findItem(42, "note"); // labels load as notes
    ASSERT_NE(kitchen, nullptr);
    EXPECT_EQ(kitchen->pos(), QPointF(10.6, -20.4)) << "non-integral positions are kept";
    auto* fresh = new Note({0, 0}, "New");
    p.floor->addItem(fresh);
    EXPECT_EQ(fresh->uniqueId(), 43u);
}

TEST(FloorFileInput, FolderNamesThatAreNotOnePlainNameAndMissingFoldersAreSkipped)
{
    GroundFloorProject p;
    QTemporaryDir outside; // a folder beside the project that no record may reach
    writeFile(outside.filePath("secret/keep.txt"), "keep");
    const QString hostile = "../" + QFileInfo(outside.path()).fileName();
    LogCapture log;
    QJsonArray panos;
    for (const QJsonValue& dir : {QJsonValue(""), QJsonValue("."), QJsonValue(".."), QJsonValue(hostile),
                                  QJsonValue("Ground/001"), QJsonValue("x\\y"), QJsonValue(5), QJsonValue("001")})
        panos.append(QJsonObject{{"dir", dir}});
    p.floor->loadContents(QJsonObject{{"panos", panos}});
    EXPECT_EQ(scanDirs(p.floor), QStringList{"001"});
    EXPECT_EQ(log.texts(QtWarningMsg).size(), 7);

    const QJsonObject layout{{"panos", QJsonArray{QJsonObject{{"dir", "secret"}}}}};
    for (const QString& dir : {QString(".."), QString("."), hostile, QString("Ground/001"), outside.path()})
        EXPECT_EQ(readFloorObject(QJsonObject{{"dir", dir}, {"layout", layout}}, p.building), nullptr);
    EXPECT_EQ(log.texts(QtWarningMsg).size(), 12);
    // Without a folder of its own a floor is missing, never the project folder.
    for (const QJsonObject& record : {QJsonObject{}, QJsonObject{{"name", ".."}}, QJsonObject{{"dir", "Attic"}}})
        EXPECT_EQ(readFloorObject(record, p.building), nullptr);
    EXPECT_EQ(log.texts(QtInfoMsg).filter("Could not find folder").size(), 3);
    EXPECT_EQ(p.building->floors(), QList<Floor*>{p.floor});
    EXPECT_EQ(listTree(p.path()), (QStringList{"Ground/", "Ground/001/"}));
    EXPECT_EQ(listTree(outside.path()), (QStringList{"secret/", "secret/keep.txt"}));
}

TEST(FloorFileInput, ListedScansComeFirstUnlistedOnesFollowInFolderNameOrderAndUnusableOnesAreSkipped)
{
    GroundFloorProject p;
    writeFile(p.path("Field 7/t.pic"), "preview"); // a scan folder beside the floor folder: moved in
    for (const char* name : {"attic", "10 - Hall", "2 - Kitchen", "_Map", "-1", "back\\slash"})
        QDir().mkpath(p.path(QString("Ground/") + name));
    LogCapture log;
    p.floor->loadContents(QJsonObject{
        {"panos", QJsonArray{QJsonObject{{"dir", "Field 7"}, {"id", 12}, {"pos", QJsonArray{5.4, 6}}},
                             QJsonObject{{"dir", "Gone"}}, QJsonObject{{"dir", "attic"}}}},
        {"notes", QJsonArray{QJsonObject{{"text", "kept"}}}},
    });
    EXPECT_EQ(scanDirs(p.floor), (QStringList{"Field 7", "attic", "_Map", "-1", "001", "2 - Kitchen", "10 - Hall"}));
    EXPECT_EQ(p.floor->panos()[0]->storedId(), 12u) << "a moved folder's scan takes the layout entry as its record";
    EXPECT_EQ(p.floor->panos()[0]->pos(), QPointF(5.4, 6));
    EXPECT_TRUE(log.contains(QtWarningMsg, "Could not find scan folder: " + p.path("Ground/Gone")));
    EXPECT_TRUE(log.contains(QtWarningMsg, "Could not load scan: " + p.path("Ground/back\\slash")));
    EXPECT_EQ(noteCount(p.floor), 1);
}

// A damaged or hostile record may name any folder of the project for a scan. Only a scan folder
// lying loose in the project folder (as an export leaves them) is taken into the floor; another
// floor's folder, whether that floor is read before or after, and the reserved folders stay put.
TEST(FloorFileInput, OnlyLooseScanFoldersAreTakenIntoAFloorNeverAnotherFloorsOrAReservedFolder)
{
    ProjectFixture p;
    Building* house = p.addBuilding("House");
    Floor* basement = p.addFloor(house, "Basement");
    writeFile(p.path("Basement/notes.txt"), "a floor without scans yet");
    Floor* ground = p.addFloor(house, "Ground");
    writeFile(p.path("Upper/7/pano.dat"), "a floor folder the load finds on its own");
    writeFile(p.path("Upper/floor.json"), "{}");
    writeFile(p.path("Attic/floor.json"), "{}");
    writeFile(p.path("_Export/Job.tar"), "archive");
    writeFile(p.path("_Assets/t.pic"), "an asset, named like a scan file");
    writeFile(p.path("Kitchen#4/t.pic"), "an exported scan");
    QDir().mkpath(p.path("Empty"));
    const QStringList before = listTree(p.path());

    LogCapture log;
    QJsonArray panos;
    for (const char* dir : {"Basement", "Upper", "Attic", "_Export", "_Assets", "Empty", "Ground", "Kitchen#4"})
        panos.append(QJsonObject{{"dir", dir}});
    ground->loadContents(QJsonObject{{"panos", panos}});
    EXPECT_EQ(scanDirs(ground), QStringList{"Kitchen#4"});
    QStringList after = before;
    after.removeAll("Kitchen#4/");
    after.removeAll("Kitchen#4/t.pic");
    after << "Ground/Kitchen#4/" << "Ground/Kitchen#4/t.pic";
    std::sort(after.begin(), after.end());
    EXPECT_EQ(listTree(p.path()), after);
    const QStringList warnings = log.texts(QtWarningMsg);
    for (const char* dir : {"Basement", "Upper", "Attic", "_Export", "_Assets", "Empty", "Ground"})
        EXPECT_EQ(warnings.filter(p.path(dir)).size(), 1) << dir << ": " << warnings.join("\n").toStdString();
    EXPECT_EQ(basement->panos().size(), 0);
}

TEST(FloorFileInput, ValuesOfTheWrongTypeTakeTheirDefaultsAndBadFloorsLoseNothingElse)
{
    GroundFloorProject p;
    QDir().mkpath(p.path("Upper"));
    const QJsonObject bad{
        {"name", 7}, {"dir", "Ground"}, {"id", -4}, {"hidden", "yes"}, {"gradeHint", 300}, {"ceilingHeight", 2400.5},
        {"layout", QJsonObject{
            {"notes", QJsonArray{1, QJsonObject{{"pos", "q"}, {"text", 5}, {"rot", "r"}, {"id", 1.5}}}},
            {"labels", "not a list"},
            {"panos", QJsonObject{{"dir", "001"}}},
            {"tags", QJsonArray{1, QJsonObject{{"initialPanoId", "1"}}}},
            {"referenceLines", QJsonArray{1, QJsonObject{{"p1", QJsonArray{"a", 2}}, {"p2", QJsonArray{1, 2}}},
                                          QJsonObject{{"p1", QJsonArray{1, 2, 3}}, {"p2", QJsonArray{-4.5, 2}}}}},
        }},
    };
    const QJsonArray floors{bad, "garbage", QJsonObject{{"dir", "Ghost"}}, QJsonObject{{"name", "Upper"}, {"dir", "Upper"}}};
    Building* annex = Building::fromJson(QJsonObject{{"floors", floors}}, p.property.get());
    ASSERT_EQ(annex->floors().size(), 2);
    EXPECT_EQ(annex->floors()[1]->ownName(), "Upper");
    Floor* loaded = annex->floors()[0];
    EXPECT_TRUE(loaded->ownName().isEmpty() && loaded->storedId() == 0 && loaded->isShown());
    EXPECT_TRUE(loaded->gradeHint() == 0 && loaded->ceilingHeight() == 0);
    EXPECT_EQ(noteCount(loaded), 2) << "each element, taken as an object, is a note";
    EXPECT_EQ(loaded->referenceLinesToJson(loaded->items()),
              QJsonArray{QJsonObject({{"p1", QJsonArray{1, 2}}, {"p2", QJsonArray{-4.5, 2}}})});
    EXPECT_EQ(scanDirs(loaded), QStringList{"001"}) << "found only as an unlisted folder";
}

TEST(FloorFolderReader, FloorJsonPlacesTheFloorWithItsValuesOtherwiseWallTxtGivesTheWall)
{
    ProjectFixture f;
    Building* house = f.addBuilding("House");
    writeFile(f.path("Upper/floor.json"), R"({"building": "Annex", "gradeHint": 0, "extWallThickness": 250,
                                             "globalId": "F-9"})");
    writeFile(f.path("Upper/wall.txt"), "30");
    Floor* upper = loadFloorJson(f.path("Upper"), house);
    ASSERT_NE(upper, nullptr);
    EXPECT_EQ(upper->gradeHint(), 2) << "0 in floor.json means above grade";
    EXPECT_EQ(upper->extWallThickness(true), 250);
    EXPECT_EQ(upper->globalId(), "F-9");
    EXPECT_EQ(upper->building()->ownName(), "Annex");
    writeFile(f.path("Ground/wall.txt"), "15.55\n99");
    EXPECT_EQ(loadFloorJson(f.path("Ground"), house)->extWallThickness(true), 156) << "centimetres, rounded";

    // Truncated, empty or non-object: the defaults, and the floor stays where it is.
    for (const QByteArray& odd : {QByteArray(R"({"building": "Annex", "extWall)"), QByteArray("[1]"), QByteArray()}) {
        writeFile(f.path("Odd/floor.json"), odd);
        writeFile(f.path("Odd/wall.txt"), "30");
        Floor* kept = loadFloorJson(f.path("Odd"), house);
        ASSERT_NE(kept, nullptr);
        EXPECT_EQ(kept->extWallThickness(true), 0);
        EXPECT_EQ(kept->building(), house);
    }
}

// "floor.json" is read by the floor folder reader and, on pool threads, for the floor's transform:
// both hold it to the same cap, so a huge file costs neither of them its size in memory.
TEST(FloorFolderReader, AFloorFileOverItsCapIsReadByNeitherReader)
{
    ProjectFixture f;
    Building* house = f.addBuilding("House");
    const QByteArray record = R"({"extWallThickness": 250, "floorTransform": {"tx": 1000, "ty": -500, "angle": 0.5}})";
    constexpr qsizetype kCap = 1024 * 1024;
    for (const qsizetype size : {kCap, kCap + 1}) {
        const QString name = QString("Floor%1").arg(size);
        // JSON allows white space after the object: the same record, padded to the size.
        writeFile(f.path(name + "/floor.json"), record + QByteArray(size - record.size(), ' '));
        Floor* floor = loadFloorJson(f.path(name), house);
        ASSERT_NE(floor, nullptr);
        const FloorTransform transform = floor->readFloorTransform(f.path(name + "/floor.json"));
        const bool within = size <= kCap;
        EXPECT_EQ(floor->extWallThickness(true), within ? 250 : 0) << size;
        EXPECT_EQ(transform.tx, within ? 1000 : 0) << size;
        EXPECT_EQ(transform.ty, within ? -500 : 0) << size;
        EXPECT_EQ(transform.angle, within ? 0.5 : 0) << size;
    }
}
