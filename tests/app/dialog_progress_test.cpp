#include "app/dialog_progress.h"
#include "app/main_window_instance.h"
#include "support/gui_input.h"

#include <QApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>

namespace {

QList<QProgressDialog*> visibleProgressDialogs()
{
    QList<QProgressDialog*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QProgressDialog*>(w); d && d->isVisible())
            found << d;
    return found;
}

} // namespace

// What the model asks for is what the person sees, and the dialog goes with the progress.
TEST(DialogProgress, ShowsTheRequestAtOnceAndIsGoneWithTheProgress)
{
    ProgressRequest request;
    request.title = "Extracting...";
    request.label = "Extracting file: a.tar";
    request.maximum = 1000;
    request.applicationModal = true;
    {
        const std::unique_ptr<Progress> progress = dialogProgressFactory()(request);
        const QList<QProgressDialog*> shown = visibleProgressDialogs();
        ASSERT_EQ(shown.size(), 1);
        QProgressDialog* d = shown.first();
        EXPECT_EQ(d->windowTitle(), "Extracting...");
        EXPECT_EQ(d->labelText(), "Extracting file: a.tar");
        EXPECT_EQ(d->windowModality(), Qt::ApplicationModal);
        EXPECT_EQ(d->findChild<QPushButton*>(), nullptr) << "no button";
        progress->setValue(999);
        EXPECT_EQ(d->value(), 999);
    }
    QApplication::processEvents();
    EXPECT_TRUE(visibleProgressDialogs().isEmpty());
}

// A wait ends with finish() from a slot that runs meanwhile, or with the person's Cancel, which
// reaches the handler first.
TEST(DialogProgress, WaitEndsOnFinishOrCancel)
{
    ProgressRequest request;
    request.label = "Working...";
    request.cancelText = "Cancel";
    request.maximum = 3;
    for (bool cancel : {false, true}) {
        const std::unique_ptr<Progress> progress = dialogProgressFactory()(request);
        bool handled = false;
        progress->setCancelHandler([&] { handled = true; });
        QTimer::singleShot(10, [&] {
            auto* d = static_cast<DialogProgress*>(progress.get())->dialog();
            if (cancel)
                d->findChild<QPushButton*>()->click();
            else
                progress->finish();
        });
        progress->waitUntilFinished();
        EXPECT_EQ(progress->wasCancelled(), cancel);
        EXPECT_EQ(handled, cancel);
    }
}

// The window that owns a progress may go first (the program closing while a camera answers): the
// progress then reads as cancelled and its end deletes nothing twice.
TEST(DialogProgress, OutlivesTheWindowThatOwnsIt)
{
    auto window = std::make_unique<QWidget>();
    ProgressRequest request;
    request.label = "Uploading...";
    request.cancelText = "Cancel";
    request.parent = window.get();
    const std::unique_ptr<Progress> progress = dialogProgressFactory()(request);
    EXPECT_FALSE(progress->wasCancelled());
    window.reset();
    EXPECT_TRUE(progress->wasCancelled());
    progress->setValue(1);
    progress->setLabel("still here");
    progress->waitUntilFinished();
    progress->finish();
}

// The model names no window: a view it asks the window to own gets the one the application knows,
// a parent the caller holds wins, and a view that asks for neither has none.
TEST(DialogProgress, AViewOwnedByTheWindowTakesTheApplicationsWindow)
{
    QWidget window, holder;
    setMainWindowInstance(&window);
    const auto parentOf = [](const ProgressRequest& request) {
        return DialogProgress(request).dialog()->parentWidget();
    };
    ProgressRequest request;
    request.label = "Loading...";
    for (const bool waiting : {false, true}) {
        request.hiddenUntilWaiting = waiting;
        request.ownedByWindow = true;
        EXPECT_EQ(parentOf(request), &window) << waiting;
        request.parent = &holder;
        EXPECT_EQ(parentOf(request), &holder) << waiting;
        request.ownedByWindow = false;
        EXPECT_EQ(parentOf(request), &holder) << waiting;
        request.parent = nullptr;
        EXPECT_EQ(parentOf(request), nullptr) << waiting;
    }
    setMainWindowInstance(nullptr);
}

// Escape and closing the window are the person's Cancel where a view has one, and reach its
// handler once. Where it has none they leave the view up and its wait going: the work runs on and
// would speak up later with nothing on screen.
TEST(DialogProgress, EscapeAndClosingCancelOnlyAViewWithACancel)
{
    const QList<std::pair<const char*, std::function<void(QProgressDialog*)>>> gestures{
        {"Escape", [](QProgressDialog* d) { testsupport::keyClick(d, Qt::Key_Escape); }},
        {"close", [](QProgressDialog* d) { d->windowHandle()->close(); }},
    };
    for (const auto& entry : gestures) {
        // Named, not a structured binding: clang 14 cannot capture one in a lambda.
        const char* name = entry.first;
        const std::function<void(QProgressDialog*)>& gesture = entry.second;
        for (const bool cancellable : {true, false}) {
            SCOPED_TRACE(std::string(name) + (cancellable ? " with Cancel" : " without"));
            ProgressRequest request;
            request.label = "Working...";
            request.cancelText = cancellable ? "Cancel" : "";
            const std::unique_ptr<Progress> progress = dialogProgressFactory()(request);
            int handled = 0;
            progress->setCancelHandler([&] { ++handled; });
            QProgressDialog* d = static_cast<DialogProgress*>(progress.get())->dialog();
            EXPECT_EQ(bool(d->windowFlags() & Qt::WindowCloseButtonHint), cancellable);
            gesture(d);
            QApplication::processEvents();
            EXPECT_EQ(handled, cancellable ? 1 : 0);
            EXPECT_EQ(progress->wasCancelled(), cancellable);
            EXPECT_EQ(d->isVisible(), !cancellable);
        }
        SCOPED_TRACE(std::string(name) + " while waiting for work to wind down");
        ProgressRequest request;
        request.label = "Stopping...";
        request.hiddenUntilWaiting = true;
        const std::unique_ptr<Progress> progress = dialogProgressFactory()(request);
        QProgressDialog* d = static_cast<DialogProgress*>(progress.get())->dialog();
        bool shownUntilFinished = false;
        // Timers that go with the dialog, should the wait end early.
        QTimer::singleShot(10, d, [&] {
            gesture(d);
            QTimer::singleShot(20, d, [&] {
                shownUntilFinished = d->isVisible();
                progress->finish();
            });
        });
        progress->waitUntilFinished();
        EXPECT_TRUE(shownUntilFinished);
        EXPECT_FALSE(progress->wasCancelled());
    }
}
