#pragma once

#include "camera/camera_connection.h"
#include "camera/usb_update.h"

#include <QByteArray>
#include <QString>
#include <QVersionNumber>

class QWidget;

// How one camera model takes updates over its Wi-Fi: texts, commands, paths, the names of the
// reply fields, its gates, and the manual routes it falls back to.
struct CameraUpdateProfile {
    QString wifiFirmwareText;   // first box of a firmware update
    QString connectionQuestion; // after a failed connection: retry?
    QByteArray statusCommand;
    QByteArray firmwareApplyCommand;
    QByteArray systemFileApplyCommand;
    QByteArray commandContentType;
    QString firmwarePath; // where the firmware file is uploaded
    QString returnCodeField;
    QString versionField;          // the camera's firmware version, dotted
    QString systemFileStampObject; // object that holds the camera's system-file time stamp; empty: the reply
    QString systemFileStampField;
    QString systemSerialField;          // empty: not read
    QString requiredSystemSerialPrefix; // empty: any camera takes a system file
    QVersionNumber minimumFirmwareForSystemFile; // null: no such gate
    QVersionNumber minimumFirmwareForWifiUpdate; // older cameras are updated by USB drive; null: none
    UsbUpdateVariant usbFirmware;
    UsbUpdateVariant usbSystemFile;
};

// The two-lens camera and the one-lens camera with lidar.
CameraUpdateProfile twoLensUpdateProfile();
CameraUpdateProfile oneLensLidarUpdateProfile();

// The updates over the camera's Wi-Fi: a status request, the upload of the file, an apply command.
// Each returns once its first box is answered and the status request is on its way; the rest runs
// in the reply handlers on the GUI thread. Every failure ends in an offer of the manual route by
// USB drive. The file is opened and its size checked first: one that cannot be opened or is empty
// is refused before anything is sent; it stays open and is read only as the upload goes. The wait
// for the status has a Cancel: cancelling ends the update with nothing more sent or asked.
// Everything the update needs is copied, so it does not depend on the camera model or the project
// that started it. Its boxes go over `parent` until that window lets go of it
// (releaseUpdateWindow); after that they stand on their own.
void startFirmwareUpdate(const CameraUpdateProfile& profile, const CameraConnection& connection,
                         const QString& firmwareFile, const QString& version, QWidget* parent);
void startSystemFileUpdate(const CameraUpdateProfile& profile, const CameraConnection& connection,
                           const QString& systemFile, int timestamp, QWidget* parent);
// A window that closes lets go of the updates it started: their later boxes and busy views have no
// parent. GUI thread only.
void releaseUpdateWindow(QWidget* window);
