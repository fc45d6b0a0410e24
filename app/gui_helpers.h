#pragma once

#include <QString>

#include "base/main_thread.h"

class QMessageBox;
class QObject;
class QProgressDialog;
class QWidget;

// A modal progress dialog with a title bar but no close button, shown and painted at once.
// It belongs to parent; the caller closes or deletes it when the job ends.
QProgressDialog* createProgressDialog(const QString& label, QWidget* parent, const QString& cancelText,
                                      int maximum);

// Takes the keyboard focus from whichever widget holds it, so pending edits are committed.
void clearFocusWidget();

// Opens the details area of a box that has detailed text and fixes the text at 750 x 250.
void expandMessageBoxDetails(QMessageBox* box);
