#include "app/dialog_progress.h"

#include "app/main_window_instance.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QProgressDialog>

namespace {

// A view that only its work or its Cancel ends. Escape and closing the window are the person's
// Cancel where there is one; where there is none they would only hide the view while the work
// goes on and later speaks up out of nowhere, so they do nothing.
class WorkDialog : public QProgressDialog {
public:
    WorkDialog(const QString& label, const QString& cancelText, int minimum, int maximum, QWidget* parent,
               Qt::WindowFlags flags)
        : QProgressDialog(label, cancelText, minimum, maximum, parent, flags)
        , m_cancellable(!cancelText.isEmpty())
    {
        if (!m_cancellable)
            setCancelButton(nullptr);
    }

protected:
    // Escape, when no shortcut took it first.
    void reject() override
    {
        if (m_cancellable)
            emit canceled();
    }
    void closeEvent(QCloseEvent* event) override
    {
        if (m_cancellable)
            QProgressDialog::closeEvent(event);
        else
            event->ignore();
    }

private:
    bool m_cancellable;
};

} // namespace

DialogProgress::DialogProgress(const ProgressRequest& request)
{
    QWidget* parent = request.parent || !request.ownedByWindow ? request.parent : mainWindowInstance();
    if (request.hiddenUntilWaiting) {
        // Only a wait for running work to wind down shows it; it cannot be cancelled itself.
        m_dialog = new WorkDialog(request.label, QString(), request.minimum, request.maximum, parent,
                                  Qt::Window | Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
        m_dialog->reset(); // stays closed until needed, also past the dialog's own show timer
        return;
    }
    // Configured whole before it shows, so that its first paint already says what it is.
    // A view that can be cancelled can be closed too, which cancels it.
    const Qt::WindowFlags closeButton = request.cancelText.isEmpty() ? Qt::WindowFlags() : Qt::WindowCloseButtonHint;
    m_dialog = new WorkDialog(request.label, request.cancelText, request.minimum, request.maximum, parent,
                              Qt::Dialog | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint
                                  | closeButton);
    m_dialog->setModal(true);
    if (request.applicationModal)
        m_dialog->setWindowModality(Qt::ApplicationModal);
    m_dialog->setMinimumDuration(0);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    if (!request.title.isEmpty())
        m_dialog->setWindowTitle(request.title);
    if (request.minimumWidth > 0)
        m_dialog->setMinimumWidth(request.minimumWidth);
    m_dialog->show();
    m_dialog->resize(m_dialog->sizeHint().width() + 20, m_dialog->height());
    QCoreApplication::processEvents();
}

DialogProgress::~DialogProgress()
{
    delete m_dialog.data();
}

void DialogProgress::setLabel(const QString& text)
{
    if (!m_dialog)
        return;
    m_dialog->setLabelText(text);
    QCoreApplication::processEvents();
}

void DialogProgress::setRange(int minimum, int maximum)
{
    if (m_dialog)
        m_dialog->setRange(minimum, maximum);
}

void DialogProgress::setValue(int value)
{
    if (!m_dialog)
        return;
    m_dialog->setValue(value);
    QCoreApplication::processEvents();
}

bool DialogProgress::wasCancelled() const
{
    // A view whose window is gone can no longer be watched: the work stops as if cancelled.
    return !m_dialog || m_dialog->wasCanceled();
}

void DialogProgress::setCancelHandler(std::function<void()> handler)
{
    if (!m_dialog)
        return;
    QObject::connect(m_dialog, &QProgressDialog::canceled, m_dialog, [handler = std::move(handler)] {
        if (handler)
            handler();
    });
}

void DialogProgress::waitUntilFinished()
{
    if (m_dialog && !m_finished && !m_dialog->wasCanceled())
        m_dialog->exec();
}

void DialogProgress::finish()
{
    m_finished = true;
    // Hidden, not closed: the dialog takes a close for its Cancel.
    if (m_dialog)
        m_dialog->hide();
}

void DialogProgress::setVisible(bool visible)
{
    if (m_dialog)
        m_dialog->setVisible(visible);
}

ProgressFactory dialogProgressFactory()
{
    return [](const ProgressRequest& request) -> std::unique_ptr<Progress> {
        return std::make_unique<DialogProgress>(request);
    };
}
