#include "project/folder_remover.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testsupport;

TEST(FolderRemover, RemovesOnlyPlainFoldersStrictlyInsideTheProject)
{
    QTemporaryDir outside;
    QTemporaryDir project;
    writeFile(outside.filePath("keep.txt"), "x");
    for (const char* file : {"quoril.qjs", "Ground/Hall/u.jpg", "Ground/Kitchen/u.jpg", "Attic/a.txt"})
        writeFile(project.filePath(file), "x");
    const QStringList before = listTree(project.path());

    const QList<QStringList> refused{{}, {""}, {"."}, {".."}, {"Ground", ".."}, {"Ground/Hall"}, {"Ground", ""},
                                     {"..", QFileInfo(outside.path()).fileName()}};
    for (const QStringList& components : refused) {
        EXPECT_FALSE(removeFolderInsideProject(project.path(), components)) << components.join('|').toStdString();
        EXPECT_EQ(listTree(project.path()), before);
    }
    EXPECT_FALSE(removeFolderInsideProject("", {"Ground"})) << "no project folder means nothing";
    EXPECT_FALSE(removeFolderInsideProject("relative/path", {"Ground"}));
    EXPECT_FALSE(removeFolderInsideProject(project.path(), {"quoril.qjs"})) << "files are not folders";
    EXPECT_EQ(listTree(outside.path()), QStringList{"keep.txt"});

    EXPECT_TRUE(removeFolderInsideProject(project.path(), {"Ground", "Hall"}));
    EXPECT_TRUE(removeFolderInsideProject(project.path(), {"Attic"}));
    EXPECT_TRUE(removeFolderInsideProject(project.path(), {"Missing"}));
    EXPECT_EQ(listTree(project.path()), (QStringList{"Ground/", "Ground/Kitchen/", "Ground/Kitchen/u.jpg", "quoril.qjs"}));
}

TEST(FolderRemover, ALinkIsRemovedWithoutFollowingIt)
{
    QTemporaryDir outside;
    QTemporaryDir project;
    writeFile(outside.filePath("precious.txt"), "x");
    ASSERT_TRUE(QFile::link(outside.path(), project.filePath("Linked")));
    EXPECT_TRUE(removeFolderInsideProject(project.path(), {"Linked"}));
    EXPECT_FALSE(QFileInfo::exists(project.filePath("Linked")));
    EXPECT_EQ(listTree(outside.path()), QStringList{"precious.txt"});
}
