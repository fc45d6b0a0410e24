#include "project/gui_helpers.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressDialog>
#include <QPushButton>
#include <QTextEdit>
#include <QThread>
#include <QTimer>

void runOnMainThread(std::function<void()> fn, QObject* context)
{
    if (!fn)
        return;
    QCoreApplication* app = QCoreApplication::instance();
    Q_ASSERT(app);
    if (!app)
        return; // no GUI thread to run it on, ever
    // The timer is built here, handed to the GUI thread and started there by a queued call, so
    // nothing of it runs on the caller's thread and fn never runs inside this call.
    auto* timer = new QTimer;
    timer->moveToThread(app->thread());
    timer->setSingleShot(true);
    // With a context the connection dies with it, and the job with the connection.
    QObject* receiver = context ? context : timer;
    QObject::connect(
        timer, &QTimer::timeout, receiver, [job = std::move(fn)]() { job(); }, Qt::DirectConnection);
    QObject::connect(timer, &QTimer::timeout, timer, &QObject::deleteLater, Qt::DirectConnection);
    QMetaObject::invokeMethod(timer, "start", Qt::QueuedConnection, Q_ARG(int, 0));
}

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
