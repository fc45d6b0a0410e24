#include "app/message_presenter.h"
#include "app/notification.h"
#include "app/notification_popup.h"
#include "project/constants.h"
#include "support/log_capture.h"
#include "support/test_support.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtConcurrent>

#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;

namespace {

// A window with the presenter in non-blocking mode; closes whatever it opened.
struct PresenterFixture {
    QWidget window;
    std::unique_ptr<MessagePresenter> presenter;
    QList<QMessageBox*> boxes;

    PresenterFixture()
    {
        MessagePresenter::setBlockingBoxes(false);
        window.resize(600, 400);
        window.show();
        presenter = std::make_unique<MessagePresenter>(&window);
        QObject::connect(presenter.get(), &MessagePresenter::boxOpened, [this](QMessageBox* box) { boxes << box; });
    }
    ~PresenterFixture()
    {
        presenter.reset();
        EXPECT_EQ(NotificationPopup::current(), nullptr);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        MessagePresenter::setBlockingBoxes(true);
    }
};

void settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

} // namespace

TEST(Messages, InformationGoesToOnePopUpThatClosesFiveSecondsAfterItsLastMessage)
{
    PresenterFixture f;
    qInfo("Project saved.");
    // Shown after the logging call returns, never inside it.
    EXPECT_EQ(NotificationPopup::current(), nullptr);
    settle();
    NotificationPopup* popup = NotificationPopup::current();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isVisible());
    EXPECT_EQ(popup->messages(), QStringList({"Project saved."}));
    EXPECT_TRUE(popup->closeTimer()->isActive());
    EXPECT_TRUE(popup->closeTimer()->isSingleShot());
    EXPECT_EQ(popup->closeTimer()->interval(), 5000);
    EXPECT_TRUE(f.boxes.isEmpty());

    // A second message joins the same pop-up and starts the count again.
    QTimer* timer = const_cast<QTimer*>(popup->closeTimer());
    timer->start(1000);
    qInfo("Cleared Quoril caches for re-import.");
    settle();
    EXPECT_EQ(NotificationPopup::current(), popup);
    EXPECT_EQ(popup->messages().size(), 2);
    EXPECT_GT(popup->closeTimer()->remainingTime(), 4000);

    // Paused while the mouse is over it, counting again when it leaves.
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), popup->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(popup, &enter);
    EXPECT_FALSE(popup->closeTimer()->isActive());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(popup, &leave);
    EXPECT_TRUE(popup->closeTimer()->isActive());
    EXPECT_GT(popup->closeTimer()->remainingTime(), 4000);

    // The count runs out: the pop-up closes and goes; the next message opens a new one.
    QPointer<NotificationPopup> closing(popup);
    QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection);
    EXPECT_EQ(NotificationPopup::current(), nullptr);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closing.isNull());
    qInfo("again");
    settle();
    ASSERT_NE(NotificationPopup::current(), nullptr);
    EXPECT_EQ(NotificationPopup::current()->messages(), QStringList({"again"}));
}

TEST(Messages, WarningsAndErrorsOpenABoxTitledQuoril)
{
    PresenterFixture f;
    qWarning("Only panoramas can be set as initial.");
    qCritical("Could not load Quoril project at /x. Reason: Could not find: /x\n\nsecond part");
    qDebug("debug is for the terminal only");
    settle();
    ASSERT_EQ(f.boxes.size(), 2);
    QMessageBox* warning = f.boxes[0];
    EXPECT_EQ(warning->windowTitle(), "Quoril");
    EXPECT_EQ(warning->icon(), QMessageBox::Warning);
    EXPECT_EQ(warning->text(), "Only panoramas can be set as initial.");
    EXPECT_TRUE(warning->detailedText().isEmpty());
    EXPECT_TRUE(warning->isVisible());
    EXPECT_FALSE(warning->isModal());
    EXPECT_EQ(warning->parentWidget(), &f.window);

    // Several lines: the first one with "..." and the whole text as details, shown at once.
    QMessageBox* error = f.boxes[1];
    EXPECT_EQ(error->icon(), QMessageBox::Critical);
    EXPECT_EQ(error->text(), "Could not load Quoril project at /x. Reason: Could not find: /x...");
    EXPECT_EQ(error->detailedText(), "Could not load Quoril project at /x. Reason: Could not find: /x\n\nsecond part");
    EXPECT_EQ(NotificationPopup::current(), nullptr);

    // Non-blocking boxes go when they are closed.
    QPointer<QMessageBox> guard(warning);
    warning->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull());
    error->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(Messages, MessagesFromPoolThreadsAreShownOnTheGuiThread)
{
    PresenterFixture f;
    QThread* shownOn = nullptr;
    QObject::connect(f.presenter.get(), &MessagePresenter::boxOpened, [&] { shownOn = QThread::currentThread(); });
    QFuture<void> job = QtConcurrent::run([] {
        qInfo("from the pool");
        qWarning("Could not process pano /p/s1. broken");
    });
    job.waitForFinished();
    EXPECT_TRUE(f.boxes.isEmpty());
    settle();
    ASSERT_EQ(f.boxes.size(), 1);
    EXPECT_EQ(shownOn, QApplication::instance()->thread());
    EXPECT_EQ(f.boxes[0]->text(), "Could not process pano /p/s1. broken");
    ASSERT_NE(NotificationPopup::current(), nullptr);
    EXPECT_EQ(NotificationPopup::current()->messages(), QStringList({"from the pool"}));
    f.boxes[0]->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(Messages, NothingIsShownOnceThePresenterIsGone)
{
    auto f = std::make_unique<PresenterFixture>();
    qWarning("logged while it lives");
    f->presenter.reset();
    settle();
    EXPECT_TRUE(f->boxes.isEmpty());
    qWarning("logged after");
    settle();
    EXPECT_TRUE(f->boxes.isEmpty());
}

TEST(Messages, KnownLibraryWarningsAreDropped)
{
    QTemporaryDir dir;
    const QString previous = logFilePath;
    logFilePath = dir.filePath("quorillog.txt");
    LogCapture log;
    qWarning("This plugin does not support propagateSizeHints()");
    qWarning("QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-root'");
    qWarning("libpng warning: iCCP: known incorrect sRGB profile");
    // The same words elsewhere in a text, or in another kind of message, are not dropped.
    qWarning("Scan s1: This plugin does not support raise()");
    qCritical("This plugin does not support grabbing the keyboard");
    logFilePath = previous;
    EXPECT_EQ(log.texts(QtWarningMsg), QStringList({"Scan s1: This plugin does not support raise()"}));
    EXPECT_EQ(log.texts(QtCriticalMsg).size(), 1);
    const QString logged = QString::fromUtf8(readFile(dir.filePath("quorillog.txt")));
    EXPECT_FALSE(logged.contains("propagateSizeHints"));
    EXPECT_FALSE(logged.contains("XDG_RUNTIME_DIR"));
    EXPECT_TRUE(logged.contains("Scan s1"));
}
