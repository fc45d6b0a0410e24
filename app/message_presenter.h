#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtGlobal>

class QMessageBox;
class QWidget;

// Shows the message handler's messages to the user while it lives: information in the pop-up,
// warnings and errors in a message box titled "Quoril". Messages logged on any thread are shown on
// the GUI thread, after the logging call has returned.
class MessagePresenter : public QObject {
    Q_OBJECT
public:
    // `window` anchors the pop-up and parents the boxes.
    explicit MessagePresenter(QWidget* window);
    ~MessagePresenter() override;

    // Process-wide switch: with blocking off (tests, QUORIL_NONBLOCKING_MESSAGES=1) a box is shown
    // without a modal loop of its own and deletes itself when closed.
    static void setBlockingBoxes(bool on);
    static bool blockingBoxes();

    // GUI thread.
    void present(QtMsgType type, const QString& text);

    // The box's text: the first line and "..." for a text of several lines, else the text.
    static QString boxText(const QString& message);

signals:
    // A box was opened (before a blocking box runs its loop).
    void boxOpened(QMessageBox* box);

private:
    void showBox(QtMsgType type, const QString& text);

    QPointer<QWidget> m_window;
    int m_sink = 0;
};
