#include "camera/cam_params_ztm5.h"
#include "camera/cam_params_ztm6.h"
#include "camera/usb_update.h"
#include "camera_update_fixture.h"

#include <QDir>
#include <QFile>

#include <functional>

using namespace testsupport;

namespace {

// A folder that stands for a USB drive: every folder inside it is on that volume.
class FolderVolumes : public VolumeProbe {
public:
    explicit FolderVolumes(const QString& root) : m_root(root) { m_previous = setVolumeProbe(this); }
    ~FolderVolumes() override { setVolumeProbe(m_previous); }
    QString readyVolumeRoot(const QString& folder) const override
    {
        return folder == m_root || folder.startsWith(m_root + "/") ? m_root : QString();
    }

private:
    QString m_root;
    const VolumeProbe* m_previous = nullptr;
};

const QString kTwoLensFirmwareDone =
    "File successfuly transferred.\nFollow the instructions below:\n1 - Safely eject the USB Flash drive from the "
    "computer to avoid file corruption;\n2 - Ensure the system battery has at least two bars of battery charge and is "
    "unplugged;\n3 - Insert the USB Flash drive into the camera system and power it on;\n4 - Navigate in Nomivo to the "
    "Settings page and use the Update Firmware button;\n5 - If Nomivo does not reconnect automatically, ensure you are "
    "still connected to the camera over Wi-Fi;\n6 - In case of any Nomivo errors, clear browser history and navigate "
    "to ";
const QString kTwoLensSystemFileDone =
    "File successfuly transferred.\nFollow the instructions below:\n1 - Safely eject the USB Flash drive from the "
    "computer to avoid file corruption;\n2 - Ensure the system battery has at least one bar of battery charge;\n3 - "
    "Insert the USB Flash drive into the camera system and power it on;\n4 - Navigate in Nomivo to the Settings page "
    "and use the Update System File button (not to be confused with Update Firmware).";
const QString kOneLensFirmwareDone =
    "File successfuly transferred.\nFollow the instructions below:\n1 - Safely eject the USB Flash drive from the "
    "computer to avoid file corruption;\n2 - Ensure the system battery has at least one bar of battery charge;\n3 - "
    "Insert the USB Flash drive into the camera system and power it on;\n4 - Navigate in Nomivo to the Manage tab and "
    "use the Update Firmware button;\n5 - If Nomivo does not reconnect automatically, ensure you are still connected "
    "to the camera over Wi-Fi;\n6 - In case of any Nomivo errors, clear browser history and navigate to ";
const QString kOneLensSystemFileDone =
    "File successfuly transferred.\nFollow the instructions below:\n1 - Safely eject the USB Flash drive from the "
    "computer to avoid file corruption;\n2 - Ensure the system battery has at least one bar of battery charge;\n3 - "
    "Insert the USB Flash drive into the camera system and power it on;\n4 - Navigate in Nomivo to the Manage tab and "
    "use the Update System File button (not to be confused with Update Firmware).";
const QString kFirmwareFirst =
    "Please turn off the camera system, insert a USB Flash drive into this computer and select it.";
const QString kSystemFileFirst =
    "Please turn off the camera system, insert your camera USB Flash drive into this computer and select it.";

class UsbUpdate : public CameraUpdateTest {
protected:
    UsbUpdate() { QDir().mkpath(drive + "/DCIM/100"); }

    const QString drive = dir.filePath("drive");
    FolderVolumes volumes{drive};
    const QByteArray update = pseudoRandomBytes(9 * 1024 * 1024 + 5, 3); // more than one piece of the copy
    const QString download = write("Downloads/fw6_update (1).7z", update);
    const QString webAddress = "http://10.1.2.3";

    // The first box answered and `folder` picked; further answers may follow.
    ScriptedQuestions& pickFolder(const QString& folder)
    {
        QSettings().setValue(kCameraUrlKey, webAddress + "/");
        return prompt.answerQuestion(Questions::Ok).answerDirectory(folder);
    }
    QStringList errors() const { return log.texts(QtCriticalMsg); }
};

struct Variant {
    const char* name;
    std::function<void(const QString& file)> run;
    QString title;
    QString first;
    QString fileName;
    QString done;
};

TEST_F(UsbUpdate, EachModelPutsItsFileAtTheDrivesRootAndSaysHowToGoOn)
{
    CamParamsZTM6 twoLens;
    CamParamsZTM5 oneLens;
    const QList<Variant> variants{
        {"two-lens firmware", [&](const QString& f) { twoLens.updateFirmwareViaUsb(f, nullptr); },
         "Firmware Update Procedure", kFirmwareFirst, "fw6_update.7z", kTwoLensFirmwareDone + webAddress},
        {"two-lens system file", [&](const QString& f) { twoLens.updateSystemFileViaUsb(f, nullptr); },
         "System File Update Procedure", kSystemFileFirst, "system.cfg", kTwoLensSystemFileDone},
        {"one-lens firmware", [&](const QString& f) { oneLens.updateFirmwareViaUsb(f, nullptr); },
         "Firmware Update Procedure", kFirmwareFirst, "fw_update.7z", kOneLensFirmwareDone + webAddress},
        {"one-lens system file", [&](const QString& f) { oneLens.updateSystemFileViaUsb(f, nullptr); },
         "System File Update Procedure", kSystemFileFirst, "system.cfg", kOneLensSystemFileDone},
    };
    for (const Variant& variant : variants) {
        SCOPED_TRACE(variant.name);
        const QString file = write(QString("Downloads/%1.bin").arg(variant.name), update);
        const qsizetype before = prompt.asked().size();
        // A folder deep inside the drive: the camera looks only at the root.
        pickFolder(drive + "/DCIM/100").answerQuestion(Questions::Ok);
        variant.run(file);
        ASSERT_EQ(prompt.asked().size() - before, 3);
        const auto& first = prompt.asked()[before];
        EXPECT_EQ(first.title, variant.title);
        EXPECT_EQ(first.text, variant.first);
        const auto& chooser = prompt.asked()[before + 1];
        EXPECT_EQ(chooser.kind, "directory chooser");
        EXPECT_EQ(chooser.title, "Select your camera USB Flash drive");
        EXPECT_EQ(chooser.text, QString()) << "no starting folder";
        const auto& done = prompt.asked()[before + 2];
        EXPECT_EQ(done.title, variant.title);
        EXPECT_EQ(done.text, variant.done);
        EXPECT_EQ(done.icon, Questions::Information);

        EXPECT_TRUE(readFile(drive + "/" + variant.fileName) == update);
        EXPECT_FALSE(QFile::exists(drive + "/DCIM/100/" + variant.fileName));
        EXPECT_FALSE(QFile::exists(file)) << "the download is moved, not copied";
    }
    EXPECT_EQ(listTree(drive), QStringList({"DCIM/", "DCIM/100/", "fw6_update.7z", "fw_update.7z", "system.cfg"}))
        << "no temporary file is left behind";
    EXPECT_TRUE(errors().isEmpty());
}

TEST_F(UsbUpdate, AnOlderFileOnTheDriveIsReplaced)
{
    writeFile(drive + "/fw6_update.7z", "an older firmware, longer than nothing");
    pickFolder(drive).answerQuestion(Questions::Ok);
    CamParamsZTM6().updateFirmwareViaUsb(download, nullptr);
    EXPECT_TRUE(readFile(drive + "/fw6_update.7z") == update);
    EXPECT_FALSE(QFile::exists(download));
}

TEST_F(UsbUpdate, ACopyThatBreaksOffLeavesTheOlderFileAndTheDownload)
{
    const QString target = drive + "/fw6_update.7z";
    const QByteArray older = "an older firmware";
    writeFile(target, older);
    // The copy is written beside the target first; here that place is a full disk.
    ASSERT_TRUE(QFile::link("/dev/full", target + ".part"));
    pickFolder(drive);
    CamParamsZTM6().updateFirmwareViaUsb(download, nullptr);

    EXPECT_EQ(errors(), QStringList({"\"Could not copy firmware to: " + target + "\""}));
    EXPECT_TRUE(readFile(target) == older);
    EXPECT_TRUE(readFile(download) == update);
    EXPECT_EQ(prompt.asked().size(), 2) << "no instructions after a failed copy";
}

TEST_F(UsbUpdate, AFolderWhereTheFileGoesFailsTheCopyAndKeepsTheDownload)
{
    const QString target = drive + "/system.cfg";
    QDir().mkpath(target + "/inside");
    pickFolder(drive + "/DCIM");
    CamParamsZTM5().updateSystemFileViaUsb(download, nullptr);
    EXPECT_EQ(errors(), QStringList({"\"Could not copy file to: " + target + "\""}));
    EXPECT_TRUE(QFileInfo(target + "/inside").isDir());
    EXPECT_TRUE(readFile(download) == update);
    EXPECT_FALSE(QFile::exists(target + ".part"));
}

TEST_F(UsbUpdate, AFolderOffAnyReadyVolumeIsReportedAndNothingMoves)
{
    const QString elsewhere = dir.filePath("Downloads");
    pickFolder(elsewhere);
    CamParamsZTM6().updateSystemFileViaUsb(download, nullptr);
    EXPECT_EQ(errors(), QStringList({"\"Selected storage is not ready/valid: " + elsewhere + "\""}));
    EXPECT_TRUE(readFile(download) == update);
    EXPECT_EQ(listTree(drive), QStringList({"DCIM/", "DCIM/100/"}));
}

TEST_F(UsbUpdate, CancellingTheChooserEndsQuietly)
{
    pickFolder(QString());
    CamParamsZTM5().updateFirmwareViaUsb(download, nullptr);
    EXPECT_TRUE(log.entries().isEmpty());
    EXPECT_TRUE(QFile::exists(download));
    EXPECT_EQ(listTree(drive), QStringList({"DCIM/", "DCIM/100/"}));
}

TEST_F(UsbUpdate, AFileAlreadyInItsPlaceOnTheDriveStaysThere)
{
    const QString onDrive = drive + "/fw6_update.7z";
    writeFile(onDrive, update);
    pickFolder(drive).answerQuestion(Questions::Ok);
    CamParamsZTM6().updateFirmwareViaUsb(onDrive, nullptr);
    EXPECT_TRUE(readFile(onDrive) == update);
    EXPECT_TRUE(errors().isEmpty());
}

TEST_F(UsbUpdate, TheSystemsProbeFindsTheVolumeOfARealFolder)
{
    // Reading only: which volume holds the test's own folder, and none for a folder that is not there.
    setVolumeProbe(nullptr);
    const QString root = volumeProbe().readyVolumeRoot(dir.path());
    EXPECT_FALSE(root.isEmpty());
    EXPECT_TRUE(dir.path().startsWith(root));
    EXPECT_TRUE(volumeProbe().readyVolumeRoot(dir.filePath("no such folder")).isEmpty());
    setVolumeProbe(&volumes);
}

} // namespace
