#include "app/user_prompt.h"

#include "project/floor_select_dialog.h"
#include "project/project_chooser.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>

namespace {
UserPrompt* installedPrompt = nullptr;
}

UserPrompt& userPrompt()
{
    static DialogPrompt dialogs;
    return installedPrompt ? *installedPrompt : dialogs;
}

UserPrompt* setUserPrompt(UserPrompt* prompt)
{
    UserPrompt* previous = installedPrompt;
    installedPrompt = prompt;
    return previous;
}

int UserPrompt::runDialog(QDialog* dialog)
{
    return dialog->exec();
}

QMessageBox::StandardButton DialogPrompt::question(QWidget* parent, QMessageBox::Icon icon,
                                                   const QString& title, const QString& text,
                                                   QMessageBox::StandardButtons buttons,
                                                   QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, title, text, buttons, parent);
    box.setDefaultButton(defaultButton);
    box.exec();
    return box.standardButton(box.clickedButton());
}

int DialogPrompt::choice(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                         const QString& text, const QStringList& buttons, int defaultIndex)
{
    QMessageBox box(icon, title, text, QMessageBox::NoButton, parent);
    QList<QPushButton*> pushButtons;
    for (const QString& label : buttons)
        pushButtons << box.addButton(label, QMessageBox::AcceptRole);
    if (defaultIndex >= 0 && defaultIndex < pushButtons.size())
        box.setDefaultButton(pushButtons[defaultIndex]);
    box.exec();
    return static_cast<int>(pushButtons.indexOf(qobject_cast<QPushButton*>(box.clickedButton())));
}

QStringList DialogPrompt::openFileNames(QWidget* parent, const QString& caption, const QString& dir,
                                        const QString& filter)
{
    return QFileDialog::getOpenFileNames(parent, caption, dir, filter);
}

QString DialogPrompt::existingDirectory(QWidget* parent, const QString& caption, const QString& dir)
{
    return QFileDialog::getExistingDirectory(parent, caption, dir);
}

FloorChoice DialogPrompt::selectFloor(Building* building, Floor* exclude)
{
    return FloorSelectDialog::run(building, exclude);
}

int DialogPrompt::choiceOrCancel(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                 const QString& text, const QString& informativeText,
                                 const QList<NamedButton>& buttons)
{
    QMessageBox box(icon, title, text, QMessageBox::NoButton, parent);
    box.setInformativeText(informativeText);
    QList<QAbstractButton*> named;
    for (const NamedButton& button : buttons)
        named << box.addButton(button.text, button.role);
    box.setDefaultButton(box.addButton(QMessageBox::Cancel));
    box.exec();
    return static_cast<int>(named.indexOf(box.clickedButton()));
}

ProjectFolderChoice DialogPrompt::projectFolders(QWidget* parent, const QString& startDirectory)
{
    // Unattended runs (the screenshot test) name the project instead of choosing it.
    const QString named = qEnvironmentVariable(kProjectFolderVariable);
    if (!named.isEmpty()) {
        const QFileInfo project(named);
        return {true, {project.absoluteFilePath()}, project.absolutePath()};
    }
    return runProjectFolderDialog(parent, startDirectory);
}
