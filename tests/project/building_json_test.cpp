#include "pano/panorama.h"
#include "support/json_compare.h"
#include "support/model_fixture.h"

#include <QJsonArray>

#include <gtest/gtest.h>

using namespace testsupport;

TEST(BuildingRecord, ExportLeavesOutPicturesFloorsAndOptionalKeysFollowTheirValues)
{
    ProjectFixture f;
    Building* house = f.addBuilding("House");
    f.addFloor(house, "Ground");
    f.addFloor(house, "Pictures 1");
    f.addFloor(house, "pictures lower case");

    QJsonObject saved = house->toJson(false);
    EXPECT_EQ(saved.keys(), (QStringList{"alignmentBad", "floors", "id", "name"}));
    EXPECT_EQ(saved["name"].toString(), "House");
    EXPECT_EQ(saved["id"].toInteger(), house->storedId());
    EXPECT_NE(house->storedId(), 0u) << "writing issues the id";
    EXPECT_EQ(saved["floors"].toArray().size(), 3);
    const QJsonArray exported = house->toJson(true)["floors"].toArray();
    ASSERT_EQ(exported.size(), 2);
    EXPECT_EQ(exported[0].toObject()["name"].toString(), "Ground");
    EXPECT_EQ(exported[1].toObject()["name"].toString(), "pictures lower case");

    Panorama* scan = f.addUserScan(house->floors()[0], "001");
    EXPECT_FALSE(house->toJson(false).contains("alignmentBad")) << "a scan of unknown alignment";
    scan->setAlignment(1);
    EXPECT_EQ(house->toJson(false)["alignmentBad"].toBool(false), true);
    house->setExtWallThickness(320);
    EXPECT_EQ(house->toJson(false)["actualExtWallThickness"].toInt(), 320);
}

TEST(BuildingRecord, ReadsBackIntoAFreshPropertyAsTheSameRecord)
{
    ProjectFixture f;
    Building* house = f.addBuilding("House");
    house->setExtWallThickness(280);
    f.addFloor(house, "Ground");
    f.addFloor(house, "Upper");
    const QJsonObject saved = house->toJson(false);

    Property fresh;
    fresh.setFolder(f.path());
    Building* loaded = Building::fromJson(saved, &fresh);
    EXPECT_TRUE(jsonNear(saved, loaded->toJson(false)));
    EXPECT_EQ(loaded->extWallThickness(), 280);
    EXPECT_EQ(fresh.buildings(), QList<Building*>{loaded});

    // Ids read are registered: the next building id is above the loaded one.
    EXPECT_GT((new Building(&fresh))->uniqueId(), loaded->storedId());
}
