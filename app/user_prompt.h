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

// What the project folder chooser came back with.
struct ProjectFolderChoice {
    bool accepted = false;
    QStringList selected; // the entries selected when the dialog was accepted
    QString directory;    // absolute path of the directory the dialog showed last
};

// A named button of a message box and its role.
struct NamedButton {
    QString text;
    QMessageBox::ButtonRole role = QMessageBox::AcceptRole;
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
    // A message box with an informative text, the named buttons and the standard Cancel button as
    // its default; the index of the named button chosen, -1 for Cancel or a closed box.
    virtual int choiceOrCancel(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                               const QString& text, const QString& informativeText,
                               const QList<NamedButton>& buttons) = 0;
    // The project folder chooser: a folder or an archive file, opened in startDirectory when
    // that is not empty.
    virtual ProjectFolderChoice projectFolders(QWidget* parent, const QString& startDirectory) = 0;
    // Runs a dialog the caller built (the export check, the export result) modally; its result code.
    virtual int runDialog(QDialog* dialog);
};

// The prompt in use: the real dialogs unless another one was installed.
UserPrompt& userPrompt();
// Installs `prompt` (not owned; null restores the real dialogs) and returns the one it replaces.
UserPrompt* setUserPrompt(UserPrompt* prompt);

// When this environment variable names a project folder or archive, the real project chooser
// returns it at once without showing a dialog.
inline constexpr const char* kProjectFolderVariable = "QUORIL_PROJECT_FOLDER";

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
    int choiceOrCancel(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                       const QString& informativeText, const QList<NamedButton>& buttons) override;
    ProjectFolderChoice projectFolders(QWidget* parent, const QString& startDirectory) override;
};
