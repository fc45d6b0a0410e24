#include "camera/scan_json.h"

#include "base/binary_read.h"
#include "base/json_values.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonValue>

#include <cmath>
#include <limits>

namespace {
constexpr double kRadToDeg = 57.29577951308232;
// The camera writes a few kilobytes; anything this large is not its metadata.
constexpr qint64 kMaxScanJsonBytes = 16 << 20;

qint64 readTimestamp(const QJsonValue& value)
{
    if (value.isString()) {
        bool ok = false;
        const qint64 parsed = value.toString().toLongLong(&ok);
        return ok ? parsed : 0;
    }
    if (!value.isDouble())
        return 0;
    constexpr qint64 kNone = std::numeric_limits<qint64>::min();
    const qint64 whole = value.toInteger(kNone);
    if (whole != kNone)
        return whole;
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::fabs(d) >= 9.2e18)
        return 0;
    return static_cast<qint64>(d);
}
} // namespace

void readScanJson(const QJsonObject& json, ScanData& data, QString& scanHash)
{
    const QJsonArray pos = json.value("pos").toArray();
    if (pos.size() >= 2) {
        const double x = pos.at(0).toDouble();
        const double y = pos.at(1).toDouble();
        if (std::isfinite(x) && std::isfinite(y))
            data.position = QPointF(x, -y);
    }
    data.systemCfgName = json.value("systemcfg").toString();
    const double heading = (json.value("lensLidarOffset").toDouble() - json.value("rot").toDouble()) * kRadToDeg;
    data.heading = fitsFloat(heading) ? static_cast<float>(heading) : 0.0f;
    data.shutterCounter = json.value("shutterCounter").toInt();
    data.shown = json.value("hidden").toInt() == 0;
    data.globalId = json.value("globalId").toString();
    data.tags = json.value("tags").toArray();
    const double temperature = json.value("temperature").toDouble();
    data.temperature = fitsFloat(temperature) ? static_cast<float>(temperature) : 0.0f;
    data.temperatureSource = json.value("temperatureSource").toString();
    data.systemInfo = json.value("system").toObject();
    data.pictureParams = json.value("takePictureParams").toObject();
    data.lidarUptime = json.value("lidarUptime").toInt();
    data.captureTimestamp = readTimestamp(json.value("captureTimestamp"));
    scanHash = json.value("scan_hash").toString();
    if (json.contains("alignmentBad"))
        data.alignmentFlag = json.value("alignmentBad").toBool() ? 1 : 0;
    const double score = json.value("alignmentScore").toDouble(-1.0);
    data.alignmentScore = fitsFloat(score) ? static_cast<float>(score) : -1.0f;
}

bool readScanJson(const QString& folder, ScanData& data, QString& scanHash)
{
    QFile file(folder + "/scan.json");
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const QByteArray text = readAllWithin(file, kMaxScanJsonBytes).value_or(QByteArray());
    readScanJson(QJsonDocument::fromJson(text).object(), data, scanHash);
    return true;
}

void readScanJson(const QString& folder, QPointF& position, float& heading, int& shutterCounter, bool& shown,
                  float& temperature, QString& temperatureSource, QJsonObject& system, QJsonArray& tags,
                  QString& globalId, bool& alignmentBad, float& alignmentScore, int& lidarUptime,
                  qint64& captureTimestamp, QString& systemcfg, QJsonObject& takePictureParams, QString& scanHash)
{
    ScanData data;
    data.position = position;
    data.alignmentFlag = alignmentBad ? 1 : 0;
    QString hash;
    if (!readScanJson(folder, data, hash))
        return;
    position = data.position;
    heading = data.heading;
    shutterCounter = data.shutterCounter;
    shown = data.shown;
    temperature = data.temperature;
    temperatureSource = data.temperatureSource;
    system = data.systemInfo;
    tags = data.tags;
    globalId = data.globalId;
    alignmentBad = data.alignmentFlag == 1;
    alignmentScore = data.alignmentScore;
    lidarUptime = data.lidarUptime;
    captureTimestamp = data.captureTimestamp;
    systemcfg = data.systemCfgName;
    takePictureParams = data.pictureParams;
    scanHash = hash;
}
