#pragma once

class QWidget;

// The one main window of the process (null before it is built and after it is gone); the parent
// of the progress dialogs and questions that the model opens.
QWidget* mainWindowInstance();
void setMainWindowInstance(QWidget* window);
