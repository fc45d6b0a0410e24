#include "model/property.h"

#include "model/building.h"

#include <algorithm>
#include <stdexcept>

Building* Property::addNewBuilding(const QString& base)
{
    for (int n = 0; n < 10000; ++n) {
        const QString candidate = n == 0 ? base : base + QStringLiteral(" %1").arg(n);
        const bool taken = std::any_of(m_buildings.cbegin(), m_buildings.cend(),
                                       [&](const Building* b) { return b->ownName() == candidate; });
        if (taken)
            continue;
        auto* building = new Building(this);
        building->setName(candidate);
        return building;
    }
    throw std::runtime_error(("Could not find a new name for building: " + base).toStdString());
}
