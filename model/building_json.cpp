#include "model/building.h"

#include "base/json_values.h"
#include "model/floor.h"
#include "model/floor_reader.h"

#include <QJsonArray>

QJsonObject Building::toJson(bool exporting)
{
    QJsonObject json;
    json["name"] = m_name;
    json["id"] = static_cast<qint64>(uniqueId());
    QJsonArray floors;
    for (Floor* floor : std::as_const(m_floors))
        if (!exporting || !floor->ownName().startsWith(QLatin1String("Pictures")))
            floors.append(floor->toJson(exporting));
    json["floors"] = floors;
    const int alignment = alignmentState();
    if (alignment != -1)
        json["alignmentBad"] = alignment == 1;
    if (m_extWallThickness != 0)
        json["actualExtWallThickness"] = m_extWallThickness;
    return json;
}

Building* Building::fromJson(const QJsonObject& json, Property* property)
{
    auto* building = new Building(property);
    building->setName(json["name"].toString());
    building->setUniqueId(jsonId(json["id"]));
    const int thickness = json["actualExtWallThickness"].toInt(0);
    if (thickness > 0)
        building->m_extWallThickness = thickness;
    for (const QJsonValue& element : json["floors"].toArray())
        if (Floor* floor = readFloorObject(element.toObject(), building))
            floor->clearSelection();
    return building;
}
