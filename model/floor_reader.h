#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

class Building;
class Floor;
class QIODevice;

// A new floor of the building from a floor object of the project file; null (and no floor left in
// the building) when the object names no usable folder or its folder cannot be found.
Floor* readFloorObject(const QJsonObject& obj, Building* building);

// A new floor of the building from a folder on disk: every sub-folder becomes a scan, and the
// folder's "floor.json" (when there is one) gives its wall thickness, global id, grade and the
// building it belongs to; without it "wall.txt" gives the wall thickness. Null when the path is not
// a folder directly inside the project folder.
Floor* loadFloorJson(const QString& floorFolder, Building* building);

// The record of an open "floor.json": nothing when the file holds more than a floor file can
// (1 MiB) or no JSON object. Both readers of the file go through here.
std::optional<QJsonObject> readFloorFileRecord(QIODevice& file);
