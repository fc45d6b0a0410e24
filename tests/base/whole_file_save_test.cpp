#include "base/whole_file_save.h"
#include "support/file_size_limit.h"
#include "support/test_support.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testsupport;

TEST(WholeFileSave, ReplacesTheFileOrLeavesItAsItWas)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("system.cfg");
    writeFile(path, "old");
    const QByteArray small = pseudoRandomBytes(300, 1);
    ASSERT_TRUE(saveWholeFile(path, small));
    EXPECT_EQ(readFile(path), small);

    // Bytes that only fail on their way to the disk, after the writes were buffered.
    const QByteArray large = pseudoRandomBytes(6000, 2);
    QString reason;
    {
        FileSizeLimit limit(1024);
        ASSERT_TRUE(limit.active());
        EXPECT_FALSE(saveWholeFile(path, large, &reason));
    }
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_EQ(readFile(path), small);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"system.cfg"});

    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    writeFile(dir.filePath("folder/inside"), "kept");
    EXPECT_FALSE(saveWholeFile(dir.filePath("folder"), small, &reason));
    EXPECT_EQ(readFile(dir.filePath("folder/inside")), "kept");
    EXPECT_FALSE(saveWholeFile(dir.filePath("missing/file"), small));
    ASSERT_TRUE(saveWholeFile(dir.filePath("new"), QByteArray()));
    EXPECT_TRUE(QFile::exists(dir.filePath("new")));
}
