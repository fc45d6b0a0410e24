#include "base/folder_access.h"

#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex& probeMutex()
{
    static QMutex mutex;
    return mutex;
}

WritableFolderProbe& probeValue()
{
    static WritableFolderProbe probe;
    return probe;
}

} // namespace

bool isWritableFolder(const QString& folder)
{
    WritableFolderProbe probe;
    {
        QMutexLocker lock(&probeMutex());
        probe = probeValue();
    }
    if (probe)
        return probe(folder);
    // The access check, unlike the permission bits, also knows a file system mounted read-only.
    const QFileInfo info(folder);
    return !folder.isEmpty() && info.isDir() && info.isWritable();
}

WritableFolderProbe setWritableFolderProbe(WritableFolderProbe probe)
{
    QMutexLocker lock(&probeMutex());
    std::swap(probeValue(), probe);
    return probe;
}
