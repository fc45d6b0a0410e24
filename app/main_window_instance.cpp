#include "app/main_window_instance.h"

#include <QPointer>
#include <QWidget>

namespace {
QPointer<QWidget>& mainWindowPointer()
{
    static QPointer<QWidget> window;
    return window;
}
}

QWidget* mainWindowInstance()
{
    return mainWindowPointer().data();
}

void setMainWindowInstance(QWidget* window)
{
    mainWindowPointer() = window;
}
