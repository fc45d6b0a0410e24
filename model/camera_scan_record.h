#pragma once

#include "camera/scan_data.h"

#include <QJsonObject>

// What the scans of every camera model share when they are read from their folders.

// The lidar reader's values for the camera's own calibration.
inline constexpr LidarReadOptions kOwnCalibration{0, 0.0f, -1.0f, 0.0f};

// The capture record of a camera scan: what its metadata say about the moment it was taken.
QJsonObject captureRecord(const ScanData& data);
