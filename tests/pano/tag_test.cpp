#include "pano/panorama.h"
#include "support/model_fixture.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;

TEST(TagGeometry, PlanPointAndHeightGiveTheDirectionAndDistanceBack)
{
    const double cases[][3] = {{0.1, 0.3, 2500}, {0.75, 0.62, 4100.7}, {0.5, 0.5, 900}, {0.25, 0.99, 60000},
                               {0.6, 0.02, 12.5}};
    for (const auto& c : cases) {
        Tag tag;
        tag.u = c[0];
        tag.v = c[1];
        tag.d = c[2];
        Tag back;
        back.setFromPlanPosition(tag.itemPoint(), tag.height());
        EXPECT_NEAR(back.u, c[0], 1e-9);
        EXPECT_NEAR(back.v, c[1], 1e-6) << "the height is taken with d in single precision";
        EXPECT_NEAR(back.d, c[2], c[2] * 1e-12);
    }
    // Plan y points down: u = 0.25 lies along +y of the scan, at the camera's height when v = 0.5.
    Tag quarter;
    quarter.u = 0.25;
    quarter.v = 0.5;
    quarter.d = 1000;
    EXPECT_NEAR(quarter.itemPoint().x(), 0, 1e-9);
    EXPECT_NEAR(quarter.itemPoint().y(), 1000, 1e-9);
    EXPECT_NEAR(quarter.height(), Tag::kCameraHeight, 1e-9);
}

TEST(TagGeometry, HeightTakesTheDistanceInSinglePrecision)
{
    Tag tag;
    tag.v = 0.25; // 45 degrees up
    tag.d = 16777217; // 2^24 + 1 has no float of its own
    EXPECT_NEAR(tag.height(), Tag::kCameraHeight + 16777216, 0.01);
}

TEST(TagList, IdsAreIssuedBeforeATagIsStoredSoCopiesAgree)
{
    ProjectFixture f;
    Floor* floor = f.addFloor(f.addBuilding("House"), "Ground");
    Panorama* scan = f.addUserScan(floor, "001");
    Tag loaded;
    loaded.setIdRegistry(f.property.get());
    loaded.setUniqueId(5);
    scan->appendTag(loaded);
    scan->appendTag(Tag());
    ASSERT_EQ(scan->tags().size(), 2);
    EXPECT_EQ(scan->tags()[0].storedId(), 5u);
    EXPECT_EQ(scan->tags()[1].storedId(), 6u);
    Tag copy = scan->tags()[1];
    EXPECT_EQ(copy.uniqueId(), 6u) << "a copy never issues an id of its own";
    EXPECT_EQ(f.property->lastIds().value("tag"), 6);
}
