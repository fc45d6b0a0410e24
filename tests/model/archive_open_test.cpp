#include "model/archive_open.h"
#include "support/test_support.h"
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testsupport;

// How an archive's right name reaches the folder it unpacks to is shown by the project load tests
// (ProjectLoad.ExportArchiveLoadsIntoTheFolderItsNameAsksFor); hostile entries by TarReaderTest.
TEST(ArchiveOpen, ProjectFolderAndTargetNameMustBePlainNames)
{
    EXPECT_EQ(archiveProjectFolder({"Job/system.cfg", "Job/quoril_exp.qjs", "Other/draft.djs"}), "Job");
    EXPECT_EQ(archiveProjectFolder({"Job//draft.djs"}), "Job");
    EXPECT_EQ(thrownMessage([] { archiveProjectFolder({"Job/quoril.qjs", "Job/a.djs"}); }),
              "Could not locate draft/quoril export project files.");
    for (const QString entry : {"quoril_exp.qjs", "./quoril_exp.qjs", "a/b/draft.djs", "../x/quoril_exp.qjs"})
        EXPECT_TRUE(thrownMessage([&] { archiveProjectFolder({entry}); }).contains("not inside one project folder"))
            << entry.toStdString();

    const std::pair<QString, QString> targets[] = {
        {"Job-export-data.tar", "Job"}, {" Maple St -quoril-data.tar", "Maple St"},
        {"A-export-data.x-quoril-data.tar", "A"}, {"-export-data.tar", ""}, {"..-export-data.tar", ""}};
    for (const auto& [file, folder] : targets)
        EXPECT_EQ(archiveTargetName(file), folder) << file.toStdString();
}

TEST(ArchiveOpen, NeitherAnExistingFolderNorTheArchivesOwnFolderIsReplaced)
{
    QTemporaryDir root;
    writeFile(root.filePath("job_export/quoril_exp.qjs"), "x");
    const QString archive = root.filePath("Job-export-data.tar");
    ASSERT_EQ(runProcess("tar", {"--format=ustar", "-cf", archive, "-C", root.path(), "job_export"}).exitCode, 0);
    ASSERT_TRUE(QDir(root.filePath("job_export")).removeRecursively());
    ASSERT_TRUE(QDir().mkdir(root.filePath("Job"))); // empty: a plain rename would replace it
    EXPECT_EQ(unpackExportArchive(archive), root.filePath("job_export"));
    EXPECT_TRUE(QDir(root.filePath("Job")).isEmpty());

    const QString holder = root.filePath("holder");
    writeFile(holder + "/quoril_exp.qjs", "x");
    const QString topLevel = holder + "/Top-export-data.tar";
    ASSERT_EQ(runProcess("tar", {"--format=ustar", "-cf", topLevel, "-C", holder, "quoril_exp.qjs"}).exitCode, 0);
    QFile::remove(holder + "/quoril_exp.qjs");
    EXPECT_TRUE(thrownMessage([&] { unpackExportArchive(topLevel); }).contains("not inside one project folder"));
    EXPECT_TRUE(QFileInfo::exists(topLevel));
    EXPECT_FALSE(QFileInfo::exists(root.filePath("Top")));
}
