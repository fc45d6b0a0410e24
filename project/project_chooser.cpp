#include "project/project_chooser.h"

#include "project/property.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {
const QString defaultDirKey = QStringLiteral("DefaultDir");
}

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

QString projectChooserStartDirectory()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QString start = QSettings().value(defaultDirKey, documents).toString();
    if (start.isEmpty() || !QFileInfo(start).isDir())
        start = documents;
    return QFileInfo(start).isDir() ? start : QString();
}

QStringList projectChooserPaths(const ProjectFolderChoice& choice)
{
    QStringList paths = choice.selected;
    paths.removeAll(choice.directory);
    if (paths.isEmpty())
        paths << choice.directory;
    return paths;
}

QStringList Property::chooseProjectFolders(QWidget* parent)
{
    const ProjectFolderChoice choice = userPrompt().projectFolders(parent, projectChooserStartDirectory());
    if (!choice.accepted)
        return {};
    const QStringList paths = projectChooserPaths(choice);
    QSettings().setValue(defaultDirKey, choice.directory);
    return paths;
}
