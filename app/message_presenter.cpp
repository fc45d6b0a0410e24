#include "app/message_presenter.h"

#include "app/gui_helpers.h"
#include "app/notification_popup.h"
#include "base/notification.h"

#include <QMessageBox>
#include <QWidget>

#include <atomic>

namespace {
std::atomic<bool> boxesBlock{true};
// Set and read on the GUI thread only.
MessagePresenter* livePresenter = nullptr;

bool isMultiLine(const QString& text)
{
    return text.trimmed().contains(QLatin1Char('\n'));
}
}

MessagePresenter::MessagePresenter(QWidget* window) : QObject(window), m_window(window)
{
    livePresenter = this;
    Notification::install();
    m_sink = Notification::addSink([](QtMsgType type, const QString& text) {
        if (type != QtInfoMsg && type != QtWarningMsg && type != QtCriticalMsg)
            return;
        // Queued even on the GUI thread: a box must not open inside whatever code logged.
        runOnMainThread([type, text] {
            if (livePresenter)
                livePresenter->present(type, text);
        });
    });
}

MessagePresenter::~MessagePresenter()
{
    Notification::removeSink(m_sink);
    if (livePresenter == this)
        livePresenter = nullptr;
    // The pop-up has no parent; it must not outlive the window it reports for.
    if (NotificationPopup* popup = NotificationPopup::current())
        popup->close();
}

void MessagePresenter::setBlockingBoxes(bool on)
{
    boxesBlock = on;
}

bool MessagePresenter::blockingBoxes()
{
    return boxesBlock;
}

QString MessagePresenter::boxText(const QString& message)
{
    const QString text = message.trimmed();
    if (!isMultiLine(text))
        return text;
    return text.section(QLatin1Char('\n'), 0, 0) + QStringLiteral("...");
}

void MessagePresenter::present(QtMsgType type, const QString& text)
{
    if (type == QtInfoMsg)
        NotificationPopup::showMessage(text, m_window);
    else
        showBox(type, text);
}

void MessagePresenter::showBox(QtMsgType type, const QString& text)
{
    const QMessageBox::Icon icon = type == QtCriticalMsg ? QMessageBox::Critical : QMessageBox::Warning;
    auto* box = new QMessageBox(icon, tr("Quoril"), boxText(text), QMessageBox::Ok, m_window);
    if (isMultiLine(text)) {
        box->setDetailedText(text.trimmed());
        expandMessageBoxDetails(box);
    }
    if (!blockingBoxes()) {
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        emit boxOpened(box);
        box->show();
        return;
    }
    // The window, and the box with it, may go while the box runs its loop.
    const QPointer<QMessageBox> guard(box);
    emit boxOpened(box);
    box->exec();
    delete guard.data();
}
