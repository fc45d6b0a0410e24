#include "base/file_compare.h"
#include "support/test_support.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testsupport;

TEST(SameFileContent, OnlyTwoReadableFilesOfTheSameBytesAreTheSame)
{
    QTemporaryDir dir;
    const QString a = dir.filePath("a.pdf"), b = dir.filePath("b.pdf");
    // Larger than one read, differing only in the last byte of the second read.
    QByteArray bytes = pseudoRandomBytes((1 << 20) + 300, 7);
    writeFile(a, bytes);
    writeFile(b, bytes);
    EXPECT_TRUE(sameFileContent(a, b));
    bytes[bytes.size() - 1] = char(bytes[bytes.size() - 1] ^ 1);
    writeFile(b, bytes);
    EXPECT_FALSE(sameFileContent(a, b));
    writeFile(b, bytes.left(bytes.size() - 1));
    EXPECT_FALSE(sameFileContent(a, b)) << "shorter";

    writeFile(a, {});
    writeFile(b, {});
    EXPECT_TRUE(sameFileContent(a, b)) << "two empty files";
    EXPECT_FALSE(sameFileContent(a, dir.filePath("missing")));
    ASSERT_TRUE(QDir().mkpath(dir.filePath("folder")));
    EXPECT_FALSE(sameFileContent(dir.filePath("folder"), dir.filePath("folder")));
}
