#include "model/property.h"

#include "base/folder_access.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

bool Property::isReadOnlyFolder() const
{
    return !m_folder.isEmpty() && QFileInfo(m_folder).isDir() && !isWritableFolder(m_folder);
}

QString Property::cacheFolder() const
{
    // One folder per project folder path, so that two projects never share what was made for them.
    const QString path = QDir::cleanPath(QFileInfo(m_folder).absoluteFilePath());
    const QString key = QString::fromLatin1(
        QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex().left(20));
    QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    // Without a home folder there is no user cache; never a path from the root.
    if (cache.isEmpty())
        cache = QDir::tempPath() + "/quoril-cache";
    return cache + "/read-only-projects/" + key;
}

QString Property::writableProjectFolder() const
{
    if (!isReadOnlyFolder())
        return m_folder;
    const QString cache = cacheFolder();
    QDir().mkpath(cache);
    return cache;
}

QString Property::readOnlyFolderText() const
{
    return tr("The project folder \"%1\" is read-only (read-only media, or a folder you may not write to): Quoril "
              "shows the project but cannot save changes there. To keep changes, copy the project folder to a disk "
              "you can write to and open the copy.")
        .arg(QDir::toNativeSeparators(m_folder));
}
