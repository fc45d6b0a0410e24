#pragma once

class QWidget;

// The one main window of the process (null before it is built and after it is gone). The seams'
// dialogs take it as their parent where the model asks for the window's; the window sets and
// clears it.
QWidget* mainWindowInstance();
void setMainWindowInstance(QWidget* window);
