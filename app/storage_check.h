#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Where a project lives: a removable drive is slow and may go away during a save; a nearly full
// disk makes the panos and the export fail half-way.
struct StorageFacts {
    bool removable = false;
    qint64 bytesAvailable = -1; // -1: unknown
};

inline constexpr qint64 kLowFreeSpaceBytes = qint64(5) * 1024 * 1024 * 1024;

// Linux block devices: `device` is a node such as "/dev/sdb1"; the drive counts as removable when
// sysfs marks it (or the whole disk it is a partition of) removable or it hangs off USB, or when
// it is mounted under a desktop's media folder.
bool isRemovableDrive(const QString& device, const QString& mountRoot,
                      const QString& sysClassBlock = QStringLiteral("/sys/class/block"));

StorageFacts storageFactsFor(const QString& path);

// The warnings for these facts, in the order removable drive, free space.
QStringList storageWarnings(const StorageFacts& facts);

// Logs each warning for the project folder.
void warnAboutProjectStorage(const QString& projectFolder);
