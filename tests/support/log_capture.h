#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>

namespace testsupport {

// Records the information, warning and critical messages logged while it lives (any thread),
// through the program's own message handler.
class LogCapture {
public:
    struct Entry {
        QtMsgType type;
        QString text;
    };

    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QList<Entry> entries() const;
    QStringList texts(QtMsgType type) const;
    // True when some message of that type contains the fragment.
    bool contains(QtMsgType type, const QString& fragment) const;
    void clear();

private:
    struct State;
    std::shared_ptr<State> m_state;
    int m_handle = 0;
};

} // namespace testsupport
