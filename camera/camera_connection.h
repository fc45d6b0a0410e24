#pragma once

#include <QString>
#include <QUrl>

// Where the camera's HTTP service answers on the camera's own Wi-Fi network, and how long an
// exchange with it may stay silent before it counts as lost.
struct CameraConnection {
    static constexpr int kDefaultInactivityTimeoutMs = 60000;

    QString address; // "http://host[:port]", no trailing slash
    int inactivityTimeoutMs = kDefaultInactivityTimeoutMs;

    QUrl urlOf(const QString& path) const { return QUrl(address + path); }
};

// The setting that holds the camera's address, and its value when unset.
inline constexpr char kCameraUrlKey[] = "cameraUrl";
inline constexpr char kDefaultCameraUrl[] = "http://192.168.1.1";

// The camera's address from the settings, with the default time-out.
CameraConnection cameraConnectionFromSettings();
