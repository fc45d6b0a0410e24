#include "pano/panorama.h"
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

    const QJsonObject saved = house->toJson(false);
    EXPECT_EQ(saved.keys(), (QStringList{"alignmentBad", "floors", "id", "name"}));
    EXPECT_NE(house->storedId(), 0u) << "writing issues the id";
    EXPECT_EQ(saved["id"].toInteger(), house->storedId());
    EXPECT_EQ(saved["floors"].toArray().size(), 3);
    const QJsonArray exported = house->toJson(true)["floors"].toArray();
    ASSERT_EQ(exported.size(), 2);
    EXPECT_EQ(exported[1].toObject()["name"].toString(), "pictures lower case");

    Panorama* scan = f.addUserScan(house->floors()[0], "001");
    EXPECT_FALSE(house->toJson(false).contains("alignmentBad")) << "a scan of unknown alignment";
    scan->setAlignment(1);
    house->setExtWallThickness(320);
    const QJsonObject changed = house->toJson(false);
    EXPECT_EQ(changed["alignmentBad"].toBool(false), true);
    EXPECT_EQ(changed["actualExtWallThickness"].toInt(), 320);
}
