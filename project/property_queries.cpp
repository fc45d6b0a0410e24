#include "project/property.h"

#include "project/building.h"
#include "project/draft_item.h"
#include "project/floor.h"

int Property::alignmentState() const
{
    bool unknown = false;
    for (const Building* building : m_buildings) {
        const int state = building->alignmentState();
        if (state == 1)
            return 1;
        unknown = unknown || state == -1;
    }
    return unknown ? -1 : 0;
}

QGraphicsItem* Property::findPanoById(int id, const QString& typeName) const
{
    // Ids are issued from 1 up; the search never issues one.
    if (id <= 0)
        return nullptr;
    for (const Building* building : m_buildings)
        for (const Floor* floor : building->floors())
            if (DraftGraphicItem* item = floor->findItem(static_cast<uint32_t>(id), typeName))
                return item;
    return nullptr;
}
