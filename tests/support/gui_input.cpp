#include "support/gui_input.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>

namespace testsupport {

void keyClick(QWidget* widget, Qt::Key key, const QString& text, Qt::KeyboardModifiers modifiers)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(widget, &release);
}

void shortcutKeyClick(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QTest::keyClick(widget, key, modifiers);
}

void keyClicks(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        const int code = c.toUpper().unicode();
        const Qt::Key key = (code >= Qt::Key_Space && code <= Qt::Key_AsciiTilde) ? Qt::Key(code) : Qt::Key_unknown;
        keyClick(widget, key, QString(c));
    }
}

void mouseEvent(QWidget* widget, int type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(QEvent::Type(type), at, widget->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace testsupport
