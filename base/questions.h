#pragma once

#include <QList>
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

// Every modal question and chooser of the program goes through this one seam, so that another
// implementation (a scripted one in the tests) can answer without a dialog ever blocking. The
// model sees only this; the application installs the implementation that shows real dialogs.
// Parents are the dialogs' owners and may be null.
class Questions {
public:
    // The values are the window system's own, so that the dialogs pass them through unchanged.
    enum Icon { NoIcon = 0, Information = 1, Warning = 2, Critical = 3, Question = 4 };
    enum Button : unsigned {
        NoButton = 0x00000000,
        Ok = 0x00000400,
        Save = 0x00000800,
        Open = 0x00002000,
        Yes = 0x00004000,
        YesToAll = 0x00008000,
        No = 0x00010000,
        NoToAll = 0x00020000,
        Abort = 0x00040000,
        Retry = 0x00080000,
        Ignore = 0x00100000,
        Close = 0x00200000,
        Cancel = 0x00400000,
        Discard = 0x00800000,
    };
    using Buttons = unsigned;
    enum Role { AcceptRole = 0, RejectRole = 1, DestructiveRole = 2, ActionRole = 3, ResetRole = 7 };

    // A named button of a message box and its role.
    struct NamedButton {
        QString text;
        Role role = AcceptRole;
    };

    virtual ~Questions() = default;

    // A message box with standard buttons; the button chosen (the escape button when closed).
    virtual Button question(QWidget* parent, Icon icon, const QString& title, const QString& text, Buttons buttons,
                            Button defaultButton) = 0;
    // A message box with buttons named by `buttons`; the index of the one chosen, -1 when the box
    // was closed without one.
    virtual int choice(QWidget* parent, Icon icon, const QString& title, const QString& text,
                       const QStringList& buttons, int defaultIndex) = 0;
    // Existing files; empty when cancelled.
    virtual QStringList openFileNames(QWidget* parent, const QString& caption, const QString& dir,
                                      const QString& filter) = 0;
    // An existing directory, chosen among folders only, symbolic links not resolved; empty when
    // cancelled.
    virtual QString existingDirectory(QWidget* parent, const QString& caption, const QString& dir) = 0;
    // Another floor of the building (or none), for a floor's underlay.
    virtual FloorChoice selectFloor(Building* building, Floor* exclude) = 0;
    // A message box with an informative text, the named buttons and the standard Cancel button as
    // its default; the index of the named button chosen, -1 for Cancel or a closed box. It belongs
    // to the application's window, which only the implementation knows.
    virtual int choiceOrCancel(Icon icon, const QString& title, const QString& text, const QString& informativeText,
                               const QList<NamedButton>& buttons) = 0;
    // The project folder chooser: a folder or an archive file, opened in startDirectory when
    // that is not empty.
    virtual ProjectFolderChoice projectFolders(QWidget* parent, const QString& startDirectory) = 0;
    // Runs a dialog the caller built (the export check, the export result) modally; its result code.
    virtual int runDialog(QDialog* dialog) = 0;
};

// The questions in use: the installed implementation, or one that answers every question with its
// default (and cancels every chooser) where the program has installed none.
Questions& questions();
// Installs `implementation` (not owned; null restores the default) and returns the one it replaces.
Questions* setQuestions(Questions* implementation);
