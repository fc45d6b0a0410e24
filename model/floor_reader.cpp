#include "model/floor_reader.h"

#include "base/binary_read.h"
#include "base/file_names.h"
#include "base/json_values.h"
#include "model/building.h"
#include "model/floor.h"
#include "model/property.h"
#include "model/wall_thickness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <exception>

namespace {
// "floor.json" is a few hundred bytes; anything near this is not one.
constexpr qint64 kMaxFloorJsonBytes = 1024 * 1024;

// Stores the floor's own name without renaming its folder (Floor::setName would).
void setOwnName(Floor* floor, const QString& name)
{
    floor->HasName::setName(name);
}

// 0 not set, 1 below grade, 2 above grade; any other number is not a grade.
qint8 gradeHintFrom(const QJsonValue& value)
{
    const int hint = value.toInt(0);
    return static_cast<qint8>(hint >= 0 && hint <= 2 ? hint : 0);
}

// Takes a rejected floor out of its building again. It has no folder of its own on disk (its dir is
// empty or names nothing), so nothing there is removed.
void dropFloor(Floor* floor)
{
    if (Building* building = floor->building())
        building->deleteFloor(floor, false);
    else
        delete floor;
}

Building* buildingNamed(Property* property, const QString& name)
{
    for (Building* building : property->buildings())
        if (building->ownName() == name)
            return building;
    return nullptr;
}
}

Floor* readFloorObject(const QJsonObject& obj, Building* building)
{
    auto* floor = new Floor(building);
    const QString name = obj["name"].toString();
    const QString dir = obj["dir"].toString();
    if (dir.isEmpty()) {
        floor->setName(name);
    } else if (isPlainName(dir)) {
        floor->setDir(dir);
    } else {
        qWarning().noquote() << QObject::tr("Skipped a floor with an unusable folder name:") << dir;
        dropFloor(floor);
        return nullptr;
    }
    setOwnName(floor, name);
    floor->setGlobalId(obj["globalId"].toString());
    floor->setUniqueId(jsonId(obj["id"]));
    floor->setShown(!obj["hidden"].toBool(false));
    floor->setGradeHint(gradeHintFrom(obj["gradeHint"]));
    floor->loadContents(obj["layout"].toObject());
    const int thickness = obj["actualExtWallThickness"].toInt(0);
    if (thickness > 0)
        floor->setActualExtWallThickness(thickness);
    floor->resetScene();

    if (floor->folderExists()) {
        floor->setCeilingHeight(obj["ceilingHeight"].toInt(0));
        return floor;
    }
    qInfo().noquote() << QObject::tr("Could not find folder") << floor->folderPath() << QObject::tr("for floor")
                      << name;
    dropFloor(floor);
    return nullptr;
}

Floor* loadFloorJson(const QString& floorFolder, Building* building)
{
    // Only a folder directly inside the project folder can be a floor's folder.
    const QString folder = QDir::cleanPath(QFileInfo(floorFolder).absoluteFilePath());
    const QString dir = QFileInfo(folder).fileName();
    const Property* property = building ? building->owner() : nullptr;
    const QString projectFolder = property ? QFileInfo(property->folder()).absoluteFilePath() : QString();
    if (!isPlainName(dir) || projectFolder.isEmpty()
        || QDir::cleanPath(projectFolder + "/" + dir) != folder || !QFileInfo(folder).isDir()) {
        qWarning().noquote() << QObject::tr("Skipped a floor with an unusable folder:") << floorFolder;
        return nullptr;
    }
    auto* floor = new Floor(building);
    floor->setUniqueId(0);
    setOwnName(floor, dir);
    floor->setDir(dir);
    floor->setShown(true);
    floor->setActualExtWallThickness(0);
    floor->setGradeHint(0);
    floor->loadContents(QJsonObject());
    floor->resetScene();

    QFile file(folder + "/floor.json");
    if (!file.open(QIODevice::ReadOnly)) {
        floor->setActualExtWallThickness(readWallThickness(folder));
        return floor;
    }
    const std::optional<QJsonObject> read = readFloorFileRecord(file);
    if (!read)
        return floor;
    const QJsonObject& record = *read;
    floor->setActualExtWallThickness(record["extWallThickness"].toInt(0));
    floor->setGlobalId(record["globalId"].toString());
    const qint8 grade = gradeHintFrom(record["gradeHint"]);
    floor->setGradeHint(grade == 0 ? 2 : grade);

    const QString buildingName = record["building"].toString();
    if (buildingName.isEmpty())
        return floor;
    Building* target = buildingNamed(building->owner(), buildingName);
    if (!target) {
        try {
            target = building->owner()->addNewBuilding(buildingName);
        } catch (const std::exception& e) {
            qWarning().noquote() << QString::fromStdString(e.what());
            return floor;
        }
    }
    if (target != floor->building())
        target->addFloor(floor);
    return floor;
}

std::optional<QJsonObject> readFloorFileRecord(QIODevice& file)
{
    const std::optional<QByteArray> content = readAllWithin(file, kMaxFloorJsonBytes);
    if (!content)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(*content);
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}
