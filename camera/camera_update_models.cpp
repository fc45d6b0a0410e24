// The update operations of the two camera models that take updates, and what sets them apart.
#include "camera/cam_params_ztm5.h"
#include "camera/cam_params_ztm6.h"
#include "camera/camera_update.h"

namespace {

const QString kTransferred = QStringLiteral(
    "File successfuly transferred.\nFollow the instructions below:\n"
    "1 - Safely eject the USB Flash drive from the computer to avoid file corruption;\n");
const QString kOneBar = QStringLiteral("2 - Ensure the system battery has at least one bar of battery charge;\n");
const QString kInsertDrive =
    QStringLiteral("3 - Insert the USB Flash drive into the camera system and power it on;\n");
const QString kReconnect = QStringLiteral(
    "5 - If Nomivo does not reconnect automatically, ensure you are still connected to the camera over Wi-Fi;\n"
    "6 - In case of any Nomivo errors, clear browser history and navigate to ");

UsbUpdateVariant firmwareOnDrive(const QString& fileName, const QString& instructions)
{
    return {QStringLiteral("Firmware Update Procedure"),
            QStringLiteral("Please turn off the camera system, insert a USB Flash drive into this computer and "
                           "select it."),
            fileName, QStringLiteral("Could not copy firmware to: "), instructions, true};
}

UsbUpdateVariant systemFileOnDrive(const QString& instructions)
{
    return {QStringLiteral("System File Update Procedure"),
            QStringLiteral("Please turn off the camera system, insert your camera USB Flash drive into this "
                           "computer and select it."),
            QStringLiteral("system.cfg"), QStringLiteral("Could not copy file to: "), instructions, false};
}

} // namespace

CameraUpdateProfile twoLensUpdateProfile()
{
    CameraUpdateProfile profile;
    profile.wifiFirmwareText = QStringLiteral(
        "Please connect your computer to the camera using Wi-Fi before proceeding. Make sure battery level is "
        "above 25% and system is unplugged.");
    profile.connectionQuestion = QStringLiteral(
        "Quoril could not communicate with the camera via Wi-Fi. Please check if:\n1 - The camera is on;\n"
        "2 - Your computer is connected to dovane-xxxxxx Wi-Fi network.\n"
        "3 - Your computer is not connected to any other network (e.g. ethernet cable).\n\n"
        "Would you like to retry?");
    profile.statusCommand = QByteArrayLiteral(R"({"cmd": 12})");
    profile.firmwareApplyCommand = QByteArrayLiteral(R"({"cmd": 13, "fromRAM":1})");
    profile.systemFileApplyCommand = QByteArrayLiteral(R"({"cmd": 14, "fromRAM":1})");
    profile.commandContentType = QByteArrayLiteral("application/json");
    profile.firmwarePath = QStringLiteral("/store/fw6_update.7z");
    profile.returnCodeField = QStringLiteral("retCode");
    profile.versionField = QStringLiteral("fwVersion");
    profile.systemFileStampObject = QStringLiteral("systemcfg");
    profile.systemFileStampField = QStringLiteral("timestamp");
    profile.systemSerialField = QStringLiteral("systemSerial");
    profile.requiredSystemSerialPrefix = QStringLiteral("MX");
    profile.usbFirmware = firmwareOnDrive(
        QStringLiteral("fw6_update.7z"),
        kTransferred
            + QStringLiteral("2 - Ensure the system battery has at least two bars of battery charge and is unplugged;\n")
            + kInsertDrive
            + QStringLiteral("4 - Navigate in Nomivo to the Settings page and use the Update Firmware button;\n")
            + kReconnect);
    profile.usbSystemFile = systemFileOnDrive(
        kTransferred + kOneBar + kInsertDrive
        + QStringLiteral("4 - Navigate in Nomivo to the Settings page and use the Update System File button (not "
                         "to be confused with Update Firmware)."));
    return profile;
}

CameraUpdateProfile oneLensLidarUpdateProfile()
{
    CameraUpdateProfile profile;
    profile.wifiFirmwareText = QStringLiteral(
        "Please connect your computer to the camera using Wi-Fi before proceeding. Make sure battery level is "
        "above 20%.");
    profile.connectionQuestion = QStringLiteral(
        "Quoril could not communicate with the camera via Wi-Fi. Please check if:\n1 - The camera is on;\n"
        "2 - The Wi-Fi dongle is inserted;\n3 - Your computer is connected to korvessa-xxxxxx Wi-Fi network.\n"
        "4 - Your computer is not connected to any other network (e.g. ethernet cable).\n\n"
        "Would you like to retry?");
    profile.statusCommand = QByteArrayLiteral(R"({"cmd": 17})");
    profile.firmwareApplyCommand = QByteArrayLiteral(R"({"cmd": 18, "fromRAM":1})");
    profile.systemFileApplyCommand = QByteArrayLiteral(R"({"cmd": 19, "fromRAM":1})");
    // The camera reads the JSON text whatever the type says.
    profile.commandContentType = QByteArrayLiteral("application/x-www-form-urlencoded");
    profile.firmwarePath = QStringLiteral("/store/fw_update.7z");
    profile.returnCodeField = QStringLiteral("retcode");
    profile.versionField = QStringLiteral("fw_version");
    profile.systemFileStampField = QStringLiteral("systemcfg_timestamp");
    profile.minimumFirmwareForSystemFile = QVersionNumber(1, 3, 400);
    profile.minimumFirmwareForWifiUpdate = QVersionNumber(1, 3, 427);
    profile.usbFirmware = firmwareOnDrive(
        QStringLiteral("fw_update.7z"),
        kTransferred + kOneBar + kInsertDrive
            + QStringLiteral("4 - Navigate in Nomivo to the Manage tab and use the Update Firmware button;\n")
            + kReconnect);
    profile.usbSystemFile = systemFileOnDrive(
        kTransferred + kOneBar + kInsertDrive
        + QStringLiteral("4 - Navigate in Nomivo to the Manage tab and use the Update System File button (not to "
                         "be confused with Update Firmware)."));
    return profile;
}

void CamParamsZTM6::updateSystemFile(const QString& systemFile, int timestamp, QWidget* parent)
{
    startSystemFileUpdate(twoLensUpdateProfile(), cameraConnectionFromSettings(), systemFile, timestamp, parent);
}

void CamParamsZTM6::updateFirmware(const QString& firmwareFile, const QString& version, QWidget* parent)
{
    startFirmwareUpdate(twoLensUpdateProfile(), cameraConnectionFromSettings(), firmwareFile, version, parent);
}

void CamParamsZTM6::updateFirmwareViaUsb(const QString& firmwareFile, QWidget* parent)
{
    installUpdateViaUsb(twoLensUpdateProfile().usbFirmware, cameraConnectionFromSettings().address, firmwareFile,
                        parent);
}

void CamParamsZTM6::updateSystemFileViaUsb(const QString& systemFile, QWidget* parent)
{
    installUpdateViaUsb(twoLensUpdateProfile().usbSystemFile, cameraConnectionFromSettings().address, systemFile,
                        parent);
}

void CamParamsZTM5::updateSystemFile(const QString& systemFile, int timestamp, QWidget* parent)
{
    startSystemFileUpdate(oneLensLidarUpdateProfile(), cameraConnectionFromSettings(), systemFile, timestamp,
                          parent);
}

void CamParamsZTM5::updateFirmware(const QString& firmwareFile, const QString& version, QWidget* parent)
{
    startFirmwareUpdate(oneLensLidarUpdateProfile(), cameraConnectionFromSettings(), firmwareFile, version, parent);
}

void CamParamsZTM5::updateFirmwareViaUsb(const QString& firmwareFile, QWidget* parent)
{
    installUpdateViaUsb(oneLensLidarUpdateProfile().usbFirmware, cameraConnectionFromSettings().address,
                        firmwareFile, parent);
}

void CamParamsZTM5::updateSystemFileViaUsb(const QString& systemFile, QWidget* parent)
{
    installUpdateViaUsb(oneLensLidarUpdateProfile().usbSystemFile, cameraConnectionFromSettings().address,
                        systemFile, parent);
}
