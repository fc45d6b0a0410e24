#include "pano/panorama.h"
#include "project/floor_reader.h"
#include "project/wall_thickness.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

struct FolderFixture : ProjectFixture {
    Building* house = addBuilding("House");

    QString makeFloorFolder(const QString& name, const QByteArray& floorJson = {})
    {
        QDir().mkpath(path(name));
        if (!floorJson.isNull())
            writeFile(path(name + "/floor.json"), floorJson);
        return path(name);
    }
};

} // namespace

TEST(FloorFolderReader, FloorJsonPlacesTheFloorInItsBuildingWithItsValues)
{
    FolderFixture f;
    const QString folder = f.makeFloorFolder(
        "Upper", R"({"building": "Annex", "gradeHint": 0, "extWallThickness": 250, "globalId": "F-9"})");
    QDir().mkpath(folder + "/Scan B");
    QDir().mkpath(folder + "/Scan A");
    Floor* floor = loadFloorJson(folder, f.house);
    ASSERT_NE(floor, nullptr);
    EXPECT_EQ(floor->ownName(), "Upper");
    EXPECT_EQ(floor->dir(), "Upper");
    EXPECT_EQ(floor->storedId(), 0u);
    EXPECT_EQ(floor->gradeHint(), 2) << "0 in floor.json means above grade";
    EXPECT_EQ(floor->extWallThickness(true), 250);
    EXPECT_EQ(floor->globalId(), "F-9");
    EXPECT_EQ(floor->panos().size(), 2);
    Building* annex = f.property->buildings().last();
    EXPECT_EQ(annex->ownName(), "Annex");
    EXPECT_EQ(annex->floors(), QList<Floor*>{floor});
    EXPECT_TRUE(f.house->floors().isEmpty());

    Floor* second = loadFloorJson(f.makeFloorFolder("Basement", R"({"building": "Annex", "gradeHint": 1})"), f.house);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->building(), annex) << "an existing building of that name takes the floor";
    EXPECT_EQ(second->gradeHint(), 1);
    EXPECT_EQ(f.property->buildings().size(), 2);
}

TEST(FloorFolderReader, WallFileServesOnlyWhenThereIsNoFloorJson)
{
    FolderFixture f;
    const QString folder = f.makeFloorFolder("Ground");
    writeFile(folder + "/wall.txt", "21.5\n");
    Floor* floor = loadFloorJson(folder, f.house);
    ASSERT_NE(floor, nullptr);
    EXPECT_EQ(floor->extWallThickness(true), 215);
    EXPECT_EQ(floor->gradeHint(), 0);

    // A floor.json that does not hold a JSON object, or holds values of other types, leaves the
    // defaults and the floor where it is; its wall.txt goes unread.
    for (const QByteArray& odd : {QByteArray(R"({"building": "Annex", "extWall)"), QByteArray("[1, 2]"), QByteArray(""),
                                  QByteArray(R"({"building": 5, "gradeHint": "1", "extWallThickness": "300"})")}) {
        const QString other = f.makeFloorFolder("Odd", odd);
        writeFile(other + "/wall.txt", "30");
        Floor* kept = loadFloorJson(other, f.house);
        ASSERT_NE(kept, nullptr);
        EXPECT_EQ(kept->extWallThickness(true), 0);
        EXPECT_EQ(kept->building(), f.house);
    }
    EXPECT_EQ(f.property->buildings().size(), 1);
}

TEST(FloorFolderReader, OnlyFoldersDirectlyInsideTheProjectBecomeFloors)
{
    FolderFixture f;
    QTemporaryDir elsewhere;
    QDir().mkpath(elsewhere.filePath("Stray"));
    LogCapture log;
    EXPECT_EQ(loadFloorJson(f.path(), f.house), nullptr);
    EXPECT_EQ(loadFloorJson(f.makeFloorFolder("Ground") + "/..", f.house), nullptr);
    EXPECT_EQ(loadFloorJson(elsewhere.filePath("Stray"), f.house), nullptr);
    EXPECT_EQ(loadFloorJson(f.path("Missing"), f.house), nullptr);
    EXPECT_TRUE(f.house->floors().isEmpty());
    EXPECT_EQ(log.texts(QtWarningMsg).size(), 4);
}

TEST(WallThickness, FirstLineInCentimetresRoundedHalfAwayFromZero)
{
    QTemporaryDir dir;
    const auto thickness = [&](const QByteArray& content) {
        writeFile(dir.filePath("wall.txt"), content);
        return readWallThickness(dir.path());
    };
    EXPECT_EQ(thickness("15.5"), 155);
    EXPECT_EQ(thickness("15.55\n99"), 156);
    EXPECT_EQ(thickness("\n30"), 0) << "only the first line counts";
    EXPECT_EQ(thickness("  +22.04 cm"), 220);
    EXPECT_EQ(thickness("15,5"), 150) << "a comma is no decimal separator";
    EXPECT_EQ(thickness("1e300"), 0) << "a value beyond int is no thickness";
    // readLine's limit of 20 counts a terminating zero: 19 characters are read.
    EXPECT_EQ(thickness("0000000000000000001234"), 10);
    QFile::remove(dir.filePath("wall.txt"));
    EXPECT_EQ(readWallThickness(dir.path()), 0);
}

TEST(PropertyNewBuilding, TakesTheFirstFreeExactNameAndThrowsWhenNoneIsLeft)
{
    ProjectFixture f;
    f.addBuilding("New Building");
    f.addBuilding("New Building 1");
    f.addBuilding("new building 2");
    Building* made = f.property->addNewBuilding("New Building");
    EXPECT_EQ(made->ownName(), "New Building 2");
    EXPECT_EQ(f.property->buildings().last(), made);

    ProjectFixture full;
    full.addBuilding("B");
    for (int n = 1; n < 10000; ++n)
        full.addBuilding("B " + QString::number(n));
    EXPECT_EQ(thrownMessage([&] { full.property->addNewBuilding("B"); }), "Could not find a new name for building: B");
    EXPECT_EQ(full.property->buildings().size(), 10000);
}
