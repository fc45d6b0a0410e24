#include "project/property.h"

#include "support/project_file_reader.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <random>
#include <memory>
#include <vector>

#include <sys/prctl.h>
#include <unistd.h>

using namespace testsupport;

namespace {

const char* const kLoopFolderVariable = "QUORIL_TEST_SAVE_LOOP_FOLDER";
const char* const kTestName = "ProjectFileCrash.KilledWhileSavingLeavesAWholeProject";

// The child's side: saves and autosaves in turn until it is killed. A project of a few hundred
// kilobytes keeps each write long enough for kills to land inside it.
[[noreturn]] void saveInALoop(const QString& folder)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    Property property;
    property.setFolder(folder);
    property.setPortalData(QJsonObject{{"padding", QString(100000, QLatin1Char('p'))}});
    bool announced = false;
    QElapsedTimer lifetime;
    lifetime.start();
    for (qint64 round = 0; lifetime.elapsed() < 60000; ++round) {
        property.setName(QStringLiteral("round %1").arg(round));
        if (round % 2 == 0)
            property.save();
        else
            QMetaObject::invokeMethod(&property, "on_autoBackupTimer_timeout", Qt::DirectConnection);
        if (!announced) {
            std::fputs("saved\n", stdout);
            std::fflush(stdout);
            announced = true;
        }
    }
    ::_exit(0);
}

bool isWholeProject(const QString& path)
{
    const QJsonObject project = readProjectFile(path);
    return project["formatVersion"].toInt() == 52 && project["name"].toString().startsWith("round ");
}

// The test program prints its own lines first.
bool waitForLine(QProcess& process, const QByteArray& line)
{
    while (process.waitForReadyRead(20000)) {
        while (process.canReadLine())
            if (process.readLine().trimmed() == line)
                return true;
    }
    return false;
}

struct WorkerResult {
    int kills = 0;
    int onlyBackup = 0;
    QStringList failures;
};

// One project folder: starts a saving child, kills it at a random moment after its first save,
// checks the folder, and again.
void killRepeatedly(int kills, unsigned seed, WorkerResult& result)
{
    QTemporaryDir dir;
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayUs(0, 15000);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(kLoopFolderVariable, dir.path());
    for (int i = 0; i < kills; ++i) {
        QProcess child;
        child.setProcessEnvironment(environment);
        child.setStandardErrorFile(QProcess::nullDevice());
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=") + kTestName});
        if (!child.waitForStarted(10000) || !waitForLine(child, "saved")) {
            result.failures << QStringLiteral("child %1 did not save").arg(i);
            child.kill();
            child.waitForFinished();
            return;
        }
        ::usleep(static_cast<useconds_t>(delayUs(random)));
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        child.waitForFinished(10000);
        ++result.kills;
        const bool project = isWholeProject(dir.filePath("quoril.qjs"));
        const bool backup = isWholeProject(dir.filePath("~quoril.qjs"));
        if (!project && backup)
            ++result.onlyBackup;
        if (!project && !backup)
            result.failures << QStringLiteral("kill %1 left: %2").arg(i).arg(listTree(dir.path()).join(", "));
    }
}

} // namespace

TEST(ProjectFileCrash, KilledWhileSavingLeavesAWholeProject)
{
    const QString loopFolder = qEnvironmentVariable(kLoopFolderVariable);
    if (!loopFolder.isEmpty())
        saveInALoop(loopFolder);

    constexpr int workers = 4;
    constexpr int killsPerWorker = 75;
    std::vector<WorkerResult> results(workers);
    // QThreads, not plain threads: a QProcess needs its thread's event dispatcher.
    std::vector<std::unique_ptr<QThread>> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back(QThread::create(killRepeatedly, killsPerWorker, 1234u + unsigned(w), std::ref(results[w])));
        threads.back()->start();
    }
    for (auto& thread : threads)
        thread->wait();

    int kills = 0;
    int onlyBackup = 0;
    for (const WorkerResult& result : results) {
        kills += result.kills;
        onlyBackup += result.onlyBackup;
        for (const QString& failure : result.failures)
            ADD_FAILURE() << failure.toStdString();
    }
    EXPECT_EQ(kills, workers * killsPerWorker);
    std::printf("%d kills, %d of them between a save's two renames\n", kills, onlyBackup);
}
