#include "pano/panorama.h"
#include "project/scan_pass.h"
#include "support/model_fixture.h"
#include "support/thread_pool_size.h"

#include <QApplication>
#include <QFile>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <gtest/gtest.h>
#include <omp.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <thread>

using namespace testsupport;

namespace {

struct ScanPassFixture : ProjectFixture {
    QList<PanoTask> tasks;
    std::unique_ptr<QProgressDialog> dialog;

    explicit ScanPassFixture(int scans)
    {
        Floor* floor = addFloor(addBuilding("Main"), "Ground");
        for (int i = 0; i < scans; ++i)
            tasks.append({addUserScan(floor, QStringLiteral("User Pano_%1").arg(i)), QString()});
        dialog = std::make_unique<QProgressDialog>("Working...", "Cancel", 0, 10);
        dialog->setWindowModality(Qt::ApplicationModal);
        dialog->show();
    }

    ScanPass::Outcome run(std::function<void(PanoTask&)> body, bool singleOpenMpThread = false)
    {
        ScanPass::Options options;
        options.dialog = dialog.get();
        options.body = std::move(body);
        options.singleOpenMpThread = singleOpenMpThread;
        options.onProgress = [this](int done, int total) { progress.append({done, total}); };
        options.property = property.get();
        return ScanPass::run(tasks, options);
    }

    QList<QPair<int, int>> progress;
};


} // namespace

TEST(PanoStep, FailuresOfAnyKindBecomeTheTaskText)
{
    ScanPassFixture fixture(1);
    PanoTask task = fixture.tasks.first();
    const QString folder = task.pano->folder();
    runPanoStep(task, [](Panorama&) {}, ". ");
    EXPECT_TRUE(task.text.isEmpty());
    runPanoStep(task, [](Panorama&) { throw std::runtime_error("lens 2 is dark"); }, ". ");
    EXPECT_EQ(task.text, "Could not process pano " + folder + ". lens 2 is dark");
    task.text.clear();
    runPanoStep(task, [](Panorama&) { throw 42; }, ": ");
    EXPECT_EQ(task.text, "Could not process pano " + folder + ": Unknown failure.")
        << "a non-standard exception is a failure, not a silent success";
}

TEST(ScanPass, RunsEveryTaskOnceOnThePoolWhileTheDialogWaits)
{
    ScanPassFixture fixture(12);
    std::atomic<int> runs{0};
    std::set<std::thread::id> threads;
    std::mutex threadsMutex;
    const auto guiThread = std::this_thread::get_id();
    std::atomic<bool> markedRunning{true};
    const ScanPass::Outcome outcome = fixture.run([&](PanoTask& task) {
        ++runs;
        if (!fixture.property->scanPassRunning())
            markedRunning = false;
        std::lock_guard lock(threadsMutex);
        threads.insert(std::this_thread::get_id());
        if (task.pano == fixture.tasks[3].pano)
            task.text = "third failed";
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    EXPECT_EQ(outcome, ScanPass::Outcome::Finished);
    EXPECT_EQ(runs.load(), 12);
    EXPECT_TRUE(markedRunning.load()) << "the autosave must know that a pass runs";
    EXPECT_FALSE(fixture.property->scanPassRunning());
    EXPECT_FALSE(threads.count(guiThread)) << "no task runs on the GUI thread";
    EXPECT_FALSE(fixture.dialog->isVisible()) << "the dialog closes when the map finishes";
    ASSERT_FALSE(fixture.progress.isEmpty());
    EXPECT_EQ(fixture.progress.last(), qMakePair(12, 12));
    EXPECT_EQ(joinFailureTexts(fixture.tasks), "third failed\n\n");
}

TEST(ScanPass, UsesAsManyThreadsAsTheGlobalPoolAllowsAndLeavesItFree)
{
    GlobalPoolSize pool(3);
    ScanPassFixture fixture(12);
    std::atomic<int> running{0};
    std::atomic<int> widest{0};
    std::atomic<bool> onGlobalPool{false};
    fixture.run([&](PanoTask&) {
        const int now = ++running;
        int seen = widest.load();
        while (now > seen && !widest.compare_exchange_weak(seen, now)) {
        }
        if (QThreadPool::globalInstance()->contains(QThread::currentThread()))
            onGlobalPool = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        --running;
    });
    EXPECT_EQ(widest.load(), 3);
    EXPECT_FALSE(onGlobalPool.load()) << "the global pool stays free for the window's painting";
}

TEST(ScanPass, EmptyPassFinishesAtOnce)
{
    ScanPassFixture fixture(0);
    EXPECT_EQ(fixture.run([](PanoTask&) { FAIL(); }), ScanPass::Outcome::Finished);
}

TEST(ScanPass, CancelStartsNoNewTaskAndWaitsBehindTheCancelingDialog)
{
    // One thread runs the map; the window's painting, which draws on the global pool, goes on.
    GlobalPoolSize pool(1);
    ScanPassFixture fixture(6);
    std::atomic<bool> release{false};
    std::atomic<int> started{0};
    QString secondDialogLabel;
    QTimer::singleShot(50, [&] {
        fixture.dialog->findChild<QPushButton*>()->click();
        QTimer::singleShot(50, [&] {
            if (auto* waiting = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget()))
                secondDialogLabel = waiting->labelText();
            release = true;
        });
    });
    const ScanPass::Outcome outcome = fixture.run([&](PanoTask&) {
        ++started;
        for (int i = 0; i < 1000 && !release; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    EXPECT_EQ(outcome, ScanPass::Outcome::Canceled);
    EXPECT_EQ(started.load(), 1) << "the running task finished, no new one started";
    EXPECT_TRUE(release.load()) << "the pass returned only after the running task was let go";
    EXPECT_EQ(secondDialogLabel, "Canceling...");
}

TEST(ScanPass, OneOpenMpThreadInsideTasksWhenAskedAndTheSettingDoesNotLeak)
{
    GlobalPoolSize pool(2);
    ScanPassFixture fixture(8);
    const int before = omp_get_max_threads();
    std::atomic<int> widest{0};
    const auto record = [&](PanoTask&) {
        int seen = omp_get_max_threads();
        int current = widest.load();
        while (seen > current && !widest.compare_exchange_weak(current, seen)) {
        }
    };
    fixture.run(record, true);
    EXPECT_EQ(widest.load(), 1);
    EXPECT_EQ(omp_get_max_threads(), before) << "the GUI thread keeps its setting";
    widest = 0;
    fixture.run(record, false);
    EXPECT_EQ(widest.load(), before) << "pool threads got their own setting back";
}

