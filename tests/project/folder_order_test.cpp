#include "project/folder_order.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

QStringList sortedByFolderNames(QStringList names)
{
    std::sort(names.begin(), names.end(), compareFolderNames);
    return names;
}

void makeFolders(const QString& root, const QStringList& relative)
{
    for (const QString& path : relative)
        ASSERT_TRUE(QDir().mkpath(root + "/" + path));
}

} // namespace

TEST(CompareFolderNames, LowerCaseBeforeCapitalThenNextLetterAndPrefixesFirst)
{
    EXPECT_EQ(sortedByFolderNames({"b", "A", "a", "B", "ab", "aB", "Ab", "a"}),
              (QStringList{"a", "a", "ab", "aB", "A", "Ab", "b", "B"}))
        << "each letter ranks by (lower-case form, is capital); a prefix comes first";
    EXPECT_FALSE(compareFolderNames("scan", "scan")) << "equal names are not less";
    EXPECT_TRUE(compareFolderNames("scan", "scan1"));
    EXPECT_FALSE(compareFolderNames("scan1", "scan"));
    EXPECT_TRUE(compareFolderNames("s10", "s9")) << "byte by byte, not by number";
    EXPECT_TRUE(compareFolderNames("_Map", "a")) << "'_' (0x5f) sorts before the lower-case letters";
}

TEST(CompareFolderNames, NonAsciiBytesRankAsUnsignedAfterAscii)
{
    // "é" is 0xC3 0xA9 in UTF-8: as signed bytes it would come before every ASCII letter.
    EXPECT_TRUE(compareFolderNames("zimmer", QString::fromUtf8("\xc3\xa9tage")));
    EXPECT_FALSE(compareFolderNames(QString::fromUtf8("\xc3\xa9tage"), "zimmer"));
    const QStringList names{QString::fromUtf8("K\xc3\xbc""che"), "Kueche", "Kuche", QString::fromUtf8("\xc3\x9f"), "~"};
    const QStringList sorted = sortedByFolderNames(names);
    for (qsizetype i = 0; i + 1 < sorted.size(); ++i)
        EXPECT_FALSE(compareFolderNames(sorted[i + 1], sorted[i])) << "a strict order, also beyond ASCII";
    EXPECT_EQ(sorted.first(), "Kuche");
    EXPECT_EQ(sorted.last(), QString::fromUtf8("\xc3\x9f"));
}

TEST(RawImportOrderKeys, FloorIndexFromSortedFloorsScanIndexFromSortedScans)
{
    QTemporaryDir root;
    makeFolders(root.path(), {"b/s2", "b/s1", "A/s2", "A/s1", "A/s1/inner", "other/x"});
    const OrderKeys keys = rawImportOrderKeys(root.path(), {"b", "A"});
    EXPECT_EQ(keys.value({"A", "s1"}), 1);
    EXPECT_EQ(keys.value({"A", "s2"}), 2);
    EXPECT_EQ(keys.value({"b", "s1"}), 10001);
    EXPECT_EQ(keys.value({"b", "s2"}), 10002);
    EXPECT_EQ(keys.size(), 4) << "only the new floors' own scan folders";
}

TEST(RawImportOrderKeys, StopAtScanIndex9999SoFloorsNeverShareAKey)
{
    QTemporaryDir root;
    QStringList scans;
    for (int i = 0; i < 10001; ++i)
        scans << QStringLiteral("a/s%1").arg(i, 5, 10, QLatin1Char('0'));
    makeFolders(root.path(), scans + QStringList{"b/first"});
    const OrderKeys keys = rawImportOrderKeys(root.path(), {"a", "b"});
    EXPECT_EQ(keys.value({"a", "s09999"}), 10000);
    EXPECT_FALSE(keys.contains({"a", "s10000"})) << "the 10001st scan gets no key";
    EXPECT_EQ(keys.value({"b", "first"}), 10001);
    QList<int> values = keys.values();
    std::sort(values.begin(), values.end());
    EXPECT_EQ(std::adjacent_find(values.begin(), values.end()), values.end()) << "no key is given twice";
}
