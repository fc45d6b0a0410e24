#pragma once

#include <QList>
#include <QObject>
#include <QVariant>

namespace testsupport {

// Counts the emissions of one signal and keeps the arguments of each.
class SignalCounter {
public:
    template <typename Sender, typename... Args>
    SignalCounter(Sender* sender, void (Sender::*signal)(Args...))
    {
        m_connection = QObject::connect(sender, signal, [this](Args... args) {
            m_calls.append(QVariantList{QVariant::fromValue(args)...});
        });
    }
    ~SignalCounter() { QObject::disconnect(m_connection); }
    SignalCounter(const SignalCounter&) = delete;
    SignalCounter& operator=(const SignalCounter&) = delete;

    int count() const { return static_cast<int>(m_calls.size()); }
    const QVariantList& at(int i) const { return m_calls.at(i); }
    void clear() { m_calls.clear(); }

private:
    QMetaObject::Connection m_connection;
    QList<QVariantList> m_calls;
};

} // namespace testsupport
