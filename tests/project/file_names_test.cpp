#include "project/file_names.h"

#include "support/test_support.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

TEST(UniqueFileName, CounterGoesBeforeTheCompleteSuffix)
{
    QTemporaryDir dir;
    const auto path = [&](const QString& name) { return dir.filePath(name); };

    EXPECT_EQ(uniqueFileName(path("img.jpg")), path("img.jpg"));
    EXPECT_EQ(uniqueFileName(path("img.jpg"), true), path("img_001.jpg"));

    testsupport::writeFile(path("img.jpg"), "x");
    EXPECT_EQ(uniqueFileName(path("img.jpg")), path("img_001.jpg"));
    testsupport::writeFile(path("img_001.jpg"), "x");
    EXPECT_EQ(uniqueFileName(path("img.jpg")), path("img_002.jpg"));

    testsupport::writeFile(path("scan.tar.gz"), "x");
    EXPECT_EQ(uniqueFileName(path("scan.tar.gz")), path("scan_001.tar.gz"));

    ASSERT_TRUE(QDir(dir.path()).mkdir("folder")); // folders count as taken too
    EXPECT_EQ(uniqueFileName(path("folder")), path("folder_001"));

    // A "%" in the name must stay literal text.
    testsupport::writeFile(path("100%2 done.txt"), "x");
    EXPECT_EQ(uniqueFileName(path("100%2 done.txt")), path("100%2 done_001.txt"));

    // A dangling link is not free: writing through it would create its target.
    ASSERT_TRUE(QFile::link(path("missing-target"), path("link.txt")));
    EXPECT_EQ(uniqueFileName(path("link.txt")), path("link_001.txt"));
}

TEST(FileNameCleaning, SanitizeReplacesForbiddenCharactersOnly)
{
    const struct {
        QString in;
        QString out;
    } cases[] = {
        {"a/b:c", "a-b-c"},
        {"  x\\y?z\"w<v>u|t\ns  ", "x-y-z-w-v-u-t-s"},
        {"Küche 2. Stock (alt)", "Küche 2. Stock (alt)"},
        {"\t\n", "-"}, // the line feed becomes "-" before the trim
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sanitizeFileName(c.in), c.out) << c.in.toStdString();
}

TEST(FileNameCleaning, PortalSafeKeepsAsciiLettersDigitsAndFewMarks)
{
    const struct {
        QString in;
        QString out;
    } cases[] = {
        {" Main St. #5 (rear) ", "Main St_ #5 _rear_"},
        {"ÄÖÜ", "___"},
        {"   ", ""},
        {"a-b_c#d 9", "a-b_c#d 9"},
        {"x/y:z", "x-y-z"},
        {QString::fromUtf8("٣ floors"), "_ floors"},           // a non-ASCII digit is not \d
        {QString::fromUtf8("a\u00a0b"), "a_b"},                // nor is a no-break space \s
        {QString::fromUtf8("pic\U0001F600"), "pic_"},           // one code point, one "_"
        {"O'Neil, 1,5", "O_Neil_ 1_5"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(portalSafeName(c.in), c.out) << c.in.toStdString();
}

TEST(FileNameCleaning, PlainNameIsOneComponent)
{
    for (const QString& name : {QString("floor 1"), QString(".hidden"), QString("..."), QString("a..b")})
        EXPECT_TRUE(isPlainName(name)) << name.toStdString();
    const QString withNul = QString("a") + QChar(0) + "b";
    for (const QString& name : {QString(), QString("."), QString(".."), QString("a/b"), QString("/abs"),
                                QString("..\\up"), QString("dir/"), withNul})
        EXPECT_FALSE(isPlainName(name)) << name.toStdString();
}
