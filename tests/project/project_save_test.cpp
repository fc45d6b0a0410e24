#include "project/property.h"

#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/project_file_reader.h"
#include "support/test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace testsupport;

namespace {

const QString kSaveFailed =
    "Could not save project. Ensure you have not renamed or moved house folder while it was opened in Quoril.";
const QString kRenameFailed = "Could not rename temporary files into their final names.";
const QString kAutosaveFailed = "Could not autosave project. Check free disk space and folder permissions.";

// Every version of the project carries its own name, so each file on disk says which one it holds.
struct Files : ProjectFixture {
    LogCapture log;
    // 'P' the project file, 'B' its autosave copy and backup, 'T' the temporary file of both.
    QString file(char which) const { return path(which == 'P' ? "quoril.qjs" : which == 'B' ? "~quoril.qjs" : "~~quoril.qjs"); }
    // "-" absent, "dir" a folder, "dev" a device, else the name of the project it holds.
    QString state(char which) const
    {
        struct stat info;
        if (::lstat(QFile::encodeName(file(which)).constData(), &info) != 0)
            return "-";
        if (S_ISDIR(info.st_mode))
            return QFile::exists(file(which) + "/kept.txt") ? "dir" : "emptied dir";
        return S_ISCHR(info.st_mode) ? "dev" : readProjectFile(file(which))["name"].toString();
    }
    // A folder that is not empty, or a private full-disk device (every write fails for want of space).
    void obstruct(char which, char kind)
    {
        if (kind == 'd') {
            ASSERT_TRUE(QDir().mkpath(file(which)));
            writeFile(file(which) + "/kept.txt", "kept");
        } else {
            ASSERT_EQ(::mknod(QFile::encodeName(file(which)).constData(), S_IFCHR | 0600, makedev(1, 7)), 0);
        }
    }
    void saveAs(const QString& name)
    {
        property->setName(name);
        ASSERT_TRUE(property->save());
    }
    void autosaveAs(const QString& name)
    {
        property->setName(name);
        ASSERT_TRUE(QMetaObject::invokeMethod(property.get(), "on_autoBackupTimer_timeout", Qt::DirectConnection));
    }
};

} // namespace

TEST(SaveOutcome, FilesAndMessagesAfterEachWayASaveOrAnAutosaveEnds)
{
    struct Row {
        const char* outcome;
        bool autosavedBefore;
        char blocked, with; // the file that is in the way, and by what ('d' folder, 'f' full device)
        bool save;          // else autosave
        const char *p, *b, *t;
        QString warning;
        const char* info;
    };
    const Row rows[] = {
        {"save succeeds", true, 0, 0, true, "v3", "-", "-", "", "Project saved."},
        {"save: T cannot be opened", true, 'T', 'd', true, "v1", "v2", "dir", kSaveFailed, ""},
        {"save: short write", true, 'T', 'f', true, "v1", "v2", "dev", kSaveFailed, "Could not save property: "},
        {"save: P to B fails", false, 'B', 'd', true, "v1", "dir", "v3", kRenameFailed, ""},
        {"save: T to P fails", true, 'P', 'd', true, "dir", "v2", "v3", kRenameFailed, ""},
        {"autosave succeeds, replacing an older copy", true, 0, 0, false, "v1", "v3", "-", "", ""},
        {"autosave: writing fails", true, 'T', 'f', false, "v1", "v2", "dev", kAutosaveFailed, "Could not save property: "},
        {"autosave: T to B fails", false, 'B', 'd', false, "v1", "dir", "v3", kAutosaveFailed, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.outcome);
        Files files;
        files.saveAs("v1");
        if (row.autosavedBefore)
            files.autosaveAs("v2");
        if (row.blocked == 'P')
            ASSERT_TRUE(QFile::remove(files.file('P')));
        if (row.blocked)
            files.obstruct(row.blocked, row.with);
        files.log.clear();
        if (row.save) {
            files.property->setName("v3");
            EXPECT_EQ(files.property->save(), row.warning.isEmpty());
        } else {
            files.autosaveAs("v3");
        }
        EXPECT_EQ(files.state('P'), row.p);
        EXPECT_EQ(files.state('B'), row.b);
        EXPECT_EQ(files.state('T'), row.t);
        EXPECT_EQ(files.log.texts(QtWarningMsg), row.warning.isEmpty() ? QStringList{} : QStringList{row.warning});
        const QString info = files.log.texts(QtInfoMsg).join('|');
        EXPECT_TRUE(*row.info ? info.startsWith(row.info) : info.isEmpty()) << info.toStdString();
        if (row.with == 'f')
            EXPECT_TRUE(info.contains("No space left on device")) << info.toStdString();
        const bool clean = row.save && row.warning.isEmpty();
        EXPECT_EQ(files.property->isDirty(), !clean) << "only a successful save makes the project clean";
        EXPECT_EQ(files.property->autoBackupTimer()->isActive(), !clean);
    }
}

TEST(Save, BesideAnOrphanedBackupLeavesOnlyTheProjectFile)
{
    Files files;
    files.saveAs("v1");
    // A crash between the two renames of a save leaves the backup without a project file.
    ASSERT_TRUE(QFile::rename(files.file('P'), files.file('B')));
    files.saveAs("v2");
    EXPECT_EQ(files.state('P'), "v2");
    EXPECT_EQ(listTree(files.path()), QStringList{"quoril.qjs"});
}

TEST(Autosave, TimerRunsItOnceAndTheNextChangeStartsItAgain)
{
    Files files;
    files.saveAs("v1");
    files.property->setName("v2");
    auto* timer = const_cast<QTimer*>(files.property->autoBackupTimer());
    timer->start(1); // rather than five minutes
    EXPECT_TRUE(processEventsUntil([&] { return files.state('B') == "v2"; }));
    EXPECT_FALSE(timer->isActive()) << "the autosave does not restart its timer";
    files.property->setName("v3");
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), Property::kAutosaveDelayMs);
}

TEST(Autosave, ClosingTheProjectRemovesOnlyTheAutosaveCopy)
{
    Files files;
    files.saveAs("v1");
    files.autosaveAs("v2");
    files.property->removeAutosave();
    EXPECT_EQ(listTree(files.path()), QStringList{"quoril.qjs"});
    files.autosaveAs("v3");
    files.property.reset();
    EXPECT_EQ(listTree(files.path()), QStringList{"quoril.qjs"});
}

TEST(SaveWithoutFolder, NeitherSaveNorAutosaveWritesAtTheRoot)
{
    const QStringList rootFiles = {"/~~quoril.qjs", "/~quoril.qjs", "/quoril.qjs"};
    LogCapture log;
    Property property;
    property.setName("somewhere");
    EXPECT_FALSE(property.writeProjectFile());
    EXPECT_FALSE(property.save());
    EXPECT_EQ(log.texts(QtWarningMsg), QStringList{kSaveFailed});
    log.clear();
    ASSERT_TRUE(QMetaObject::invokeMethod(&property, "on_autoBackupTimer_timeout", Qt::DirectConnection));
    EXPECT_TRUE(log.entries().isEmpty());
    for (const QString& file : rootFiles)
        EXPECT_FALSE(QFile::exists(file)) << file.toStdString();
}

// Pool threads of a scan pass are rewriting the scan records the project file is made of.
TEST(Autosave, WaitsForEveryScanPassAndLetsQueuedWorkLandFirst)
{
    Files files;
    files.saveAs("v1");
    files.property->setName("v2");
    {
        Property::ScanPassGuard outer(*files.property);
        {
            Property::ScanPassGuard inner(*files.property);
            files.autosaveAs("v3");
        }
        processEventsFor(20);
        EXPECT_EQ(files.state('B'), "-") << "another pass still runs";
    }
    EXPECT_TRUE(processEventsUntil([&] { return files.state('B') == "v3"; }));
    EXPECT_FALSE(files.property->autoBackupTimer()->isActive());

    // A pass that starts while the autosave lets queued work run: the work lands, the write waits.
    QTimer::singleShot(0, files.property.get(), [&] {
        files.property->setName("posted");
        files.property->beginScanPass();
    });
    files.autosaveAs("v4");
    EXPECT_EQ(files.state('B'), "v3");
    files.property->endScanPass();
    EXPECT_TRUE(processEventsUntil([&] { return files.state('B') == "posted"; }));

    // A waiting autosave is dropped when a save makes the project clean before the pass ends.
    files.property->beginScanPass();
    files.autosaveAs("v5");
    files.saveAs("v5");
    files.property->endScanPass();
    processEventsFor(20);
    EXPECT_EQ(files.state('B'), "-");
    EXPECT_FALSE(files.property->autoBackupTimer()->isActive());
}
