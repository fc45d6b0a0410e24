#include "app/message_presenter.h"
#include "app/notification_popup.h"
#include "base/notification.h"
#include "model/constants.h"
#include "support/log_capture.h"
#include "support/test_support.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTimer>
#include <QtConcurrent>

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

using namespace testsupport;

namespace {

// A window with the presenter in non-blocking mode.
struct PresenterFixture {
    QWidget window;
    std::unique_ptr<MessagePresenter> presenter;
    QList<QMessageBox*> boxes;

    PresenterFixture()
    {
        MessagePresenter::setBlockingBoxes(false);
        window.show();
        presenter = std::make_unique<MessagePresenter>(&window);
        QObject::connect(presenter.get(), &MessagePresenter::boxOpened, [this](QMessageBox* box) { boxes << box; });
    }
    ~PresenterFixture()
    {
        qDeleteAll(boxes);
        presenter.reset();
        EXPECT_EQ(NotificationPopup::current(), nullptr) << "the pop-up outlived its window";
        MessagePresenter::setBlockingBoxes(true);
    }
};

} // namespace

TEST(Messages, InformationGoesToOnePopUpThatClosesFiveSecondsAfterItsLastMessage)
{
    PresenterFixture f;
    qInfo("Project saved.");
    EXPECT_EQ(NotificationPopup::current(), nullptr) << "shown inside the logging call";
    runPostedJobs();
    NotificationPopup* popup = NotificationPopup::current();
    ASSERT_NE(popup, nullptr);
    auto* timer = const_cast<QTimer*>(popup->closeTimer());
    EXPECT_EQ(timer->interval(), 5000);
    // A second message joins the same pop-up and starts the count again; the mouse over it pauses it.
    timer->start(1000);
    qInfo("Cleared Quoril caches for re-import.");
    runPostedJobs();
    EXPECT_EQ(NotificationPopup::current(), popup);
    EXPECT_EQ(popup->messages(), QStringList({"Project saved.", "Cleared Quoril caches for re-import."}));
    EXPECT_GT(timer->remainingTime(), 4000);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), popup->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(popup, &enter);
    EXPECT_FALSE(timer->isActive());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(popup, &leave);
    EXPECT_GT(timer->remainingTime(), 4000);
    // The count runs out: the pop-up goes; the next message opens a new one.
    QPointer<NotificationPopup> closing(popup);
    QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closing.isNull());
    qInfo("again");
    runPostedJobs();
    ASSERT_NE(NotificationPopup::current(), nullptr);
    EXPECT_EQ(NotificationPopup::current()->messages(), QStringList({"again"}));
    EXPECT_TRUE(f.boxes.isEmpty());
}

TEST(Messages, WarningsAndErrorsFromAnyThreadOpenABoxTitledQuorilOnTheGuiThread)
{
    PresenterFixture f;
    QList<QThread*> shownOn;
    QObject::connect(f.presenter.get(), &MessagePresenter::boxOpened, [&] { shownOn << QThread::currentThread(); });
    QtConcurrent::run([] { qWarning("Could not process pano /p/s1. broken"); }).waitForFinished();
    qCritical("Could not load Quoril project at /x. Reason: Could not find: /x\n\nsecond part");
    qDebug("debug is for the terminal only");
    runPostedJobs();
    ASSERT_EQ(f.boxes.size(), 2);
    EXPECT_EQ(shownOn, QList<QThread*>(2, QApplication::instance()->thread()));
    QMessageBox* warning = f.boxes[0];
    EXPECT_EQ(warning->windowTitle(), "Quoril");
    EXPECT_EQ(warning->icon(), QMessageBox::Warning);
    EXPECT_EQ(warning->text(), "Could not process pano /p/s1. broken");
    EXPECT_TRUE(warning->isVisible() && !warning->isModal() && warning->detailedText().isEmpty());
    // Several lines: the first one with "..." and the whole text as details.
    EXPECT_EQ(f.boxes[1]->icon(), QMessageBox::Critical);
    EXPECT_EQ(f.boxes[1]->text(), "Could not load Quoril project at /x. Reason: Could not find: /x...");
    EXPECT_EQ(f.boxes[1]->detailedText(),
              "Could not load Quoril project at /x. Reason: Could not find: /x\n\nsecond part");

    // Nothing is shown once the presenter is gone, even what was logged before.
    qWarning("logged while it lives");
    f.presenter.reset();
    runPostedJobs();
    EXPECT_EQ(f.boxes.size(), 2);
}

TEST(Messages, WarningsAndErrorsAreAppendedWholeAndTimeStampedToTheProjectLogButNotLibraryNoise)
{
    QTemporaryDir dir;
    const QString previous = Notification::logFilePath();
    const QString logFilePath = dir.filePath("quorillog.txt");
    Notification::setLogFilePath(logFilePath);
    writeFile(logFilePath, "2020-01-01 00:00:00 Warning: from an earlier session\n");
    LogCapture log;
    { LogCapture ended; } // takes only its own sink with it
    qInfo("shown only");
    qDebug("debug only");
    qWarning("This plugin does not support propagateSizeHints()");
    qWarning("QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-root'");
    // The same words elsewhere in a text, or in an error, are kept.
    qWarning("Scan s1: This plugin does not support raise()");
    qCritical("This plugin does not support grabbing the keyboard");
    EXPECT_EQ(log.texts(QtInfoMsg), QStringList({"shown only"}));
    EXPECT_EQ(log.texts(QtWarningMsg), QStringList({"Scan s1: This plugin does not support raise()"}));
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                qWarning().noquote() << QString("thread %1 message %2").arg(t).arg(i);
        });
    for (auto& thread : threads)
        thread.join();
    const QStringList lines = QString::fromUtf8(readFile(logFilePath)).split('\n', Qt::SkipEmptyParts);
    Notification::setLogFilePath(previous);
    ASSERT_EQ(lines.size(), 3 + 1600);
    EXPECT_EQ(lines[0], "2020-01-01 00:00:00 Warning: from an earlier session");
    const QString stamp = R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )";
    EXPECT_TRUE(QRegularExpression(stamp + "Warning: Scan s1: ").match(lines[1]).hasMatch()) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].endsWith(" Error: This plugin does not support grabbing the keyboard"));
    // From many threads at once, every line arrives whole.
    const QRegularExpression whole(stamp + R"(Warning: thread \d message \d+$)");
    for (const QString& line : lines.mid(3))
        ASSERT_TRUE(whole.match(line).hasMatch()) << line.toStdString();
}
