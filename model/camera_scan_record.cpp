#include "model/camera_scan_record.h"

#include <QJsonValue>

#include <cmath>

QJsonObject captureRecord(const ScanData& data)
{
    QJsonObject record{
        {"captureTimestamp", QJsonValue(data.captureTimestamp)},
        {"shutterCounter", data.shutterCounter},
        {"temperature", static_cast<double>(data.temperature)},
        {"temperatureSource", data.temperatureSource},
        {"lidarUptime", data.lidarUptime},
        {"system", data.systemInfo},
        {"takePictureParams", data.pictureParams},
        {"systemcfg", data.systemCfgName},
        {"globalId", data.globalId},
        {"alignmentScore", static_cast<double>(data.alignmentScore)},
    };
    const QString serial = data.systemInfo.value("cameraSerialNumber").toString();
    if (!serial.isEmpty())
        record["cameraSerialNumber"] = serial;
    if (std::isfinite(data.lidarHeading))
        record["lidarHeading"] = static_cast<double>(data.lidarHeading);
    return record;
}
