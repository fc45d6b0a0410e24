#include "project/property.h"

#include "support/project_file_reader.h"
#include "support/test_support.h"

#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include <sys/prctl.h>
#include <unistd.h>

using namespace testsupport;

namespace {

const char* const kLoopFolderVariable = "QUORIL_TEST_SAVE_LOOP_FOLDER";

// The child's side: saves and autosaves in turn until it is killed. A project of a few hundred
// kilobytes keeps each write long enough for kills to land inside it.
[[noreturn]] void saveInALoop(const QString& folder)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    Property property;
    property.setFolder(folder);
    property.setPortalData(QJsonObject{{"padding", QString(100000, QLatin1Char('p'))}});
    QElapsedTimer lifetime;
    lifetime.start();
    for (qint64 round = 0; lifetime.elapsed() < 60000; ++round) {
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

// One project folder: starts a saving child, kills it at a random moment after its first save,
// checks the folder, and again. Returns what went wrong.
QStringList killRepeatedly(int kills, unsigned seed)
{
    QTemporaryDir dir;
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayUs(0, 15000);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(kLoopFolderVariable, dir.path());
    QStringList failures;
    for (int i = 0; i < kills && failures.isEmpty(); ++i) {
        QProcess child;
        child.setProcessEnvironment(environment);
        child.setStandardErrorFile(QProcess::nullDevice());
        child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=ProjectFileCrash.*"});
        bool saved = false; // the test program prints its own lines first
        while (!saved && child.waitForReadyRead(20000))
            while (child.canReadLine())
                saved = saved || child.readLine().trimmed() == "saved";
        if (saved)
            ::usleep(static_cast<useconds_t>(delayUs(random)));
        child.kill(); // SIGKILL
        child.waitForFinished(10000);
        if (!saved)
            failures << QStringLiteral("child %1 did not save").arg(i);
        else if (!isWholeProject(dir.filePath("quoril.qjs")) && !isWholeProject(dir.filePath("~quoril.qjs")))
            failures << QStringLiteral("kill %1 left: %2").arg(i).arg(listTree(dir.path()).join(", "));
    }
    return failures;
}

} // namespace

TEST(ProjectFileCrash, KilledWhileSavingLeavesAWholeProject)
{
    const QString loopFolder = qEnvironmentVariable(kLoopFolderVariable);
    if (!loopFolder.isEmpty())
        saveInALoop(loopFolder);

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
        for (const QString& failure : worker)
            ADD_FAILURE() << failure.toStdString();
}
