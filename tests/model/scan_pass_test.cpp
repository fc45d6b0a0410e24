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
    ScanPass::Outcome run(std::function<void(PanoTask&)> body, bool singleOpenMpThread = false)
    {
        const auto onProgress = [this](int done, int total) { progress.append({done, total}); };
        return ScanPass::run(tasks, {&dialogProgress, std::move(body), onProgress, singleOpenMpThread, property.get()});
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

TEST(ScanPass, OneOpenMpThreadInsideTasksWhenAskedAndTheSettingDoesNotLeak)
{
    GlobalPoolSize pool(2);
    ScanPassFixture fixture(8);
    const int before = omp_get_max_threads();
    for (const bool single : {true, false}) {
        std::atomic<int> widest{0};
        fixture.run([&](PanoTask&) { raiseTo(widest, omp_get_max_threads()); }, single);
        EXPECT_EQ(widest.load(), single ? 1 : before) << "pool threads get their own setting back";
        EXPECT_EQ(omp_get_max_threads(), before) << "the GUI thread keeps its setting";
    }
}
