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

TEST(FloorNameOrder, TableRowsAreLowerCaseAndNoRowHidesALaterOne)
{
    // A row whose prefix starts with an earlier row's prefix could never match.
    for (size_t i = 0; i < floorNameOrderTable.size(); ++i) {
        const QString prefix = floorNameOrderTable[i].prefix;
        EXPECT_EQ(prefix, prefix.toLower());
        EXPECT_EQ(floorNameOrderFromTable(prefix), floorNameOrderTable[i].order) << prefix.toStdString();
    }
}

TEST(StartupConstants, ReservedFoldersAndDrawingResources)
{
    EXPECT_EQ(reservedFolderNames, (QStringList{"_Snapshots", "_Export", "_Upload", "_Assets"}));
    EXPECT_FALSE(reservedFolderNames.contains("_upload")); // compared with case
    EXPECT_EQ(referencePlanFont.family(), QString("Arial"));
    EXPECT_EQ(referencePlanFont.pointSize(), 118);
    EXPECT_EQ(sceneBounds, QRectF(-10000, -10000, 20000, 20000));
    EXPECT_EQ(selectedReferenceLinePen.color(), QColor(250, 214, 36, 150));
    for (const QPen& pen : {guideLinePen, referenceLinePen, selectedReferenceLinePen}) {
        EXPECT_TRUE(pen.isCosmetic());
        EXPECT_EQ(pen.style(), Qt::SolidLine);
        EXPECT_EQ(pen.capStyle(), Qt::SquareCap);
        EXPECT_EQ(pen.joinStyle(), Qt::BevelJoin);
    }
}
