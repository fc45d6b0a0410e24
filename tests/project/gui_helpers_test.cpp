#include "project/gui_helpers.h"
#include "support/test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTextEdit>
#include <QThread>
#include <QtConcurrent>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using testsupport::processEventsFor;
using testsupport::processEventsUntil;

namespace {

struct JobRecord {
    std::atomic<int> runs{0};
    std::atomic<bool> ranOnGuiThread{false};
    std::atomic<bool> postingHadReturned{false};
    std::atomic<bool> postingReturned{false};
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

TEST(RunOnMainThread, FromPoolThreadRunsOnceOnGuiThreadAfterPosting)
{
    auto record = std::make_shared<JobRecord>();
    QThread* poolThread = nullptr;
    QtConcurrent::run([&] {
        poolThread = QThread::currentThread();
        runOnMainThread(recordingJob(record));
        record->postingReturned = true;
    }).waitForFinished();
    ASSERT_NE(poolThread, QCoreApplication::instance()->thread());

    ASSERT_TRUE(processEventsUntil([&] { return record->runs > 0; }));
    processEventsFor(50);
    EXPECT_EQ(record->runs, 1);
    EXPECT_TRUE(record->ranOnGuiThread);
    EXPECT_TRUE(record->postingHadReturned);
    EXPECT_EQ(record.use_count(), 1); // the job and its timer are gone
}

TEST(RunOnMainThread, FromGuiThreadWaitsForTheEventLoop)
{
    auto record = std::make_shared<JobRecord>();
    runOnMainThread(recordingJob(record));
    record->postingReturned = true;
    EXPECT_EQ(record->runs, 0);

    ASSERT_TRUE(processEventsUntil([&] { return record->runs > 0; }));
    processEventsFor(50);
    EXPECT_EQ(record->runs, 1);
    EXPECT_TRUE(record->postingHadReturned);
    EXPECT_TRUE(record->ranOnGuiThread);
    EXPECT_EQ(record.use_count(), 1);
}

TEST(RunOnMainThread, JobWithDestroyedContextNeverRuns)
{
    auto record = std::make_shared<JobRecord>();
    auto* context = new QObject;
    runOnMainThread(recordingJob(record), context);
    delete context;

    auto* poolContext = new QObject;
    QtConcurrent::run([&] { runOnMainThread(recordingJob(record), poolContext); }).waitForFinished();
    delete poolContext;

    processEventsFor(100);
    EXPECT_EQ(record->runs, 0);
    EXPECT_EQ(record.use_count(), 1);

    QObject liveContext;
    runOnMainThread(recordingJob(record), &liveContext);
    ASSERT_TRUE(processEventsUntil([&] { return record->runs > 0; }));
    EXPECT_EQ(record->runs, 1);
}

namespace {

// Counts clicks per button text, from the buttons' own signals.
struct ClickLog {
    QMap<QString, int> clicks;
    explicit ClickLog(QMessageBox& box)
    {
        for (QAbstractButton* button : box.buttons())
            QObject::connect(button, &QAbstractButton::clicked, [this, button] { ++clicks[button->text()]; });
    }
};

} // namespace

TEST(ExpandMessageBoxDetails, OpensDetailsOnlyThroughTheDetailsButton)
{
    QMessageBox box;
    box.setText("Export finished");
    // An action button of the caller's own, ahead of the details button.
    box.addButton("Create AMBREL", QMessageBox::ActionRole);
    box.addButton(QMessageBox::Ok);
    box.setDetailedText("line 1\nline 2");
    ClickLog log(box);

    expandMessageBoxDetails(&box);
    const QMap<QString, int> detailsOnly{{QMessageBox::tr("Hide Details..."), 1}};
    EXPECT_EQ(log.clicks, detailsOnly); // the label flips once the details show
    QTextEdit* text = box.findChild<QTextEdit*>();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->size(), QSize(750, 250));
    EXPECT_TRUE(text->isVisibleTo(&box));

    expandMessageBoxDetails(&box); // already open: stays open
    EXPECT_EQ(log.clicks, detailsOnly);
    EXPECT_TRUE(text->isVisibleTo(&box));
}

TEST(ExpandMessageBoxDetails, BoxWithoutDetailsIsLeftAlone)
{
    QMessageBox box;
    box.setText("Saved");
    box.addButton("Open folder", QMessageBox::ActionRole);
    box.addButton(QMessageBox::Ok);
    auto* ownEdit = new QTextEdit(&box);
    ownEdit->resize(120, 40);
    ClickLog log(box);

    expandMessageBoxDetails(&box);
    EXPECT_TRUE(log.clicks.isEmpty());
    EXPECT_EQ(ownEdit->size(), QSize(120, 40));
    EXPECT_EQ(ownEdit->minimumSize(), QSize(0, 0));
}
