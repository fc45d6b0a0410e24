#pragma once

#include <QString>

#include <functional>
#include <memory>

class QWidget;

// How long work shows a person how far it is and learns that they want it to stop. The model and
// the readers below it see only this; the application hands in the dialogs that implement it.
// All calls come from the GUI thread.
class Progress {
public:
    virtual ~Progress() = default;

    virtual void setLabel(const QString& text) = 0;
    virtual void setRange(int minimum, int maximum) = 0;
    // Also gives the person's view a chance to repaint.
    virtual void setValue(int value) = 0;
    virtual bool wasCancelled() const = 0;
    // Called once, on the GUI thread, when the person asks to cancel. The view is still in use
    // while the handler runs: work that ends there lets go of it later, not inside the handler.
    virtual void setCancelHandler(std::function<void()> handler) = 0;
    // Waits, with the view painted and its Cancel answering, until finish() is called (from a
    // slot or a handler that runs meanwhile) or the person cancels.
    virtual void waitUntilFinished() = 0;
    // Ends a wait and takes the view away.
    virtual void finish() = 0;
    // Steps aside while a question of the same work is asked, and comes back after it.
    virtual void setVisible(bool visible) = 0;
};

struct ProgressRequest {
    QString title;
    QString label;
    QString cancelText; // empty: the work cannot be cancelled
    int minimum = 0;
    int maximum = 0;
    QWidget* parent = nullptr;
    // Without a parent: the view belongs to the application's window, which only the application
    // knows (its implementation puts it in).
    bool ownedByWindow = false;
    bool applicationModal = false;
    int minimumWidth = 0;
    // A view that waits for work to wind down: it shows only once waitUntilFinished() is called.
    bool hiddenUntilWaiting = false;
};

using ProgressFactory = std::function<std::unique_ptr<Progress>(const ProgressRequest&)>;

// A view of the installed kind; without one, a headless progress that is never cancelled.
std::unique_ptr<Progress> openProgress(const ProgressRequest& request);
// Installs the factory the application's dialogs come from (an empty one restores the headless
// kind) and returns the one it replaces. Called on the GUI thread before any work starts.
ProgressFactory setProgressFactory(ProgressFactory factory);

// The progress used where no person watches: it records what it was told and waits in a local
// event loop.
class HeadlessProgress : public Progress {
public:
    explicit HeadlessProgress(const ProgressRequest& request);
    ~HeadlessProgress() override;

    void setLabel(const QString& text) override { m_request.label = text; }
    void setRange(int minimum, int maximum) override;
    void setValue(int value) override { m_value = value; }
    bool wasCancelled() const override { return m_cancelled; }
    void setCancelHandler(std::function<void()> handler) override { m_cancelHandler = std::move(handler); }
    void waitUntilFinished() override;
    void finish() override;
    void setVisible(bool visible) override { m_visible = visible; }

    // What a test reads back or does in a person's place.
    const ProgressRequest& request() const { return m_request; }
    int value() const { return m_value; }
    bool isVisible() const { return m_visible; }
    void cancel();

private:
    ProgressRequest m_request;
    int m_value = 0;
    bool m_cancelled = false;
    bool m_finished = false;
    bool m_visible = true;
    std::function<void()> m_cancelHandler;
    struct Loop;
    std::unique_ptr<Loop> m_loop;
};
