#include "model/building.h"

#include "base/folder_remover.h"
#include "base/list_moves.h"
#include "base/questions.h"
#include "model/floor.h"
#include "model/property.h"
#include "model/saved_project_files.h"

#include <QAction>
#include <QCoreApplication>
#include <QHash>
#include <QMenu>

#include <algorithm>

namespace {
QString trBuilding(const char* text)
{
    return QCoreApplication::translate("Building", text);
}
}

Building::Building(Property* property)
{
    if (property)
        property->addBuilding(this);
    m_name = QStringLiteral("New Building");
}

Building::~Building()
{
    const QList<Floor*> doomed = m_floors;
    m_floors.clear();
    qDeleteAll(doomed);
}

QString Building::name() const
{
    const QString propertyName = m_property ? m_property->name() : QString();
    return propertyName + "/" + m_name;
}

void Building::markChanged()
{
    if (m_property)
        m_property->setDirty(true);
}

Floor* Building::addNewFloor(const QString& base)
{
    for (int n = 0; n < 10000; ++n) {
        const QString candidate = n == 0 ? base : base + " " + QString::number(n);
        const bool taken = std::any_of(m_floors.cbegin(), m_floors.cend(),
                                       [&](const Floor* f) { return f->ownName() == candidate; });
        if (taken)
            continue;
        auto* floor = new Floor(this);
        floor->setName(candidate);
        return floor;
    }
    return nullptr;
}

void Building::addFloor(Floor* floor)
{
    if (Building* previous = floor->building())
        previous->m_floors.removeAll(floor);
    floor->setBuilding(this);
    m_floors.append(floor);
    markChanged();
    if (m_property)
        emit m_property->modelUpdated(floor);
}

void Building::moveFloor(int from, int to)
{
    if (moveListItem(m_floors, from, to) == ListMove::Ignored)
        return;
    markChanged();
    if (m_property)
        emit m_property->modelUpdated(nullptr);
}

bool Building::deleteFloor(Floor* floor, bool withScans)
{
    if (!floor || !m_floors.contains(floor))
        return false;
    if (m_property && floor->folderExists()) {
        const QString dir = floor->dir();
        QString reason;
        if (!updateSavedProjectFiles(
                m_property->folder(), [&](QJsonObject& project) { return removeFloorFromProject(project, dir); },
                reason)) {
            // A saved project that names a folder no longer there would warn about it at every load.
            qWarning().noquote() << trBuilding("Could not delete the floor: the saved project could not be updated.")
                                 << floor->folderPath() << QStringLiteral("(%1)").arg(reason);
            return false;
        }
    }
    // An underlay may be chosen from any building of the property.
    const QList<Building*> buildings = m_property ? m_property->buildings() : QList<Building*>{this};
    for (Building* building : buildings)
        for (Floor* other : building->floors())
            if (other->underlayFloor() == floor)
                other->setUnderlayFloor(nullptr);
    const QString folderName = floor->dir();
    m_floors.removeOne(floor);
    floor->deleteAllPanos(withScans);
    if (m_property)
        removeFolderInsideProject(m_property->folder(), {folderName});
    markChanged();
    if (m_property)
        emit m_property->modelUpdated(floor);
    delete floor;
    return true;
}

void Building::deleteAllFloors(bool withScans)
{
    const QList<Floor*> floors = m_floors;
    for (Floor* floor : floors)
        deleteFloor(floor, withScans);
}

void Building::sortFloors()
{
    QHash<const Floor*, int> keys;
    for (const Floor* floor : std::as_const(m_floors))
        keys.insert(floor, floor->sortOrder());
    std::sort(m_floors.begin(), m_floors.end(),
              [&](const Floor* a, const Floor* b) { return keys.value(a) < keys.value(b); });
    if (m_property)
        emit m_property->modelUpdated(nullptr);
}

void Building::setExtWallThickness(int value)
{
    if (value == m_extWallThickness)
        return;
    markChanged();
    m_extWallThickness = value;
}

bool Building::isMainBuilding()
{
    return m_property && m_property->mainBuildingId() == static_cast<int>(uniqueId());
}

void Building::setAsMainBuilding()
{
    if (!m_property)
        return;
    const int id = static_cast<int>(uniqueId());
    if (m_property->mainBuildingId() != id) {
        m_property->setDirty(true);
        m_property->setMainBuildingId(id);
    }
    emit m_property->modelUpdated(nullptr);
}

int Building::alignmentState() const
{
    bool unknown = false;
    for (const Floor* floor : m_floors) {
        const int state = floor->alignmentState();
        if (state == 1)
            return 1;
        unknown = unknown || state == -1;
    }
    return unknown ? -1 : 0;
}

void Building::contextMenuActions(QMenu* menu)
{
    menu->addAction(trBuilding("Add floor"));
    menu->addAction(trBuilding("Delete"));
    QAction* setMain = menu->addAction(trBuilding("Set as main building"));
    setMain->setEnabled(!isMainBuilding());
}

void Building::onContextAction(QAction* action)
{
    const QString text = action->text();
    if (text == trBuilding("Add floor")) {
        addNewFloor(QStringLiteral("New Floor"));
    } else if (text == trBuilding("Delete")) {
        const auto answer = questions().question(
            nullptr, Questions::Question, trBuilding("Question"),
            trBuilding("Delete building and its scans from disk?\nThis operation can not be undone."),
            Questions::Yes | Questions::Cancel, Questions::Cancel);
        if (answer != Questions::Cancel && m_property)
            m_property->removeBuilding(this, true);
    } else if (text == trBuilding("Set as main building")) {
        setAsMainBuilding();
    }
}
