#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPoint>
#include <QPointF>
#include <QString>

#include <cmath>
#include <limits>

// What a camera model reads from one scan folder: the lidar outline and the scan's metadata.
// The caller fills it with its current values; the model overwrites what the folder provides.
struct ScanData {
    QList<QPoint> lidarPoints;     // integer millimetres, scan coordinates, y downwards
    float lidarHeading = std::numeric_limits<float>::quiet_NaN(); // degrees
    QPointF position;              // millimetres
    float heading = 0.0f;          // degrees
    int shutterCounter = 0;
    bool shown = true;
    float temperature = 0.0f;
    QString temperatureSource;
    QJsonObject systemInfo;
    QJsonArray tags;
    QString globalId;
    int alignmentFlag = -1;        // 1 bad, 0 good, -1 unknown
    float alignmentScore = -1.0f;
    int lidarUptime = 0;
    qint64 captureTimestamp = 0;
    QString systemCfgName;         // calibration file the scan was taken with
    QJsonObject pictureParams;
};

// Values that steer how a one-lens lidar model reads a scan; the two-lens model ignores them.
struct LidarReadOptions {
    int headingSearchMode = 0;
    float phase = 0.0f;
    float amplitude = 0.0f;
    float offset = 0.0f;
};
