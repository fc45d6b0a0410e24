#include "base/folder_access.h"
#include "support/test_support.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testsupport;

// The check asks the file system whether a file could be made, which also covers what permission
// bits do not show (a read-only mount, an immutable folder that not even root may write).
TEST(FolderAccess, AnswersWhetherFilesCanBeMadeInAFolderAndTakesAProbeInstead)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("scans");
    QDir().mkpath(folder);
    writeFile(dir.filePath("file"), "x");
    EXPECT_TRUE(isWritableFolder(folder));
    EXPECT_FALSE(isWritableFolder(dir.filePath("file"))) << "a file is no folder";
    EXPECT_FALSE(isWritableFolder(dir.filePath("missing")));
    EXPECT_FALSE(isWritableFolder(QString()));
    if (runProcess("chattr", {"+i", folder}).exitCode == 0) {
        EXPECT_FALSE(isWritableFolder(folder)) << "immutable";
        runProcess("chattr", {"-i", folder});
    }

    const WritableFolderProbe previous = setWritableFolderProbe([&](const QString& path) { return path != folder; });
    EXPECT_FALSE(isWritableFolder(folder));
    EXPECT_TRUE(isWritableFolder(dir.filePath("missing")));
    EXPECT_TRUE(setWritableFolderProbe(previous) != nullptr);
    EXPECT_TRUE(isWritableFolder(folder));
}
