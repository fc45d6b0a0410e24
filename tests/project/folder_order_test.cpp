#include "project/folder_order.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

TEST(CompareFolderNames, LowerCaseBeforeCapitalPrefixesFirstAndBytesUnsigned)
{
    // "é" is 0xC3 0xA9 in UTF-8: as signed bytes it would come before every ASCII letter.
    const QString etage = QString::fromUtf8("\xc3\xa9tage"), sz = QString::fromUtf8("\xc3\x9f");
    QStringList names{"b", "A", "a", "B", "ab", "aB", "Ab", "a", "scan1", "scan", "s9", "s10", "_Map", etage, sz, "~"};
    std::sort(names.begin(), names.end(), compareFolderNames);
    EXPECT_EQ(names, (QStringList{"_Map", "a", "a", "ab", "aB", "A", "Ab", "b", "B", "s10", "s9", "scan", "scan1", "~",
                                  sz, etage}));
    for (qsizetype i = 0; i + 1 < names.size(); ++i)
        EXPECT_FALSE(compareFolderNames(names[i + 1], names[i])) << "a strict order: " << names[i].toStdString();
    EXPECT_FALSE(compareFolderNames("scan", "scan"));
}

TEST(RawImportOrderKeys, FloorIndexFromSortedFloorsScanIndexFromSortedScansUpTo9999)
{
    QTemporaryDir root;
    QDir dir(root.path());
    for (const char* path : {"b/s2", "b/s1", "A/s2", "A/s1", "A/s1/inner", "other/x", "zz/first", "z"})
        ASSERT_TRUE(dir.mkpath(path));
    for (int i = 0; i < 10001; ++i) // one more scan than a floor's keys can number
        ASSERT_TRUE(dir.mkdir(QStringLiteral("z/s%1").arg(i, 5, 10, QLatin1Char('0'))));
    const OrderKeys keys = rawImportOrderKeys(root.path(), {"b", "A", "zz", "z"});
    EXPECT_EQ(keys.value({"A", "s1"}), 1);
    EXPECT_EQ(keys.value({"A", "s2"}), 2);
    EXPECT_EQ(keys.value({"b", "s1"}), 10001);
    EXPECT_EQ(keys.value({"b", "s2"}), 10002);
    EXPECT_EQ(keys.value({"z", "s09999"}), 30000);
    EXPECT_FALSE(keys.contains({"z", "s10000"})) << "the 10001st scan gets no key";
    EXPECT_EQ(keys.value({"zz", "first"}), 30001);
    EXPECT_EQ(keys.size(), 4 + 10000 + 1) << "only the new floors' own scan folders";
    QList<int> values = keys.values();
    std::sort(values.begin(), values.end());
    EXPECT_EQ(std::adjacent_find(values.begin(), values.end()), values.end()) << "no key is given twice";
}
