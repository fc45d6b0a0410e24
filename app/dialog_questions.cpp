#include "app/dialog_questions.h"

#include "app/custom_file_dialog.h"
#include "app/floor_select_dialog.h"
#include "app/main_window_instance.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

// The seam's values are handed to the message box as they are.
static_assert(int(Questions::Warning) == int(QMessageBox::Warning) && int(Questions::Question) == int(QMessageBox::Question)
              && int(Questions::Critical) == int(QMessageBox::Critical)
              && int(Questions::Information) == int(QMessageBox::Information));
static_assert(unsigned(Questions::Yes) == unsigned(QMessageBox::Yes) && unsigned(Questions::No) == unsigned(QMessageBox::No)
              && unsigned(Questions::Ok) == unsigned(QMessageBox::Ok)
              && unsigned(Questions::Save) == unsigned(QMessageBox::Save)
              && unsigned(Questions::Discard) == unsigned(QMessageBox::Discard)
              && unsigned(Questions::Cancel) == unsigned(QMessageBox::Cancel)
              && unsigned(Questions::YesToAll) == unsigned(QMessageBox::YesToAll)
              && unsigned(Questions::Close) == unsigned(QMessageBox::Close)
              && unsigned(Questions::Retry) == unsigned(QMessageBox::Retry)
              && unsigned(Questions::Ignore) == unsigned(QMessageBox::Ignore));
static_assert(int(Questions::AcceptRole) == int(QMessageBox::AcceptRole)
              && int(Questions::RejectRole) == int(QMessageBox::RejectRole)
              && int(Questions::DestructiveRole) == int(QMessageBox::DestructiveRole)
              && int(Questions::ActionRole) == int(QMessageBox::ActionRole)
              && int(Questions::ResetRole) == int(QMessageBox::ResetRole));

namespace {

QMessageBox::Icon boxIcon(Questions::Icon icon)
{
    return static_cast<QMessageBox::Icon>(icon);
}

} // namespace

DialogQuestions& dialogQuestions()
{
    static DialogQuestions dialogs;
    return dialogs;
}

int DialogQuestions::runDialog(QDialog* dialog)
{
    return dialog->exec();
}

Questions::Button DialogQuestions::question(QWidget* parent, Icon icon, const QString& title, const QString& text,
                                            Buttons buttons, Button defaultButton)
{
    QMessageBox box(boxIcon(icon), title, text, QMessageBox::StandardButtons(buttons), parent);
    box.setDefaultButton(static_cast<QMessageBox::StandardButton>(defaultButton));
    box.exec();
    return static_cast<Button>(box.standardButton(box.clickedButton()));
}

int DialogQuestions::choice(QWidget* parent, Icon icon, const QString& title, const QString& text,
                            const QStringList& buttons, int defaultIndex)
{
    QMessageBox box(boxIcon(icon), title, text, QMessageBox::NoButton, parent);
    QList<QPushButton*> pushButtons;
    for (const QString& label : buttons)
        pushButtons << box.addButton(label, QMessageBox::AcceptRole);
    if (defaultIndex >= 0 && defaultIndex < pushButtons.size())
        box.setDefaultButton(pushButtons[defaultIndex]);
    box.exec();
    return static_cast<int>(pushButtons.indexOf(qobject_cast<QPushButton*>(box.clickedButton())));
}

QStringList DialogQuestions::openFileNames(QWidget* parent, const QString& caption, const QString& dir,
                                           const QString& filter)
{
    return QFileDialog::getOpenFileNames(parent, caption, dir, filter);
}

QString DialogQuestions::existingDirectory(QWidget* parent, const QString& caption, const QString& dir)
{
    // A drive's folder is taken as it is shown: a link is not followed elsewhere.
    return QFileDialog::getExistingDirectory(parent, caption, dir,
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}

FloorChoice DialogQuestions::selectFloor(Building* building, Floor* exclude)
{
    return FloorSelectDialog::run(building, exclude);
}

int DialogQuestions::choiceOrCancel(Icon icon, const QString& title, const QString& text,
                                    const QString& informativeText, const QList<NamedButton>& buttons)
{
    QMessageBox box(boxIcon(icon), title, text, QMessageBox::NoButton, mainWindowInstance());
    box.setInformativeText(informativeText);
    QList<QAbstractButton*> named;
    for (const NamedButton& button : buttons)
        named << box.addButton(button.text, static_cast<QMessageBox::ButtonRole>(button.role));
    box.setDefaultButton(box.addButton(QMessageBox::Cancel));
    box.exec();
    return static_cast<int>(named.indexOf(box.clickedButton()));
}

ProjectFolderChoice DialogQuestions::projectFolders(QWidget* parent, const QString& startDirectory)
{
    // Unattended runs (the screenshot test) name the project instead of choosing it.
    const QString named = qEnvironmentVariable(kProjectFolderVariable);
    if (!named.isEmpty()) {
        const QFileInfo project(named);
        return {true, {project.absoluteFilePath()}, project.absolutePath()};
    }
    return runProjectFolderDialog(parent, startDirectory);
}
