#include "camera/system_cfg_backup.h"

#include "camera/cam_params.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace {
bool syncToDisk(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

// The model writes a temporary file beside the target, which then replaces the target in one
// rename: a failed write never leaves a truncated calibration behind.
bool saveThroughTemporary(CamParams& model, const QString& path)
{
    const QFileInfo target(path);
    QTemporaryFile temporary(target.path() + "/." + target.fileName() + ".XXXXXX");
    if (!temporary.open())
        return false;
    const QString temporaryPath = temporary.fileName();
    temporary.close();
    // The replacement keeps the access rights of the file it replaces.
    const QFile::Permissions rights = target.exists() ? target.permissions()
                                                      : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    QFile::setPermissions(temporaryPath, rights);
    if (!model.saveSystemFile(temporaryPath) || !syncToDisk(temporaryPath))
        return false;
    if (::rename(QFile::encodeName(temporaryPath).constData(), QFile::encodeName(path).constData()) != 0)
        return false;
    temporary.setAutoRemove(false);
    return true;
}
} // namespace

QString systemCfgBackupPath(const QString& path)
{
    const QFileInfo info(path);
    return info.path() + "/" + info.baseName() + ".orig";
}

void saveSystemCfgWithBackup(CamParams& model, const QString& path)
{
    const QString backup = systemCfgBackupPath(path);
    // Copied rather than moved away, so the calibration stays in place until the new one is complete.
    if (!QFileInfo::exists(backup) && !QFile::copy(path, backup))
        throw std::runtime_error("Failed to rename system.cfg to system.orig");
    if (!saveThroughTemporary(model, path))
        throw std::runtime_error("Failed to save system.cfg");
}
