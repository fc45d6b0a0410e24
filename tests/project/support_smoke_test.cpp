#include "support/test_support.h"

#include <gtest/gtest.h>

TEST(TestSupport, ListTreeMarksFoldersAndSortsEntries)
{
    QTemporaryDir dir;
    testsupport::writeFile(dir.filePath("b/x.txt"), "x");
    testsupport::writeFile(dir.filePath("a.txt"), "a");
    EXPECT_EQ(testsupport::listTree(dir.path()), (QStringList{"a.txt", "b/", "b/x.txt"}));
}
