#include "base/file_names.h"
#include "support/test_support.h"
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

TEST(UniqueFileName, CounterGoesBeforeTheCompleteSuffixAndSkipsWhatIsTaken)
{
    QTemporaryDir dir;
    const auto path = [&](const QString& name) { return dir.filePath(name); };
    EXPECT_EQ(uniqueFileName(path("img.jpg")), path("img.jpg"));
    EXPECT_EQ(uniqueFileName(path("img.jpg"), true), path("img_001.jpg"));
    for (const char* taken : {"img.jpg", "img_001.jpg", "scan.tar.gz", "100%2 done.txt"})
        testsupport::writeFile(path(taken), "x");
    EXPECT_EQ(uniqueFileName(path("img.jpg")), path("img_002.jpg"));
    EXPECT_EQ(uniqueFileName(path("scan.tar.gz")), path("scan_001.tar.gz"));
    EXPECT_EQ(uniqueFileName(path("100%2 done.txt")), path("100%2 done_001.txt"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    EXPECT_EQ(uniqueFileName(path("folder")), path("folder_001"));
    // A dangling link is not free: writing through it would create its target.
    ASSERT_TRUE(QFile::link(path("missing-target"), path("link.txt")));
    EXPECT_EQ(uniqueFileName(path("link.txt")), path("link_001.txt"));
}

TEST(FileNameCleaning, SanitizedPortalSafeAndPlainNames)
{
    const std::pair<QString, QString> sanitized[] = {
        {"a/b:c", "a-b-c"}, {"  x\\y?z\"w<v>u|t\ns  ", "x-y-z-w-v-u-t-s"},
        {"Küche 2. Stock (alt)", "Küche 2. Stock (alt)"}, {"\t\n", "-"}, // the line feed becomes "-" before the trim
    };
    for (const auto& [in, out] : sanitized)
        EXPECT_EQ(sanitizeFileName(in), out) << in.toStdString();
    const std::pair<QString, QString> portal[] = {
        {" Main St. #5 (rear) ", "Main St_ #5 _rear_"}, {"ÄÖÜ", "___"}, {"a-b_c#d 9", "a-b_c#d 9"},
        {"x/y:z", "x-y-z"}, {"٣ floors", "_ floors"}, // a non-ASCII digit is not \d
        {"a\u00a0b", "a_b"},                          // nor is a no-break space \s
        {"pic\U0001F600", "pic_"},                    // one code point, one "_"
    };
    for (const auto& [in, out] : portal)
        EXPECT_EQ(portalSafeName(in), out) << in.toStdString();
    for (const QString name : {"floor 1", ".hidden", "...", "a..b"})
        EXPECT_TRUE(isPlainName(name)) << name.toStdString();
    for (const QString& name : {QString(), QString("."), QString(".."), QString("a/b"), QString("/abs"),
                               QString("..\\up"), QString("dir/"), QString("a") + QChar(0) + "b"})
        EXPECT_FALSE(isPlainName(name)) << name.toStdString();
}
