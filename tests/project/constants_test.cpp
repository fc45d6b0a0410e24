#include "project/constants.h"

#include <gtest/gtest.h>

TEST(FloorNameOrder, FirstMatchingPrefixOfTheLowerCasedName)
{
    const struct {
        const char* name;
        std::optional<int> order;
    } cases[] = {
        {"Lower Level 2", 2000},  {"Lower basement", 2002}, {"Lower floor", 2000}, {"10th floor", 12},
        {"1st Floor", 3},         {"Main Floor", 2},        {"ENTRY", 0},          {"Basement", 2001},
        {"Common Areas west", 3000}, {"Rooftop bar", 500},  {"Terrace", 501},      {"13th", 15},
        {"Attic", 100},           {"Loft", 50},             {"Garage", 2050},      {"Outside", 2100},
        {"Upper floor", std::nullopt}, {"14th floor", std::nullopt}, {" Main", std::nullopt},
        {"Pictures", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(floorNameOrderFromTable(QString::fromUtf8(c.name)), c.order) << c.name;
}
