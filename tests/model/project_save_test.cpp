#include "model/property.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/project_file_reader.h"
#include "support/test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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
    QString file(char which) const
    {
        return path(which == 'P' ? "quoril.qjs" : which == 'B' ? "~quoril.qjs" : "~~quoril.qjs");
    }
    // "-" absent, "dir" a folder, "dev" a device, else the name of the project it holds.
    QString state(char which) const
    {
        const QFileInfo info(file(which));
        if (!info.exists() || info.isDir())
            return info.isDir() ? "dir" : "-";
        return info.isFile() ? readProjectFile(file(which))["name"].toString() : "dev";
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

const char* const kLoopFolderVariable = "QUORIL_TEST_SAVE_LOOP_FOLDER";

// The child's side: saves and autosaves in turn until it is killed. A project of a few hundred
// kilobytes keeps each write long enough for kills to land inside it.
[[noreturn]] void saveInALoop(const QString& folder)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    Property property;
    property.setFolder(folder);
    property.setPortalData(QJsonObject{{"padding", QString(100000, QLatin1Char('p'))}});
    for (int round = 0; round < 100000; ++round) {
        property.setName(QStringLiteral("round %1").arg(round));
        if (round % 2 == 0)
            property.save();
        else
            QMetaObject::invokeMethod(&property, "on_autoBackupTimer_timeout", Qt::DirectConnection);
        if (round == 0) {
            std::puts("saved");
            std::fflush(stdout);
        }
    }
    ::_exit(0);
}

bool isWholeProject(const QString& path)
{
    const QJsonObject project = readProjectFile(path);
    return project["formatVersion"].toInt() == 52 && project["name"].toString().startsWith("round ");
}

// One project folder: starts a saving child, kills it (SIGKILL) at a random moment after its
// first save, checks the folder, and again. Returns what went wrong.
QStringList killRepeatedly(int kills, unsigned seed)
{
    QTemporaryDir dir;
    std::mt19937 random(seed);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(kLoopFolderVariable, dir.path());
    for (int i = 0; i < kills; ++i) {
        QProcess child;
        child.setProcessEnvironment(environment);
        child.setStandardErrorFile(QProcess::nullDevice());
        child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=ProjectFileCrash.*"});
        bool saved = false; // the test program prints its own lines first
        while (!saved && child.waitForReadyRead(20000))
            while (child.canReadLine())
                saved = saved || child.readLine() == "saved\n";
        ::usleep(random() % 15000);
        child.kill();
        child.waitForFinished(10000);
        if (!saved)
            return {QStringLiteral("child %1 did not save").arg(i)};
        if (!isWholeProject(dir.filePath("quoril.qjs")) && !isWholeProject(dir.filePath("~quoril.qjs")))
            return {QStringLiteral("kill %1 left: %2").arg(i).arg(listTree(dir.path()).join(", "))};
    }
    return {};
}

} // namespace

TEST(SaveOutcome, FilesAndMessagesAfterEachWayASaveOrAnAutosaveEnds)
{
    struct Row {
        const char* outcome;
        char blocked, with; // the file in the way: 'd' a folder, 'f' a private full-disk device, 0 none
        bool save;          // else autosave
        const char *p, *b, *t;
        QString warning;
        const char* info;
    };
    const Row rows[] = {
        {"save succeeds", 0, 0, true, "v3", "-", "-", "", "Project saved."},
        {"save after a crash between its renames", 'P', 0, true, "v3", "-", "-", "", "Project saved."},
        {"save: T cannot be opened", 'T', 'd', true, "v1", "v2", "dir", kSaveFailed, ""},
        {"save: short write", 'T', 'f', true, "v1", "v2", "dev", kSaveFailed, "Could not save property: "},
        {"save: P to B fails", 'B', 'd', true, "v1", "dir", "v3", kRenameFailed, ""},
        {"save: T to P fails", 'P', 'd', true, "dir", "v2", "v3", kRenameFailed, ""},
        {"autosave succeeds, replacing an older copy", 0, 0, false, "v1", "v3", "-", "", ""},
        {"autosave: writing fails", 'T', 'f', false, "v1", "v2", "dev", kAutosaveFailed, "Could not save property: "},
        {"autosave: T to B fails", 'B', 'd', false, "v1", "dir", "v3", kAutosaveFailed, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.outcome);
        Files files;
        files.saveAs("v1");
        files.autosaveAs("v2");
        const QString blocked = files.file(row.blocked);
        if (row.blocked == 'P' || row.blocked == 'B')
            QFile::remove(blocked);
        const bool madeObstacle = row.with == 'd' ? QDir().mkpath(blocked + "/not empty")
            : row.with == 'f' ? ::mknod(QFile::encodeName(blocked).constData(), S_IFCHR | 0600, makedev(1, 7)) == 0
                              : !QFile::exists(blocked);
        ASSERT_TRUE(madeObstacle);
        files.log.clear();
        if (row.save) {
            files.property->setName("v3");
            EXPECT_EQ(files.property->save(), row.warning.isEmpty());
        } else {
            files.autosaveAs("v3");
        }
        EXPECT_EQ(files.state('P') + " " + files.state('B') + " " + files.state('T'),
                  QString(row.p) + " " + row.b + " " + row.t);
        EXPECT_EQ(files.log.texts(QtWarningMsg), row.warning.isEmpty() ? QStringList{} : QStringList{row.warning});
        const QString info = files.log.texts(QtInfoMsg).join('|');
        EXPECT_TRUE(*row.info ? info.startsWith(row.info) : info.isEmpty()) << info.toStdString();
        EXPECT_EQ(info.contains("No space left on device"), row.with == 'f') << info.toStdString();
        const bool clean = row.save && row.warning.isEmpty();
        EXPECT_EQ(files.property->isDirty(), !clean) << "only a successful save makes the project clean";
        EXPECT_EQ(files.property->autoBackupTimer()->isActive(), !clean);
    }
}

TEST(Autosave, TimerRunsItOnceTheNextChangeStartsItAgainAndClosingRemovesTheCopy)
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
    files.property.reset();
    EXPECT_EQ(listTree(files.path()), QStringList{"quoril.qjs"});
}

TEST(Autosave, NeitherSaveNorAutosaveWritesWithoutAProjectFolder)
{
    LogCapture log;
    Property property; // no folder: every path would be at the file-system root
    property.setName("somewhere");
    EXPECT_FALSE(property.writeProjectFile());
    EXPECT_FALSE(property.save());
    EXPECT_EQ(log.texts(QtWarningMsg), QStringList{kSaveFailed});
    log.clear();
    ASSERT_TRUE(QMetaObject::invokeMethod(&property, "on_autoBackupTimer_timeout", Qt::DirectConnection));
    EXPECT_TRUE(log.entries().isEmpty());
    for (const char* file : {"/~~quoril.qjs", "/~quoril.qjs", "/quoril.qjs"})
        EXPECT_FALSE(QFile::exists(file)) << file;
}

// Pool threads of a scan pass are rewriting the scan records the project file is made of.
TEST(Autosave, WaitsForEveryScanPassAndLetsQueuedWorkLandFirst)
{
    Files files;
    files.saveAs("v1");
    {
        Property::ScanPassGuard outer(*files.property);
        {
            Property::ScanPassGuard inner(*files.property);
            files.autosaveAs("v2");
        }
        processEventsFor(20);
        EXPECT_EQ(files.state('B'), "-") << "another pass still runs";
    }
    EXPECT_TRUE(processEventsUntil([&] { return files.state('B') == "v2"; }));
    EXPECT_FALSE(files.property->autoBackupTimer()->isActive());

    // A pass that starts while the autosave lets queued work run: the work lands, the write waits.
    QTimer::singleShot(0, files.property.get(), [&] {
        files.property->setName("posted");
        files.property->beginScanPass();
    });
    files.autosaveAs("v3");
    EXPECT_EQ(files.state('B'), "v2");
    files.property->endScanPass();
    EXPECT_TRUE(processEventsUntil([&] { return files.state('B') == "posted"; }));

    // A waiting autosave is dropped when a save makes the project clean before the pass ends.
    files.property->beginScanPass();
    files.autosaveAs("v4");
    files.saveAs("v4");
    files.property->endScanPass();
    processEventsFor(20);
    EXPECT_EQ(files.state('B'), "-");
    EXPECT_FALSE(files.property->autoBackupTimer()->isActive());
}

TEST(ProjectFileCrash, KilledWhileSavingLeavesAWholeProject)
{
    if (qEnvironmentVariableIsSet(kLoopFolderVariable))
        saveInALoop(qEnvironmentVariable(kLoopFolderVariable));
    // 4 x 75 kills; QThreads, not plain threads: a QProcess needs its thread's event dispatcher.
    std::vector<QStringList> failures(4);
    std::vector<std::unique_ptr<QThread>> threads;
    for (unsigned w = 0; w < failures.size(); ++w) {
        threads.emplace_back(QThread::create([&failures, w] { failures[w] = killRepeatedly(75, 1234u + w); }));
        threads.back()->start();
    }
    for (auto& thread : threads)
        thread->wait();
    for (const QStringList& worker : failures)
        EXPECT_TRUE(worker.isEmpty()) << worker.join("\n").toStdString();
}
