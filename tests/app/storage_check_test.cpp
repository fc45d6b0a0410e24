#include "app/storage_check.h"
#include "support/log_capture.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// A miniature sysfs: class/block/<name> links into devices/..., where the disk folders carry
// their "removable" flags.
struct FakeSysfs {
    QTemporaryDir dir;
    QString classBlock() const { return dir.filePath("class/block"); }

    void addDisk(const QString& devicePath, const QString& disk, const QString& flag,
                 const QStringList& partitions)
    {
        const QString diskFolder = dir.filePath("devices/" + devicePath + "/block/" + disk);
        QDir().mkpath(diskFolder);
        QDir().mkpath(classBlock());
        writeFile(diskFolder + "/removable", flag.toUtf8() + "\n");
        QFile::link(diskFolder, classBlock() + "/" + disk);
        for (const QString& partition : partitions) {
            QDir().mkpath(diskFolder + "/" + partition);
            QFile::link(diskFolder + "/" + partition, classBlock() + "/" + partition);
        }
    }
};

} // namespace

TEST(StorageCheck, RemovableDrivesAreKnownBySysfsOrTheirMountPlace)
{
    FakeSysfs sys;
    sys.addDisk("pci0000:00/ata1/host0", "sda", "0", {"sda1", "sda2"});
    sys.addDisk("pci0000:00/ata2/host1", "sdb", "1", {"sdb1"});
    sys.addDisk("pci0000:00/usb2/2-1/host6", "sdc", "0", {"sdc1"});
    sys.addDisk("pci0000:00/nvme0", "nvme0n1", "0", {"nvme0n1p1"});
    const QString root = "/mnt/data";
    EXPECT_FALSE(isRemovableDrive("/dev/sda1", root, sys.classBlock()));
    EXPECT_FALSE(isRemovableDrive("/dev/nvme0n1p1", root, sys.classBlock()));
    EXPECT_TRUE(isRemovableDrive("/dev/sdb1", root, sys.classBlock()));
    EXPECT_TRUE(isRemovableDrive("/dev/sdb", root, sys.classBlock()));
    EXPECT_TRUE(isRemovableDrive("/dev/sdc1", root, sys.classBlock()));
    EXPECT_FALSE(isRemovableDrive("/dev/sdz1", root, sys.classBlock()));
    EXPECT_FALSE(isRemovableDrive("overlay", "/", sys.classBlock()));
    EXPECT_TRUE(isRemovableDrive("overlay", "/media/user/STICK", sys.classBlock()));
    EXPECT_TRUE(isRemovableDrive("/dev/sda1", "/run/media/user/STICK", sys.classBlock()));
}

TEST(StorageCheck, WarnsAboutRemovableDrivesAndLittleFreeSpace)
{
    EXPECT_TRUE(storageWarnings({false, kLowFreeSpaceBytes}).isEmpty());
    EXPECT_TRUE(storageWarnings({false, -1}).isEmpty());
    const QStringList low = storageWarnings({false, kLowFreeSpaceBytes - 1});
    ASSERT_EQ(low.size(), 1);
    EXPECT_TRUE(low[0].startsWith("Little free space")) << low[0].toStdString();
    EXPECT_TRUE(low[0].contains("(5.0 GB)"));
    const QStringList both = storageWarnings({true, 1536LL * 1024 * 1024});
    ASSERT_EQ(both.size(), 2);
    EXPECT_TRUE(both[0].contains("removable drive"));
    EXPECT_TRUE(both[1].contains("(1.5 GB)"));
}

TEST(StorageCheck, ProjectFolderIsLookedAtWhereItIs)
{
    QTemporaryDir dir;
    const StorageFacts facts = storageFactsFor(dir.path());
    EXPECT_GT(facts.bytesAvailable, 0);
    LogCapture log;
    warnAboutProjectStorage(dir.filePath("missing"));
    EXPECT_TRUE(log.entries().isEmpty());
    warnAboutProjectStorage(dir.path());
    EXPECT_EQ(log.texts(QtWarningMsg), storageWarnings(facts));
}
