#include "support/log_capture.h"

#include "base/notification.h"

#include <QMutex>
#include <QMutexLocker>

namespace testsupport {

struct LogCapture::State {
    mutable QMutex mutex;
    QList<Entry> entries;
};

LogCapture::LogCapture() : m_state(std::make_shared<State>())
{
    Notification::install();
    // The sink keeps the state alive, so a message arriving while the capture ends is harmless.
    m_handle = Notification::addSink([state = m_state](QtMsgType type, const QString& text) {
        QMutexLocker lock(&state->mutex);
        state->entries.append({type, text});
    });
}

LogCapture::~LogCapture()
{
    Notification::removeSink(m_handle);
}

QList<LogCapture::Entry> LogCapture::entries() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->entries;
}

QStringList LogCapture::texts(QtMsgType type) const
{
    QStringList result;
    for (const Entry& entry : entries())
        if (entry.type == type)
            result << entry.text;
    return result;
}

bool LogCapture::contains(QtMsgType type, const QString& fragment) const
{
    for (const QString& text : texts(type))
        if (text.contains(fragment))
            return true;
    return false;
}

void LogCapture::clear()
{
    QMutexLocker lock(&m_state->mutex);
    m_state->entries.clear();
}

} // namespace testsupport
