#pragma once

#include "camera/scan_data.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QPointF>
#include <QString>

// The metadata file "scan.json" of a scan folder. Missing keys take their defaults; a file that
// cannot be opened changes nothing; a file that does not parse reads as an empty object.

// The keys of a parsed "scan.json" into `data` (heading = ("lensLidarOffset" - "rot") in degrees)
// and the camera's own fingerprint "scan_hash" into scanHash.
void readScanJson(const QJsonObject& json, ScanData& data, QString& scanHash);
// The same from folder + "/scan.json"; false (nothing changed) when the file cannot be opened.
bool readScanJson(const QString& folder, ScanData& data, QString& scanHash);

// Every value the file holds, one output each.
void readScanJson(const QString& folder, QPointF& position, float& heading, int& shutterCounter, bool& shown,
                  float& temperature, QString& temperatureSource, QJsonObject& system, QJsonArray& tags,
                  QString& globalId, bool& alignmentBad, float& alignmentScore, int& lidarUptime,
                  qint64& captureTimestamp, QString& systemcfg, QJsonObject& takePictureParams, QString& scanHash);
