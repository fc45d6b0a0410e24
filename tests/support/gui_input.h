#pragma once

#include <QPoint>
#include <QString>
#include <Qt>

class QWidget;

namespace testsupport {

// Key presses and releases sent straight to a widget, as a person's typing arrives.
void keyClick(QWidget* widget, Qt::Key key, const QString& text = {}, Qt::KeyboardModifiers modifiers = {});
void keyClicks(QWidget* widget, const QString& text);
// A key press that the window's shortcuts see first, as one from the window system does.
void shortcutKeyClick(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers = {});

// One mouse event sent straight to a widget (its local position).
void mouseEvent(QWidget* widget, int type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons);

} // namespace testsupport
