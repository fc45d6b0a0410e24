#include "app/storage_check.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("StorageCheck", text);
}

bool removableFlagSet(const QString& sysfsDevice)
{
    QFile flag(sysfsDevice + QStringLiteral("/removable"));
    return flag.open(QIODevice::ReadOnly) && flag.read(8).trimmed() == "1";
}

} // namespace

bool isRemovableDrive(const QString& device, const QString& mountRoot, const QString& sysClassBlock)
{
    if (mountRoot.startsWith(QLatin1String("/media/")) || mountRoot.startsWith(QLatin1String("/run/media/")))
        return true;
    if (!device.startsWith(QLatin1String("/dev/")))
        return false;
    const QString name = QFileInfo(device).fileName();
    const QString sysfsPath = QFileInfo(sysClassBlock + QLatin1Char('/') + name).canonicalFilePath();
    if (sysfsPath.isEmpty())
        return false;
    if (sysfsPath.contains(QLatin1String("/usb")))
        return true;
    // A partition carries no flag of its own; its disk is the folder above it.
    return removableFlagSet(sysfsPath) || removableFlagSet(QFileInfo(sysfsPath).path());
}

StorageFacts storageFactsFor(const QString& path)
{
    StorageFacts facts;
    QStorageInfo storage(path);
    if (!storage.isValid())
        return facts;
    storage.refresh();
    facts.bytesAvailable = storage.bytesAvailable();
    facts.removable = isRemovableDrive(QString::fromLocal8Bit(storage.device()), storage.rootPath());
    return facts;
}

QStringList storageWarnings(const StorageFacts& facts)
{
    QStringList warnings;
    if (facts.removable)
        warnings << tr("The project is on a removable drive. Copy it to an internal disk before working on it: "
                       "saving and exporting are slower there, and the project may be damaged if the drive is "
                       "disconnected.");
    if (facts.bytesAvailable >= 0 && facts.bytesAvailable < kLowFreeSpaceBytes) {
        const double gigabytes = double(facts.bytesAvailable) / (1024.0 * 1024.0 * 1024.0);
        warnings << tr("Little free space is left on the project's disk (%1 GB). Processing and exporting the "
                       "panos may fail.")
                        .arg(gigabytes, 0, 'f', 1);
    }
    return warnings;
}

void warnAboutProjectStorage(const QString& projectFolder)
{
    if (projectFolder.isEmpty() || !QFileInfo(projectFolder).isDir())
        return;
    for (const QString& warning : storageWarnings(storageFactsFor(projectFolder)))
        qWarning().noquote() << warning;
}
