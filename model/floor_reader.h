#pragma once

#include <QJsonObject>
#include <QString>

class Building;
class Floor;

// A new floor of the building from a floor object of the project file; null (and no floor left in
// the building) when the object names no usable folder or its folder cannot be found.
Floor* readFloorObject(const QJsonObject& obj, Building* building);

// A new floor of the building from a folder on disk: every sub-folder becomes a scan, and the
// folder's "floor.json" (when there is one) gives its wall thickness, global id, grade and the
// building it belongs to; without it "wall.txt" gives the wall thickness. Null when the path is not
// a folder directly inside the project folder.
Floor* loadFloorJson(const QString& floorFolder, Building* building);
