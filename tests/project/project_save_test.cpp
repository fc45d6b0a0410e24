#include "project/property.h"

#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/project_file_reader.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace testsupport;

namespace {

const QString kNoSpace = QStringLiteral("No space left on device");
const QString kSaveFailed =
    QStringLiteral("Could not save project. Ensure you have not renamed or moved house folder while it was opened in Quoril.");
const QString kRenameFailed = QStringLiteral("Could not rename temporary files into their final names.");
const QString kAutosaveFailed = QStringLiteral("Could not autosave project. Check free disk space and folder permissions.");

// Every version of the project carries its own name, so each file on disk says which one it holds.
class ProjectFiles : public ::testing::Test {
protected:
    Property& property() { return *fixture.property; }
    QString project() const { return fixture.path("quoril.qjs"); }
    QString backup() const { return fixture.path("~quoril.qjs"); }
    QString temporary() const { return fixture.path("~~quoril.qjs"); }

    // The name of the project a file holds; "" when it is not a whole project file.
    static QString version(const QString& path) { return readProjectFile(path)["name"].toString(); }

    void saveAs(const QString& name)
    {
        property().setName(name);
        ASSERT_TRUE(property().save());
    }
    void autosaveAs(const QString& name)
    {
        property().setName(name);
        autosave();
    }
    // What the timer's timeout runs.
    void autosave()
    {
        ASSERT_TRUE(QMetaObject::invokeMethod(&property(), "on_autoBackupTimer_timeout", Qt::DirectConnection));
    }

    // Lets timers run until the autosave copy appears (or five seconds pass).
    void waitForBackup() const
    {
        QElapsedTimer clock;
        clock.start();
        while (!QFile::exists(backup()) && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }

    // A private full-disk device in the file's place: every write to it fails for want of space.
    static void makeFullDevice(const QString& path)
    {
        ASSERT_EQ(::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0600, makedev(1, 7)), 0);
    }
    static bool isCharDevice(const QString& path)
    {
        struct stat info;
        return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISCHR(info.st_mode);
    }
    // A folder (not empty, so nothing mistakes it for a stale file) in the file's place.
    static void makeFolder(const QString& path)
    {
        ASSERT_TRUE(QDir().mkpath(path));
        writeFile(path + "/kept.txt", "kept");
    }
    static bool isFolder(const QString& path) { return QFileInfo(path).isDir() && QFile::exists(path + "/kept.txt"); }

    ProjectFixture fixture;
    LogCapture log;
};

} // namespace

// ---- The outcome table: files on disk after each way a save or an autosave ends -------------

TEST_F(ProjectFiles, SaveReplacesTheProjectFileAndDropsTheBackup)
{
    saveAs("v1");
    autosaveAs("v2");
    ASSERT_EQ(version(backup()), "v2");
    log.clear();

    saveAs("v3");
    EXPECT_EQ(version(project()), "v3");
    EXPECT_FALSE(QFile::exists(backup()));
    EXPECT_FALSE(QFile::exists(temporary()));
    EXPECT_EQ(log.texts(QtInfoMsg), QStringList{"Project saved."});
    EXPECT_TRUE(log.texts(QtWarningMsg).isEmpty());
    EXPECT_FALSE(property().isDirty());
    EXPECT_FALSE(property().autoBackupTimer()->isActive());
}

TEST_F(ProjectFiles, FirstSaveLeavesOnlyTheProjectFileEvenBesideAnOrphanedBackup)
{
    saveAs("v1");
    EXPECT_EQ(listTree(fixture.path()), QStringList{"quoril.qjs"});

    // A crash between the two renames of a save leaves the backup without a project file.
    ASSERT_TRUE(QFile::rename(project(), backup()));
    saveAs("v2");
    EXPECT_EQ(version(project()), "v2");
    EXPECT_EQ(listTree(fixture.path()), QStringList{"quoril.qjs"});
}

TEST_F(ProjectFiles, SaveWhoseTemporaryFileCannotBeOpenedChangesNothing)
{
    saveAs("v1");
    autosaveAs("v2");
    makeFolder(temporary());
    property().setName("v3");
    log.clear();

    EXPECT_FALSE(property().save());
    EXPECT_EQ(version(project()), "v1");
    EXPECT_EQ(version(backup()), "v2");
    EXPECT_TRUE(isFolder(temporary()));
    EXPECT_EQ(log.texts(QtWarningMsg), QStringList{kSaveFailed});
    EXPECT_TRUE(log.texts(QtInfoMsg).isEmpty()) << "an unopened file is no exception";
    EXPECT_TRUE(property().isDirty());
    EXPECT_TRUE(property().autoBackupTimer()->isActive());
}

TEST_F(ProjectFiles, ShortWriteIsAFailedSaveThatKeepsBothOldFiles)
{
    saveAs("v1");
    autosaveAs("v2");
    makeFullDevice(temporary());
    property().setName("v3");
    log.clear();

    EXPECT_FALSE(property().save());
    EXPECT_EQ(version(project()), "v1");
    EXPECT_EQ(version(backup()), "v2");
    EXPECT_TRUE(isCharDevice(temporary())) << "the temporary file is written in place, never replaced";
    const QStringList info = log.texts(QtInfoMsg);
    ASSERT_EQ(info.size(), 1);
    EXPECT_TRUE(info[0].startsWith("Could not save property: ")) << info[0].toStdString();
    EXPECT_TRUE(info[0].contains(kNoSpace)) << info[0].toStdString();
    EXPECT_EQ(log.texts(QtWarningMsg), QStringList{kSaveFailed});
    EXPECT_TRUE(property().isDirty());
    EXPECT_TRUE(property().autoBackupTimer()->isActive());
}

TEST_F(ProjectFiles, SaveThatCannotMoveTheProjectFileAsideKeepsIt)
{
    saveAs("v1");
    makeFolder(backup());
    property().setName("v2");
    log.clear();

    EXPECT_FALSE(property().save());
    EXPECT_EQ(version(project()), "v1");
    EXPECT_TRUE(isFolder(backup())) << "no backup file, the folder untouched";
    EXPECT_EQ(version(temporary()), "v2");
    EXPECT_EQ(log.texts(QtWarningMsg), QStringList{kRenameFailed});
    EXPECT_TRUE(property().isDirty());
}

TEST_F(ProjectFiles, SaveThatCannotPutTheNewFileInPlaceKeepsThePreviousVersionAsBackup)
{
    saveAs("v1");
    autosaveAs("v2");
    ASSERT_TRUE(QFile::remove(project()));
    makeFolder(project());
    property().setName("v3");
    log.clear();

    EXPECT_FALSE(property().save());
    EXPECT_TRUE(isFolder(project())) << "no project file, the folder untouched";
    EXPECT_EQ(version(backup()), "v2");
    EXPECT_EQ(version(temporary()), "v3");
    EXPECT_EQ(log.texts(QtWarningMsg), QStringList{kRenameFailed});
    EXPECT_TRUE(property().isDirty());
}

TEST_F(ProjectFiles, AutosaveWritesTheCopyBesideTheProjectFileAndLeavesTheStateAlone)
{
    saveAs("v1");
    property().setName("v2");
    log.clear();

    autosave();
    EXPECT_EQ(version(project()), "v1");
    EXPECT_EQ(version(backup()), "v2");
    EXPECT_FALSE(QFile::exists(temporary()));
    EXPECT_TRUE(log.entries().isEmpty());
    EXPECT_TRUE(property().isDirty()) << "an autosave does not make the project clean";

    // A newer copy replaces the older one.
    autosaveAs("v3");
    EXPECT_EQ(version(backup()), "v3");
    EXPECT_EQ(version(project()), "v1");
}

TEST_F(ProjectFiles, TimerRunsTheAutosaveOnceAndTheNextChangeStartsItAgain)
{
    saveAs("v1");
    property().setName("v2");
    auto* timer = const_cast<QTimer*>(property().autoBackupTimer());
    ASSERT_TRUE(timer->isActive());
    timer->start(1); // rather than five minutes
    waitForBackup();
    EXPECT_EQ(version(backup()), "v2");
    EXPECT_FALSE(timer->isActive()) << "the autosave does not restart its timer";
    EXPECT_TRUE(property().isDirty());

    property().setName("v3");
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), Property::kAutosaveDelayMs);
}

TEST_F(ProjectFiles, AutosaveThatCannotWriteKeepsTheOldCopy)
{
    saveAs("v1");
    autosaveAs("v2");
    makeFullDevice(temporary());
    property().setName("v3");
    log.clear();

    autosave();
    EXPECT_EQ(version(project()), "v1");
    EXPECT_EQ(version(backup()), "v2");
    EXPECT_TRUE(isCharDevice(temporary()));
    EXPECT_EQ(log.texts(QtWarningMsg), QStringList{kAutosaveFailed});
    EXPECT_TRUE(log.contains(QtInfoMsg, kNoSpace));
    EXPECT_TRUE(property().isDirty());
}

TEST_F(ProjectFiles, AutosaveThatCannotRenameLeavesTheNewCopyInTheTemporaryFile)
{
    saveAs("v1");
    makeFolder(backup());
    property().setName("v2");
    log.clear();

    autosave();
    EXPECT_EQ(version(project()), "v1");
    EXPECT_TRUE(isFolder(backup()));
    EXPECT_EQ(version(temporary()), "v2");
    EXPECT_EQ(log.texts(QtWarningMsg), QStringList{kAutosaveFailed});
}

// ---- Without a project folder, and at the end of a project ------------------------------------

TEST(ProjectFilesWithoutFolder, NeitherSaveNorAutosaveWritesAnything)
{
    // An empty folder would put every path at the file-system root, where root may write.
    const QStringList rootFiles = {"/~~quoril.qjs", "/~quoril.qjs", "/quoril.qjs"};
    for (const QString& file : rootFiles)
        ASSERT_FALSE(QFile::exists(file)) << "left over at the root: " << file.toStdString();
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

TEST_F(ProjectFiles, ClosingTheProjectRemovesOnlyTheAutosaveCopy)
{
    saveAs("v1");
    autosaveAs("v2");
    property().removeAutosave();
    EXPECT_FALSE(QFile::exists(backup()));
    EXPECT_EQ(version(project()), "v1");

    autosaveAs("v3");
    fixture.property.reset();
    EXPECT_EQ(listTree(fixture.path()), QStringList{"quoril.qjs"});
}

// ---- What the autosave waits for -----------------------------------------------------------------

TEST_F(ProjectFiles, AutosaveLetsQueuedWorkLandFirst)
{
    saveAs("v1");
    property().setName("v2");
    QTimer::singleShot(0, &property(), [this] { property().setName("posted"); });
    autosave();
    EXPECT_EQ(version(backup()), "posted");
}

TEST_F(ProjectFiles, AutosaveDuringAScanPassWaitsForItsEnd)
{
    saveAs("v1");
    property().setName("v2");
    {
        Property::ScanPassGuard outer(property());
        {
            Property::ScanPassGuard inner(property());
            autosave();
            EXPECT_FALSE(QFile::exists(backup())) << "pool threads are using the scan records";
        }
        QCoreApplication::processEvents();
        EXPECT_FALSE(QFile::exists(backup())) << "another pass still runs";
        EXPECT_TRUE(property().scanPassRunning());
    }
    EXPECT_FALSE(property().scanPassRunning());
    waitForBackup();
    EXPECT_EQ(version(backup()), "v2");
    EXPECT_FALSE(property().autoBackupTimer()->isActive());
}

TEST_F(ProjectFiles, AutosaveWaitsForAPassThatStartedWhileItLetEventsThrough)
{
    saveAs("v1");
    property().setName("v2");
    QTimer::singleShot(0, &property(), [this] { property().beginScanPass(); });
    autosave();
    EXPECT_FALSE(QFile::exists(backup()));
    property().endScanPass();
    waitForBackup();
    EXPECT_EQ(version(backup()), "v2");
}

TEST_F(ProjectFiles, AutosaveThatWaitedIsDroppedWhenTheProjectBecameClean)
{
    saveAs("v1");
    property().setName("v2");
    property().beginScanPass();
    autosave();
    property().setDirty(false);
    property().endScanPass();
    QCoreApplication::processEvents();
    EXPECT_FALSE(QFile::exists(backup()));
    EXPECT_FALSE(property().autoBackupTimer()->isActive());
}
