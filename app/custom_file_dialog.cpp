#include "app/custom_file_dialog.h"

#include <QFileInfo>

CustomFileDialog::CustomFileDialog(QWidget* parent)
    : QFileDialog(parent)
{
    setFileMode(QFileDialog::ExistingFile);
    setOption(QFileDialog::HideNameFilterDetails, true);
    setOption(QFileDialog::DontUseNativeDialog, true);
}

CustomFileDialog::~CustomFileDialog() = default;

void CustomFileDialog::accept()
{
    // The file dialog's own accept would open a selected folder; a project is a folder.
    const QStringList selected = selectedFiles();
    if (!selected.isEmpty() && QFileInfo(selected.first()).isDir()) {
        QDialog::accept();
        return;
    }
    QFileDialog::accept();
}

ProjectFolderChoice runProjectFolderDialog(QWidget* parent, const QString& startDirectory)
{
    CustomFileDialog dialog(parent);
    dialog.setOption(QFileDialog::DontUseCustomDirectoryIcons, true);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setOption(QFileDialog::DontResolveSymlinks, false);
    dialog.setOption(QFileDialog::ReadOnly, true);
    dialog.setWindowTitle(QObject::tr("Select project folder"));
    if (!startDirectory.isEmpty())
        dialog.setDirectory(startDirectory);
    dialog.resize(700, 500);
    ProjectFolderChoice choice;
    choice.accepted = dialog.exec() == QDialog::Accepted;
    if (choice.accepted) {
        choice.selected = dialog.selectedFiles();
        choice.directory = dialog.directory().absolutePath();
    }
    return choice;
}
