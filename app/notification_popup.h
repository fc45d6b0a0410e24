#pragma once

#include <QFrame>
#include <QStringList>

class QLabel;
class QTimer;

// The transient pop-up of information messages. There is at most one: a new message is added to
// the open pop-up, which closes 5000 ms after its last message; the count pauses while the mouse is
// over it. It has no parent and deletes itself when it closes.
class NotificationPopup : public QFrame {
    Q_OBJECT
public:
    static constexpr int kCloseDelayMs = 5000;
    static constexpr int kMaxLines = 10;

    // Adds a message to the open pop-up, or opens one at the lower right of `anchor` (GUI thread).
    static NotificationPopup* showMessage(const QString& text, QWidget* anchor);
    // The open pop-up, or null.
    static NotificationPopup* current();

    const QStringList& messages() const { return m_messages; }
    const QTimer* closeTimer() const { return m_closeTimer; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    NotificationPopup();
    ~NotificationPopup() override;
    // From now on messages open a new pop-up.
    void unregister();
    void addMessage(const QString& text);
    void placeAt(QWidget* anchor);

    QLabel* m_label = nullptr;
    QTimer* m_closeTimer = nullptr;
    QStringList m_messages;
};
