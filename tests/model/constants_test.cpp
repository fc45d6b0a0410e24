#include "model/constants.h"
#include <gtest/gtest.h>

TEST(FloorNameOrder, FirstMatchingPrefixOfTheLowerCasedName)
{
    const std::pair<const char*, std::optional<int>> cases[] = {
        {"Lower Level 2", 2000}, {"Lower basement", 2002}, {"10th floor", 12}, {"1st Floor", 3}, {"Main Floor", 2},
        {"ENTRY", 0}, {"Basement", 2001}, {"Common Areas west", 3000}, {"Rooftop bar", 500}, {"13th", 15},
        {"Garage", 2050}, {"Upper floor", std::nullopt}, {"14th floor", std::nullopt}, {" Main", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [name, order] : cases)
        EXPECT_EQ(floorNameOrderFromTable(QString::fromUtf8(name)), order) << name;
}
