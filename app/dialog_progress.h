#pragma once

#include "base/progress.h"

#include <QPointer>
#include <QProgressDialog>


// The progress the person sees: a modal progress dialog, on the GUI thread.
class DialogProgress : public Progress {
public:
    explicit DialogProgress(const ProgressRequest& request);
    ~DialogProgress() override;

    void setLabel(const QString& text) override;
    void setRange(int minimum, int maximum) override;
    void setValue(int value) override;
    bool wasCancelled() const override;
    void setCancelHandler(std::function<void()> handler) override;
    void waitUntilFinished() override;
    void finish() override;
    void setVisible(bool visible) override;

    QProgressDialog* dialog() const { return m_dialog; }

private:
    // Deleted with this, unless its parent window went first.
    QPointer<QProgressDialog> m_dialog;
    bool m_finished = false;
};

// What the application installs with setProgressFactory.
ProgressFactory dialogProgressFactory();
