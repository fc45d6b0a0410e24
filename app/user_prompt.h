#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

class Building;
class Floor;
class QDialog;
class QWidget;

struct FloorChoice {
    Floor* floor = nullptr; // null: "None"
    bool cancelled = true;
};

// Every modal question and chooser of the program goes through this one seam, so that another
// implementation (a scripted one in the tests) can answer without a dialog ever blocking.
class UserPrompt {
public:
    virtual ~UserPrompt() = default;

    // A message box with standard buttons; the button chosen (the escape button when closed).
    virtual QMessageBox::StandardButton question(QWidget* parent, QMessageBox::Icon icon,
                                                 const QString& title, const QString& text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton) = 0;
    // A message box with buttons named by `buttons`; the index of the one chosen, -1 when the box
    // was closed without one.
    virtual int choice(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                       const QString& text, const QStringList& buttons, int defaultIndex) = 0;
    // Existing files; empty when cancelled.
    virtual QStringList openFileNames(QWidget* parent, const QString& caption, const QString& dir,
                                      const QString& filter) = 0;
    // An existing directory; empty when cancelled.
    virtual QString existingDirectory(QWidget* parent, const QString& caption, const QString& dir) = 0;
    // Another floor of the building (or none), for a floor's underlay.
    virtual FloorChoice selectFloor(Building* building, Floor* exclude) = 0;
    // Runs a dialog the caller built (the export check, the export result) modally; its result code.
    virtual int runDialog(QDialog* dialog);
};

// The prompt in use: the real dialogs unless another one was installed.
UserPrompt& userPrompt();
// Installs `prompt` (not owned; null restores the real dialogs) and returns the one it replaces.
UserPrompt* setUserPrompt(UserPrompt* prompt);

// The real dialogs.
class DialogPrompt : public UserPrompt {
public:
    QMessageBox::StandardButton question(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                         const QString& text, QMessageBox::StandardButtons buttons,
                                         QMessageBox::StandardButton defaultButton) override;
    int choice(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
               const QStringList& buttons, int defaultIndex) override;
    QStringList openFileNames(QWidget* parent, const QString& caption, const QString& dir,
                              const QString& filter) override;
    QString existingDirectory(QWidget* parent, const QString& caption, const QString& dir) override;
    FloorChoice selectFloor(Building* building, Floor* exclude) override;
};
