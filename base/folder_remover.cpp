#include "base/folder_remover.h"

#include "base/file_names.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

bool removeFolderInsideProject(const QString& projectFolder, const QStringList& components)
{
    if (projectFolder.isEmpty() || !QDir::isAbsolutePath(projectFolder) || components.isEmpty())
        return false;
    for (const QString& part : components)
        if (!isPlainName(part))
            return false;
    const QString path = projectFolder + "/" + components.join('/');
    const QFileInfo info(path);
    if (info.isSymLink())
        return QFile::remove(path);
    if (!info.exists())
        return true;
    if (!info.isDir())
        return false;
    return QDir(path).removeRecursively();
}
