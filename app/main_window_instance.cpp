#include "app/main_window_instance.h"

#include <QAtomicPointer>

namespace {
QAtomicPointer<QWidget> parentWindow;
}

QWidget* mainWindowInstance()
{
    return parentWindow.loadAcquire();
}

void setMainWindowInstance(QWidget* window)
{
    parentWindow.storeRelease(window);
}
