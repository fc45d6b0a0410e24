#include "base/main_thread.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QThread>
#include <QtConcurrent>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

struct JobRecord {
    std::atomic<int> runs{0};
    std::atomic<bool> ranOnGuiThread{false}, postingReturned{false}, postingHadReturned{false};
};

std::function<void()> recordingJob(const std::shared_ptr<JobRecord>& record)
{
    return [record] {
        ++record->runs;
        record->ranOnGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        record->postingHadReturned = record->postingReturned.load();
    };
}

} // namespace

TEST(RunOnMainThread, RunsOnceOnTheGuiThreadAfterPostingUnlessItsContextIsGone)
{
    for (const bool fromPool : {true, false}) {
        SCOPED_TRACE(fromPool ? "from a pool thread" : "from the GUI thread");
        auto ran = std::make_shared<JobRecord>();
        auto dropped = std::make_shared<JobRecord>();
        QObject live;
        auto* gone = new QObject;
        const auto post = [&] {
            runOnMainThread(recordingJob(ran), fromPool ? nullptr : &live); // with and without a context
            runOnMainThread(recordingJob(dropped), gone);
            ran->postingReturned = true;
        };
        fromPool ? QtConcurrent::run(post).waitForFinished() : post();
        delete gone;
        ASSERT_TRUE(testsupport::processEventsUntil([&] { return ran->runs > 0; }));
        testsupport::processEventsFor(50);
        EXPECT_EQ(ran->runs, 1);
        EXPECT_TRUE(ran->ranOnGuiThread && ran->postingHadReturned);
        EXPECT_EQ(dropped->runs, 0);
        EXPECT_EQ(ran.use_count() + dropped.use_count(), 2) << "both jobs are freed";
    }
}
