#include "base/synced_file.h"
#include "base/write_failure.h"
#include "support/test_support.h"

#include <QDir>
#include <QSaveFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace testsupport;

namespace {
QString systemText(int errorNumber)
{
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}
} // namespace

// A write cut short tells its cause like one refused outright: the disk is full (a private twin
// of /dev/full) or the file may not grow (a file-size limit, which cuts the write short first).
TEST(WriteFailure, EveryFailedWriteSaysWhyNeverUnknownError)
{
    QTemporaryDir dir;
    const QString full = dir.filePath("full");
    ASSERT_EQ(::mknod(QFile::encodeName(full).constData(), S_IFCHR | 0600, makedev(1, 7)), 0);
    const QByteArray data = pseudoRandomBytes(300000, 4);
    const QString prefix = "Could not write " + full + ": ";
    EXPECT_EQ(thrownMessage([&] {
                  SyncedFile file(full);
                  ASSERT_TRUE(file.open());
                  file.writeAndClose(data.left(100));
              }),
              prefix + systemText(ENOSPC));

    FileSizeLimit limit(100000);
    const QString big = dir.filePath("big");
    EXPECT_EQ(thrownMessage([&] {
                  SyncedFile file(big);
                  ASSERT_TRUE(file.open());
                  file.writeAndClose(data);
              }),
              "Could not write " + big + ": " + systemText(EFBIG));
    QFile plain(dir.filePath("plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    QString reason;
    EXPECT_FALSE(writeAll(plain, data.left(60000), reason) && writeAll(plain, data.left(60000), reason)
                 && flushAll(plain, reason));
    EXPECT_EQ(reason, systemText(EFBIG));
    QSaveFile saved(dir.filePath("saved"));
    ASSERT_TRUE(saved.open(QIODevice::WriteOnly));
    EXPECT_FALSE(writeAll(saved, data, reason));
    EXPECT_EQ(reason, systemText(EFBIG));
}

// A small write waits in the file's buffer and is cut short only when the commit flushes it; the
// commit must not then put the truncated file in the place of the old one.
TEST(WriteFailure, ACommitCutShortKeepsTheOldFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("record");
    writeFile(path, "previous");
    FileSizeLimit limit(100);
    QSaveFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QString reason;
    ASSERT_TRUE(writeAll(file, pseudoRandomBytes(1000, 2), reason)) << "still in the buffer";
    EXPECT_FALSE(commitAll(file, reason));
    EXPECT_EQ(reason, systemText(EFBIG));
    EXPECT_EQ(readFile(path), "previous");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"record"});
}
