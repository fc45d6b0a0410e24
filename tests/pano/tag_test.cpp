#include "pano/panorama.h"
#include "support/model_fixture.h"

#include <gtest/gtest.h>

using namespace testsupport;

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
    Panorama* scan = f.addUserScan(f.addFloor(f.addBuilding("House"), "Ground"), "001");
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
