#include "app/dialog_progress.h"
#include "model/panorama.h"
#include "model/scan_pass.h"
#include "support/model_fixture.h"
#include "support/thread_pool_size.h"

#include <QApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <gtest/gtest.h>
#include <omp.h>

#include <QMutex>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace testsupport;

namespace {

struct ScanPassFixture : ProjectFixture {
    QList<PanoTask> tasks;
    DialogProgress dialogProgress{workingRequest()};
    QProgressDialog& dialog = *dialogProgress.dialog();
    QList<QPair<int, int>> progress;

    explicit ScanPassFixture(int scans)
    {
        Floor* floor = addFloor(addBuilding("Main"), "Ground");
        for (int i = 0; i < scans; ++i)
            tasks.append({addUserScan(floor, QStringLiteral("User Pano_%1").arg(i)), QString()});
    }
    static ProgressRequest workingRequest()
    {
        ProgressRequest request;
        request.label = "Working...";
        request.cancelText = "Cancel";
        request.maximum = 10;
        request.applicationModal = true;
        return request;
    }
    ScanPass::Outcome run(std::function<void(PanoTask&)> body, int maxTasksAtOnce = 0)
    {
        const auto onProgress = [this](int done, int total) { progress.append({done, total}); };
        return ScanPass::run(tasks, {&dialogProgress, std::move(body), onProgress, maxTasksAtOnce, property.get()});
    }
};

void raiseTo(std::atomic<int>& widest, int value)
{
    for (int seen = widest.load(); value > seen && !widest.compare_exchange_weak(seen, value);) {
    }
}

} // namespace

TEST(PanoStep, FailuresOfAnyKindBecomeTheTaskText)
{
    ScanPassFixture fixture(1);
    PanoTask task = fixture.tasks.first();
    const QString prefix = "Could not process pano " + task.pano->folder();
    runPanoStep(task, [](Panorama&) {}, ". ");
    EXPECT_TRUE(task.text.isEmpty());
    runPanoStep(task, [](Panorama&) { throw std::runtime_error("lens 2 is dark"); }, ". ");
    EXPECT_EQ(task.text, prefix + ". lens 2 is dark");
    runPanoStep(task, [](Panorama&) { throw 42; }, ": ");
    EXPECT_EQ(task.text, prefix + ": Unknown failure.") << "a non-standard exception is a failure, not a success";
}

TEST(ScanPass, RunsEveryTaskOnceOnAsManyThreadsAsTheGlobalPoolAllowsWhileTheDialogWaits)
{
    GlobalPoolSize pool(3);
    ScanPassFixture fixture(12);
    std::atomic<int> runs{0}, running{0}, widest{0};
    std::atomic<bool> markedRunning{true}, onGuiThreadOrGlobalPool{false};
    const ScanPass::Outcome outcome = fixture.run([&](PanoTask& task) {
        ++runs;
        raiseTo(widest, ++running);
        if (!fixture.property->scanPassRunning())
            markedRunning = false;
        const QThread* thread = QThread::currentThread();
        if (thread == qApp->thread() || QThreadPool::globalInstance()->contains(thread))
            onGuiThreadOrGlobalPool = true;
        if (task.pano == fixture.tasks[3].pano)
            task.text = "third failed";
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        --running;
    });
    EXPECT_EQ(outcome, ScanPass::Outcome::Finished);
    EXPECT_EQ(runs.load(), 12);
    EXPECT_EQ(widest.load(), 3);
    EXPECT_FALSE(onGuiThreadOrGlobalPool.load()) << "the global pool stays free for the window's painting";
    EXPECT_TRUE(markedRunning.load()) << "the autosave must know that a pass runs";
    EXPECT_FALSE(fixture.property->scanPassRunning());
    EXPECT_FALSE(fixture.dialog.isVisible()) << "the dialog closes when the map finishes";
    EXPECT_EQ(fixture.progress.value(fixture.progress.size() - 1), qMakePair(12, 12));
    EXPECT_EQ(joinFailureTexts(fixture.tasks), "third failed\n\n");
    EXPECT_EQ(ScanPassFixture(0).run([](PanoTask&) { FAIL(); }), ScanPass::Outcome::Finished);
}

TEST(ScanPass, CancelStartsNoNewTaskAndWaitsBehindTheCancelingDialog)
{
    GlobalPoolSize pool(1);
    ScanPassFixture fixture(6);
    std::atomic<bool> release{false};
    std::atomic<int> started{0};
    QString secondDialogLabel;
    QTimer::singleShot(50, [&] {
        fixture.dialog.findChild<QPushButton*>()->click();
        QTimer::singleShot(50, [&] {
            if (auto* waiting = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget()))
                secondDialogLabel = waiting->labelText();
            release = true;
        });
    });
    EXPECT_EQ(fixture.run([&](PanoTask&) {
        ++started;
        for (int i = 0; i < 1000 && !release; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }), ScanPass::Outcome::Canceled);
    EXPECT_EQ(started.load(), 1) << "the running task finished, no new one started";
    EXPECT_TRUE(release.load()) << "the pass returned only after the running task was let go";
    EXPECT_EQ(secondDialogLabel, "Canceling...");
}

// Fewer scans than cores still use every core; more scans than cores, or a limit on how many run
// at once, give each its part; the running tasks never hold more threads than the cores, and every
// task has at least one. The tasks that start together wait for each other, as scans that take
// seconds would; later ones may find more cores free as the pass ends.
TEST(ScanPass, RunningTasksShareTheCoresForTheirOpenMpRegionsAndTheSettingDoesNotLeak)
{
    GlobalPoolSize pool(8);
    const int before = omp_get_max_threads();
    struct Case {
        int scans;
        int atOnce;
        QList<int> firstShares; // of the tasks that start together, sorted
    };
    for (const Case& expected : {Case{1, 0, {8}}, Case{3, 0, {2, 3, 3}}, Case{8, 0, QList<int>(8, 1)},
                                 Case{16, 0, QList<int>(8, 1)}, Case{16, 4, {2, 2, 2, 2}}, Case{3, 2, {4, 4}}}) {
        SCOPED_TRACE(testing::Message() << expected.scans << " scans, at once " << expected.atOnce);
        ScanPassFixture fixture(expected.scans);
        const auto together = static_cast<int>(expected.firstShares.size());
        std::atomic<int> started{0}, running{0}, widest{0}, held{0}, mostHeld{0}, fewest{8};
        QMutex sharesMutex;
        QList<int> firstShares;
        fixture.run(
            [&](PanoTask&) {
                const int share = omp_get_max_threads();
                raiseTo(widest, ++running);
                raiseTo(mostHeld, held += share);
                for (int seen = fewest.load(); share < seen && !fewest.compare_exchange_weak(seen, share);) {
                }
                if (++started <= together) {
                    {
                        const QMutexLocker lock(&sharesMutex);
                        firstShares.append(share);
                    }
                    for (int i = 0; i < 500 && started < together; ++i)
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
                held -= share;
                --running;
            },
            expected.atOnce);
        std::sort(firstShares.begin(), firstShares.end());
        EXPECT_EQ(firstShares, expected.firstShares);
        EXPECT_EQ(widest.load(), together);
        EXPECT_LE(mostHeld.load(), 8);
        EXPECT_GE(fewest.load(), 1);
        EXPECT_EQ(omp_get_max_threads(), before) << "the GUI thread keeps its setting";
    }
}
