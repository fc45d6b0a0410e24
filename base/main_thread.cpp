#include "base/main_thread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

void runOnMainThread(std::function<void()> fn, QObject* context)
{
    if (!fn)
        return;
    QCoreApplication* app = QCoreApplication::instance();
    Q_ASSERT(app);
    if (!app)
        return; // no GUI thread to run it on, ever
    // The timer is built here, handed to the GUI thread and started there by a queued call, so
    // nothing of it runs on the caller's thread and fn never runs inside this call.
    auto* timer = new QTimer;
    timer->moveToThread(app->thread());
    timer->setSingleShot(true);
    // With a context the connection dies with it, and the job with the connection.
    QObject* receiver = context ? context : timer;
    QObject::connect(
        timer, &QTimer::timeout, receiver, [job = std::move(fn)]() { job(); }, Qt::DirectConnection);
    QObject::connect(timer, &QTimer::timeout, timer, &QObject::deleteLater, Qt::DirectConnection);
    QMetaObject::invokeMethod(timer, "start", Qt::QueuedConnection, Q_ARG(int, 0));
}

void runPendingMainThreadJobs()
{
    if (!QCoreApplication::instance())
        return; // nothing was posted, nothing would ever run
    // The jobs take more than one pass of the event loop; a marker posted after them tells when
    // they have all run.
    bool done = false;
    runOnMainThread([&done] { done = true; });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
}
