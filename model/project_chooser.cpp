#include "model/project_chooser.h"

#include "model/property.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {
const QString defaultDirKey = QStringLiteral("DefaultDir");
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
    const ProjectFolderChoice choice = questions().projectFolders(parent, projectChooserStartDirectory());
    if (!choice.accepted)
        return {};
    const QStringList paths = projectChooserPaths(choice);
    QSettings().setValue(defaultDirKey, choice.directory);
    return paths;
}
