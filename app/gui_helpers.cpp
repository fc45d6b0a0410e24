#include "app/gui_helpers.h"

#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTextEdit>

QProgressDialog* createProgressDialog(const QString& label, QWidget* parent, const QString& cancelText,
                                      int maximum)
{
    auto* dialog = new QProgressDialog(label, cancelText, 0, maximum, parent,
                                       Qt::Dialog | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint
                                           | Qt::CustomizeWindowHint);
    dialog->setModal(true);
    dialog->setMinimumDuration(0);
    dialog->show();
    dialog->resize(dialog->sizeHint().width() + 20, dialog->height());
    QCoreApplication::processEvents();
    return dialog;
}

void clearFocusWidget()
{
    if (QWidget* focused = QApplication::focusWidget())
        focused->clearFocus();
}

namespace {

QAbstractButton* showDetailsButton(QMessageBox* box)
{
    // The details toggle is an action-role button like any the caller added (e.g. "Create AMBREL");
    // only its own label tells it apart.
    const QString showLabel = QMessageBox::tr("Show Details...");
    for (QAbstractButton* button : box->buttons()) {
        if (box->buttonRole(button) == QMessageBox::ActionRole && button->text() == showLabel)
            return button;
    }
    return nullptr;
}

} // namespace

void expandMessageBoxDetails(QMessageBox* box)
{
    if (!box || box->detailedText().isEmpty())
        return;
    if (QAbstractButton* details = showDetailsButton(box))
        details->click();
    const QList<QTextEdit*> edits = box->findChildren<QTextEdit*>();
    if (!edits.isEmpty())
        edits.first()->setFixedSize(750, 250);
}
