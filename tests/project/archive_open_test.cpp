#include "project/archive_open.h"
#include "project/tar_reader.h"
#include "support/test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// An archive made by GNU tar from relative paths below root.
QString gnuTar(const QString& root, const QString& archiveName, const QStringList& members)
{
    const QString archive = root + "/" + archiveName;
    const ProcessResult result =
        runProcess("tar", QStringList{"--format=ustar", "-cf", archive, "-C", root} + members);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    return archive;
}

void makeExport(const QString& root, const QString& folder)
{
    QDir().mkpath(root + "/" + folder + "/Ground/001");
    writeFile(root + "/" + folder + "/quoril_exp.qjs", "x");
    writeFile(root + "/" + folder + "/Ground/001/t.pic", "y");
}

} // namespace

TEST(ArchiveProjectFolder, FirstProjectFileNamesOnePlainFolder)
{
    EXPECT_EQ(archiveProjectFolder({"Job/system.cfg", "Job/quoril_exp.qjs", "Other/draft.djs"}), "Job");
    EXPECT_EQ(archiveProjectFolder({"Job//draft.djs"}), "Job");
    const QString missing = thrownMessage([] { archiveProjectFolder({"Job/quoril.qjs", "Job/a.djs"}); });
    EXPECT_EQ(missing, "Could not locate draft/quoril export project files.");
    for (const QString& entry : {"quoril_exp.qjs", "./quoril_exp.qjs", "a/b/draft.djs", "../x/quoril_exp.qjs"})
        EXPECT_TRUE(thrownMessage([&] { archiveProjectFolder({entry}); }).contains("not inside one project folder"))
            << entry.toStdString();
}

TEST(ArchiveTargetName, PartBeforeTheMarkerWhenItIsAPlainName)
{
    EXPECT_EQ(archiveTargetName("Job-export-data.tar"), "Job");
    EXPECT_EQ(archiveTargetName(" Maple St -quoril-data.tar"), "Maple St");
    EXPECT_EQ(archiveTargetName("A-export-data.x-quoril-data.tar"), "A");
    EXPECT_EQ(archiveTargetName("-export-data.tar"), QString()) << "found at position 0";
    EXPECT_EQ(archiveTargetName("Job.quoril.tar"), QString());
    EXPECT_EQ(archiveTargetName("..-export-data.tar"), QString());
}

TEST(UnpackExportArchive, ExtractsBesideItselfAndRenamesAfterTheArchive)
{
    QTemporaryDir root;
    makeExport(root.path(), "job_export");
    const QString archive = gnuTar(root.path(), "Job-export-data.tar", {"job_export"});
    ASSERT_TRUE(QDir(root.path() + "/job_export").removeRecursively());

    const QString folder = unpackExportArchive(archive);
    EXPECT_EQ(folder, root.path() + "/Job");
    EXPECT_EQ(readFile(folder + "/Ground/001/t.pic"), "y");
    EXPECT_FALSE(QFileInfo::exists(root.path() + "/job_export"));
    EXPECT_TRUE(QFileInfo::exists(archive));
}

TEST(UnpackExportArchive, KeepsTheExtractedNameWhenTheTargetExists)
{
    QTemporaryDir root;
    makeExport(root.path(), "job_export");
    const QString archive = gnuTar(root.path(), "Job-export-data.tar", {"job_export"});
    ASSERT_TRUE(QDir(root.path() + "/job_export").removeRecursively());
    ASSERT_TRUE(QDir().mkdir(root.path() + "/Job")); // empty: a plain rename would replace it
    EXPECT_EQ(unpackExportArchive(archive), root.path() + "/job_export");
    EXPECT_TRUE(QDir(root.path() + "/Job").isEmpty());
}

TEST(UnpackExportArchive, ProjectFileAtTheTopNeverRenamesTheArchivesFolder)
{
    QTemporaryDir outer;
    const QString root = outer.path() + "/holder";
    QDir().mkpath(root);
    writeFile(root + "/quoril_exp.qjs", "x");
    const QString archive = gnuTar(root, "Job-export-data.tar", {"quoril_exp.qjs"});
    QFile::remove(root + "/quoril_exp.qjs");
    EXPECT_TRUE(thrownMessage([&] { unpackExportArchive(archive); }).contains("not inside one project folder"));
    EXPECT_TRUE(QFileInfo::exists(archive));
    EXPECT_FALSE(QFileInfo::exists(outer.path() + "/Job"));
}

TEST(ExtractTar, RefusesAHostileEntryBeforeWritingAnything)
{
    QTemporaryDir root;
    const QString archive = root.filePath("evil.tar");
    const QString script = QStringLiteral(
        "import io, sys, tarfile\n"
        "with tarfile.open(sys.argv[1], 'w', format=tarfile.USTAR_FORMAT) as t:\n"
        "    for name in ('Job/quoril_exp.qjs', 'Job/a.txt', sys.argv[2]):\n"
        "        info = tarfile.TarInfo(name); data = b'payload'; info.size = len(data)\n"
        "        t.addfile(info, io.BytesIO(data))\n");
    for (const QString& hostile : {QString("Job/../../escaped.txt"), root.filePath("absolute.txt")}) {
        QFile::remove(archive);
        const ProcessResult made = runProcess(systemPython(), {"-c", script, archive, hostile});
        ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
        EXPECT_TRUE(thrownMessage([&] { extractTar(archive); }).contains("Refusing to extract"));
        EXPECT_EQ(listTree(root.path()), QStringList{"evil.tar"}) << "nothing was written";
    }
}
