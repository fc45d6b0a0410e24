#include "model/project_chooser.h"

#include "model/constants.h"
#include "model/property.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

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

bool looksLikeProjectFolder(const QString& path)
{
    if (!QFileInfo(path).isDir())
        return false;
    const QStringList markers{QStringLiteral("system.cfg"), QStringLiteral("project.json"), projectFileName,
                              "~" + projectFileName, exportProjectFileName, draftProjectFileName};
    const QDir folder(path);
    return std::any_of(markers.cbegin(), markers.cend(),
                       [&](const QString& name) { return QFileInfo(folder.filePath(name)).isFile(); });
}
