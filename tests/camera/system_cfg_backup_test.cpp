#include "camera/cam_params_ztm6.h"
#include "camera/system_cfg_backup.h"

#include "support/system_cfg_fixture.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <stdexcept>

using namespace testsupport;

namespace {
// A model whose write breaks off half way, as a full disk would leave it.
class BrokenWriteModel : public CamParamsZTM6 {
public:
    bool saveSystemFile(const QString& path) override
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(QByteArray(40, 'x'));
        return false;
    }
};

class SystemCfgBackup : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        cfg = dir.filePath("system.cfg");
        orig = dir.filePath("system.orig");
    }

    // The error text of a save that is expected to throw.
    static std::string errorOf(CamParams& model, const QString& path)
    {
        try {
            saveSystemCfgWithBackup(model, path);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "no error";
    }

    QStringList entries() const { return QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden); }

    QTemporaryDir dir;
    QString cfg;
    QString orig;
};
} // namespace

TEST_F(SystemCfgBackup, FirstBackupIsKeptAcrossSaves)
{
    makeSystemCfg(cfg, {"--timestamp", "20200101"});
    const QByteArray oldest = readFile(cfg);
    CamParamsZTM6 model;
    ASSERT_TRUE(model.loadSystemFile(cfg));

    model.setTimestamp(20240102);
    saveSystemCfgWithBackup(model, cfg);
    EXPECT_EQ(readFile(orig), oldest);
    CamParamsZTM6 reread;
    ASSERT_TRUE(reread.loadSystemFile(cfg));
    EXPECT_EQ(reread.timestamp(), 20240102);

    model.setTimestamp(20240303);
    saveSystemCfgWithBackup(model, cfg);
    EXPECT_EQ(readFile(orig), oldest);
    ASSERT_TRUE(reread.loadSystemFile(cfg));
    EXPECT_EQ(reread.timestamp(), 20240303);
    EXPECT_EQ(entries(), (QStringList{"system.cfg", "system.orig"}));
}

TEST_F(SystemCfgBackup, ReplacementKeepsTheFilesAccessRights)
{
    makeSystemCfg(cfg);
    // Neither the temporary file's 0600 nor a new file's usual 0644.
    const QFile::Permissions rights = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    const QFile::Permissions ownerGroupOther(0xF0FF);
    ASSERT_TRUE(QFile::setPermissions(cfg, rights));
    CamParamsZTM6 model;
    ASSERT_TRUE(model.loadSystemFile(cfg));
    saveSystemCfgWithBackup(model, cfg);
    EXPECT_EQ(QFile::permissions(cfg) & ownerGroupOther, rights);
}

TEST_F(SystemCfgBackup, FailedWriteLeavesTheOldFileAndThrows)
{
    makeSystemCfg(cfg);
    const QByteArray before = readFile(cfg);
    BrokenWriteModel model;
    ASSERT_TRUE(model.loadSystemFile(cfg));
    EXPECT_EQ(errorOf(model, cfg), "Failed to save system.cfg");
    EXPECT_EQ(readFile(cfg), before);
    EXPECT_EQ(readFile(orig), before);
    EXPECT_EQ(entries(), (QStringList{"system.cfg", "system.orig"}));
}

TEST_F(SystemCfgBackup, FolderInPlaceOfTheFileIsNotReplaced)
{
    makeSystemCfg(dir.filePath("source.cfg"));
    CamParamsZTM6 model;
    ASSERT_TRUE(model.loadSystemFile(dir.filePath("source.cfg")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("system.cfg"));
    writeFile(dir.filePath("system.cfg/inside"), "kept");

    // No backup yet: the folder cannot be copied.
    EXPECT_EQ(errorOf(model, cfg), "Failed to rename system.cfg to system.orig");
    EXPECT_FALSE(QFile::exists(orig));

    // With a backup in place the write itself fails.
    writeFile(orig, "older");
    EXPECT_EQ(errorOf(model, cfg), "Failed to save system.cfg");
    EXPECT_EQ(readFile(dir.filePath("system.cfg/inside")), "kept");
    EXPECT_EQ(readFile(orig), "older");
    EXPECT_EQ(entries(), (QStringList{"source.cfg", "system.cfg", "system.orig"}));
}

TEST_F(SystemCfgBackup, MissingFileIsNotSaved)
{
    CamParamsZTM6 model;
    EXPECT_EQ(errorOf(model, cfg), "Failed to rename system.cfg to system.orig");
    EXPECT_TRUE(entries().isEmpty());
}

TEST_F(SystemCfgBackup, BackupIsNamedAfterTheNameUpToItsFirstDot)
{
    EXPECT_EQ(systemCfgBackupPath("/p/q/system.cfg"), "/p/q/system.orig");
    EXPECT_EQ(systemCfgBackupPath("/p/q/cal.v2.cfg"), "/p/q/cal.orig");
}
