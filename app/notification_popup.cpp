#include "app/notification_popup.h"

#include "model/constants.h"

#include <QEnterEvent>
#include <QLabel>
#include <QMutexLocker>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace {
// Guarded by notificationMutex: the handler may ask for the pop-up while one closes.
QMutex notificationMutex;
NotificationPopup* openPopup = nullptr;
constexpr int kMargin = 16;
}

NotificationPopup::NotificationPopup()
    : QFrame(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setObjectName(QStringLiteral("notificationPopup"));
    m_label = new QLabel(this);
    m_label->setTextFormat(Qt::PlainText);
    m_label->setWordWrap(true);
    m_label->setMaximumWidth(420);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_label);
    m_closeTimer = new QTimer(this);
    m_closeTimer->setSingleShot(true);
    connect(m_closeTimer, &QTimer::timeout, this, &QWidget::close);
}

NotificationPopup::~NotificationPopup()
{
    unregister();
}

void NotificationPopup::unregister()
{
    QMutexLocker lock(&notificationMutex);
    if (openPopup == this)
        openPopup = nullptr;
}

void NotificationPopup::closeEvent(QCloseEvent* event)
{
    unregister();
    QFrame::closeEvent(event);
}

NotificationPopup* NotificationPopup::current()
{
    QMutexLocker lock(&notificationMutex);
    return openPopup;
}

NotificationPopup* NotificationPopup::showMessage(const QString& text, QWidget* anchor)
{
    NotificationPopup* popup = current();
    if (!popup) {
        popup = new NotificationPopup;
        QMutexLocker lock(&notificationMutex);
        openPopup = popup;
    }
    popup->addMessage(text);
    popup->placeAt(anchor);
    popup->show();
    popup->raise();
    return popup;
}

void NotificationPopup::addMessage(const QString& text)
{
    m_messages.append(text);
    while (m_messages.size() > kMaxLines)
        m_messages.removeFirst();
    m_label->setText(m_messages.join(QLatin1Char('\n')));
    adjustSize();
    if (!underMouse())
        m_closeTimer->start(kCloseDelayMs);
}

void NotificationPopup::placeAt(QWidget* anchor)
{
    QRect area;
    if (anchor && anchor->isVisible())
        area = QRect(anchor->mapToGlobal(QPoint(0, 0)), anchor->size());
    else if (QScreen* screen = this->screen())
        area = screen->availableGeometry();
    if (area.isValid())
        move(area.right() - width() - kMargin, area.bottom() - height() - kMargin);
}

void NotificationPopup::enterEvent(QEnterEvent* event)
{
    m_closeTimer->stop();
    QFrame::enterEvent(event);
}

void NotificationPopup::leaveEvent(QEvent* event)
{
    m_closeTimer->start(kCloseDelayMs);
    QFrame::leaveEvent(event);
}
