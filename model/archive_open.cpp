#include "model/archive_open.h"

#include "base/file_names.h"
#include "base/tar_reader.h"

#include <QDir>
#include <QFileInfo>

#include <stdexcept>

QString archiveProjectFolder(const QStringList& entryNames)
{
    for (const QString& entry : entryNames) {
        if (!entry.endsWith(QLatin1String("draft.djs")) && !entry.endsWith(QLatin1String("quoril_exp.qjs")))
            continue;
        const QString folder = QFileInfo(QDir::cleanPath(entry)).path();
        if (!isPlainName(folder))
            throw std::runtime_error(
                QObject::tr("The archive's project files are not inside one project folder: %1").arg(entry).toStdString());
        return folder;
    }
    throw std::runtime_error(QObject::tr("Could not locate draft/quoril export project files.").toStdString());
}

QString archiveTargetName(const QString& archiveFileName)
{
    qsizetype at = archiveFileName.indexOf(QLatin1String("-export-data."));
    if (at < 0)
        at = archiveFileName.indexOf(QLatin1String("-quoril-data."));
    if (at < 1)
        return {};
    const QString name = archiveFileName.left(at).trimmed();
    return isPlainName(name) ? name : QString();
}

QString unpackExportArchive(const QString& tarPath)
{
    const QFileInfo archive(tarPath);
    const QString folderName = archiveProjectFolder(extractTar(tarPath));
    const QString archiveDir = archive.absolutePath();
    const QString extracted = archiveDir + "/" + folderName;
    const QString target = archiveTargetName(archive.fileName());
    if (target.isEmpty() || target == folderName)
        return extracted;
    const QString targetPath = archiveDir + "/" + target;
    // A rename onto an existing (empty) folder would replace it; such a name is left alone.
    if (QFileInfo::exists(targetPath) || !QDir().rename(extracted, targetPath))
        return extracted;
    return targetPath;
}
