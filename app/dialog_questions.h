#pragma once

#include "base/questions.h"

// When this environment variable names a project folder or archive, the real project chooser
// returns it at once without showing a dialog.
inline constexpr const char* kProjectFolderVariable = "QUORIL_PROJECT_FOLDER";

// The real dialogs behind the question seam.
class DialogQuestions : public Questions {
public:
    Button question(QWidget* parent, Icon icon, const QString& title, const QString& text, Buttons buttons,
                    Button defaultButton) override;
    int choice(QWidget* parent, Icon icon, const QString& title, const QString& text, const QStringList& buttons,
               int defaultIndex) override;
    QStringList openFileNames(QWidget* parent, const QString& caption, const QString& dir,
                              const QString& filter) override;
    QString existingDirectory(QWidget* parent, const QString& caption, const QString& dir) override;
    FloorChoice selectFloor(Building* building, Floor* exclude) override;
    int choiceOrCancel(Icon icon, const QString& title, const QString& text, const QString& informativeText,
                       const QList<NamedButton>& buttons) override;
    ProjectFolderChoice projectFolders(QWidget* parent, const QString& startDirectory) override;
    int runDialog(QDialog* dialog) override;
};

// The dialogs every run of the program asks through; installed by main before the window exists.
DialogQuestions& dialogQuestions();
