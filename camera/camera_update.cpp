#include "camera/camera_update.h"

#include "base/questions.h"
#include "camera/camera_request.h"

#include <QFile>
#include <QJsonObject>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// An update file larger than this is no camera's: sending it would hold the link for long for nothing.
constexpr qint64 kMaxUpdateFileBytes = qint64(2) * 1024 * 1024 * 1024;

// What the firmware and the system-file updates say at each point.
struct FlowTexts {
    QString title;
    QString invalidStatus;
    QString uploadPath;
    QString uploadBusy;
    QString uploadRejected;
    QString applyBusy; // empty: no busy view
    QString applyRejected;
    QString success;
};

const QString kManualQuestion = QStringLiteral("Would you like to try the manual procedure?");
const QString kNoWifiUpdate = QStringLiteral(
    "Camera firmware does not support Wi-Fi update. We will guide you through the manual procedure instead.");

FlowTexts firmwareTexts(const CameraUpdateProfile& profile)
{
    const QString rejected = QStringLiteral(
        "Quoril received an invalid response from the camera and will guide you through the manual procedure "
        "instead.");
    return {QStringLiteral("Firmware Update"),
            QStringLiteral("Quoril received an invalid response from camera."),
            profile.firmwarePath,
            QStringLiteral("Uploading file... Do not power system off."),
            rejected,
            QStringLiteral("Updating firmware..."),
            rejected,
            QStringLiteral("Firmware updated successfully and system is now rebooting.")};
}

FlowTexts systemFileTexts()
{
    return {QStringLiteral("System File Update"),
            QStringLiteral("Quoril received an invalid response from the camera."),
            QStringLiteral("/store/system.cfg"),
            QStringLiteral("Uploading file..."),
            QStringLiteral("Quoril got an invalid response from the camera when uploading the file and will guide "
                           "you through the manual procedure instead."),
            QString(),
            QStringLiteral("Quoril got an invalid response from the camera after uploading the file and will guide "
                           "you through the manual procedure instead."),
            QStringLiteral("Update finished successfully!")};
}

// The window an update started over, shared by the update and the list below so that the window can
// let go of every update it started when it closes (GUI thread only).
struct WindowSlot {
    QWidget* window = nullptr;
};

std::vector<std::weak_ptr<WindowSlot>>& windowSlots()
{
    static std::vector<std::weak_ptr<WindowSlot>> registered;
    return registered;
}

std::shared_ptr<WindowSlot> slotFor(QWidget* window)
{
    auto& registered = windowSlots();
    registered.erase(std::remove_if(registered.begin(), registered.end(),
                                    [](const std::weak_ptr<WindowSlot>& slot) { return slot.expired(); }),
                     registered.end());
    auto slot = std::make_shared<WindowSlot>(WindowSlot{window});
    registered.push_back(slot);
    return slot;
}

// One update under way: everything its steps need, copied when it starts.
struct Update {
    enum Kind { Firmware, SystemFile };
    Kind kind = Firmware;
    CameraUpdateProfile profile;
    CameraConnection connection;
    FlowTexts texts;
    QString file;
    FileBody body; // the file as checked when the update started, open until it ends
    QString version;   // firmware: the new version
    int timestamp = 0; // system file: the new file's time stamp
    std::shared_ptr<WindowSlot> window; // the window that started the update, until it closes

    // What the boxes and busy views go over: the window may close while the camera works.
    QWidget* parent() const { return window ? window->window : nullptr; }

    const UsbUpdateVariant& usbVariant() const
    {
        return kind == Firmware ? profile.usbFirmware : profile.usbSystemFile;
    }
};
using UpdateRef = std::shared_ptr<const Update>;

void tell(const Update& update, Questions::Icon icon, const QString& text)
{
    questions().question(update.parent(), icon, update.texts.title, text, Questions::Ok, Questions::Ok);
}

bool agrees(const Update& update, const QString& text)
{
    return questions().question(update.parent(), Questions::Question, update.texts.title, text,
                                Questions::Yes | Questions::No, Questions::No)
        == Questions::Yes;
}

void takeManualRoute(const Update& update)
{
    installUpdateViaUsb(update.usbVariant(), update.connection.address, update.file, update.parent());
}

// The update file opened and its size checked, or false once the person was told why there is
// none. It stays open, so that a download replaced meanwhile does not change what is sent; it is
// read only as the upload goes.
bool openUpdateFile(const Update& update, FileBody& body)
{
    auto file = std::make_shared<QFile>(update.file);
    // Read straight from the system: the pieces go to the socket as they are.
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        tell(update, Questions::Warning, QStringLiteral("Could not open file: ") + update.file);
        return false;
    }
    const qint64 size = file->size();
    if (size > kMaxUpdateFileBytes) {
        tell(update, Questions::Warning, QStringLiteral("The file is too large for a camera update: ") + update.file);
        return false;
    }
    if (size <= 0) {
        tell(update, Questions::Warning, QStringLiteral("The file is empty: ") + update.file);
        return false;
    }
    body = {std::move(file), size};
    return true;
}

QVersionNumber cameraFirmware(const Update& update, const QJsonObject& status)
{
    return QVersionNumber::fromString(status.value(update.profile.versionField).toString());
}

void run(Update update);

void restart(const Update& update)
{
    Update again = update;
    again.body = {}; // opened afresh: the file may have changed meanwhile
    run(std::move(again));
}

void offerManualRoute(const Update& update)
{
    if (agrees(update, kManualQuestion))
        takeManualRoute(update);
}

// Whether the firmware update goes on over Wi-Fi after the status reply.
bool firmwareGatesPass(const Update& update, const QJsonObject& status)
{
    const QVersionNumber camera = cameraFirmware(update, status);
    if (!(camera < QVersionNumber::fromString(update.version))
        && !agrees(update, QStringLiteral("Firmware is already updated. There is no need to do anything.\n"
                                          "Would you like to update anyway?")))
        return false;
    const QVersionNumber& wifiMinimum = update.profile.minimumFirmwareForWifiUpdate;
    if (!wifiMinimum.isNull() && camera < wifiMinimum) {
        tell(update, Questions::Information, kNoWifiUpdate);
        takeManualRoute(update);
        return false;
    }
    return true;
}

// Whether the system-file update goes on over Wi-Fi after the status reply.
bool systemFileGatesPass(const Update& update, const QJsonObject& status)
{
    const CameraUpdateProfile& profile = update.profile;
    const QJsonObject stampHolder =
        profile.systemFileStampObject.isEmpty() ? status : status.value(profile.systemFileStampObject).toObject();
    if (stampHolder.value(profile.systemFileStampField).toInteger() >= update.timestamp
        && !agrees(update, QStringLiteral("System file is already updated. There is no need to do anything.\n"
                                          "Would you like to update anyway?")))
        return false;
    if (!profile.requiredSystemSerialPrefix.isEmpty()
        && !status.value(profile.systemSerialField).toString().startsWith(profile.requiredSystemSerialPrefix)) {
        tell(update, Questions::Information, QStringLiteral("Camera does not support this system file."));
        return false;
    }
    const QVersionNumber camera = cameraFirmware(update, status);
    if (!profile.minimumFirmwareForSystemFile.isNull() && camera < profile.minimumFirmwareForSystemFile) {
        tell(update, Questions::Information,
             QStringLiteral("Camera firmware v") + camera.toString()
                 + QStringLiteral(" does not support this system file. Update it first."));
        return false;
    }
    if (!profile.minimumFirmwareForWifiUpdate.isNull() && camera < profile.minimumFirmwareForWifiUpdate) {
        tell(update, Questions::Information, kNoWifiUpdate);
        takeManualRoute(update);
        return false;
    }
    return true;
}

CameraRequest command(const Update& update, const QByteArray& json, const QString& busyText)
{
    return {.path = QStringLiteral("/cmd"),
            .contentType = update.profile.commandContentType,
            .body = json,
            .busyText = busyText,
            .returnCodeField = update.profile.returnCodeField};
}

void onApplied(const UpdateRef& update, const CameraReply& reply)
{
    if (reply.kind == CameraReply::Valid) {
        tell(*update, Questions::Information, update->texts.success);
        return;
    }
    tell(*update, Questions::Warning, update->texts.applyRejected);
    takeManualRoute(*update);
}

void onUploaded(const UpdateRef& update, const CameraReply& reply)
{
    // A file the camera did not take whole must never be applied.
    if (reply.kind != CameraReply::Valid) {
        tell(*update, Questions::Warning, update->texts.uploadRejected);
        takeManualRoute(*update);
        return;
    }
    const QByteArray& apply = update->kind == Update::Firmware ? update->profile.firmwareApplyCommand
                                                               : update->profile.systemFileApplyCommand;
    postToCamera(update->connection, command(*update, apply, update->texts.applyBusy), update->parent(),
                 [update](const CameraReply& applied) { onApplied(update, applied); });
}

void onStatus(const UpdateRef& update, const CameraReply& reply)
{
    if (reply.kind == CameraReply::ConnectionFailure) {
        if (agrees(*update, update->profile.connectionQuestion))
            restart(*update);
        else
            offerManualRoute(*update);
        return;
    }
    if (reply.kind == CameraReply::BadAnswer) {
        tell(*update, Questions::Warning, update->texts.invalidStatus);
        offerManualRoute(*update);
        return;
    }
    const bool goOn = update->kind == Update::Firmware ? firmwareGatesPass(*update, reply.object)
                                                       : systemFileGatesPass(*update, reply.object);
    if (!goOn)
        return;
    const CameraRequest upload{.path = update->texts.uploadPath,
                               .contentType = QByteArrayLiteral("application/octet-stream"),
                               .busyText = update->texts.uploadBusy,
                               .returnCodeField = update->profile.returnCodeField,
                               .fileBody = update->body};
    postToCamera(update->connection, upload, update->parent(),
                 [update](const CameraReply& uploaded) { onUploaded(update, uploaded); });
}

void run(Update update)
{
    if (!openUpdateFile(update, update.body))
        return;
    const QString wifiText = update.kind == Update::Firmware
        ? update.profile.wifiFirmwareText
        : QStringLiteral("Please connect your computer to the camera using Wi-Fi before proceeding.");
    tell(update, Questions::Information, wifiText);
    const auto shared = std::make_shared<const Update>(std::move(update));
    // Nothing has reached the camera yet: the person may stop here, and the update ends quietly.
    CameraRequest status =
        command(*shared, shared->profile.statusCommand, QStringLiteral("Communicating with the camera..."));
    status.cancellable = true;
    postToCamera(shared->connection, status, shared->parent(),
                 [shared](const CameraReply& reply) { onStatus(shared, reply); });
}

} // namespace

void releaseUpdateWindow(QWidget* window)
{
    for (const auto& weak : windowSlots())
        if (const auto slot = weak.lock(); slot && slot->window == window)
            slot->window = nullptr;
}

void startFirmwareUpdate(const CameraUpdateProfile& profile, const CameraConnection& connection,
                         const QString& firmwareFile, const QString& version, QWidget* parent)
{
    Update update;
    update.kind = Update::Firmware;
    update.profile = profile;
    update.connection = connection;
    update.texts = firmwareTexts(profile);
    update.file = firmwareFile;
    update.version = version;
    update.window = slotFor(parent);
    run(std::move(update));
}

void startSystemFileUpdate(const CameraUpdateProfile& profile, const CameraConnection& connection,
                           const QString& systemFile, int timestamp, QWidget* parent)
{
    Update update;
    update.kind = Update::SystemFile;
    update.profile = profile;
    update.connection = connection;
    update.texts = systemFileTexts();
    update.file = systemFile;
    update.timestamp = timestamp;
    update.window = slotFor(parent);
    run(std::move(update));
}
