#pragma once

#include "model/drc_finding.h"
#include "model/mixins.h"

#include <QJsonObject>
#include <QList>
#include <QObject>

class Floor;

// One building of the property: its floors in display order, a name, an id and an exterior
// wall thickness. The property owns the building, the building owns its floors.
class Building : public QObject, public Itemizeable, public HasUniqueId {
public:
    // Joins the property's list; the property stays as dirty or clean as adding a building makes it.
    explicit Building(Property* property);
    ~Building() override;

    // Property name, "/", own name.
    QString name() const override;
    Property* idRegistry() const override { return m_property; }
    QString typeName() const override { return QStringLiteral("building"); }
    void contextMenuActions(QMenu* menu) override;
    void onContextAction(QAction* action) override;

    Property* owner() const { return m_property; }
    // Called by Property::addBuilding only.
    void setOwner(Property* property) { m_property = property; }

    const QList<Floor*>& floors() const { return m_floors; }
    // A new floor named after the first free candidate (base, base 1, base 2, ...), or null.
    Floor* addNewFloor(const QString& base);
    // Takes the floor over from whatever building held it and appends it.
    void addFloor(Floor* floor);
    void moveFloor(int from, int to);
    // Removes the floor, its scans (with their folders when withScans) and its own folder. A folder
    // removed from disk leaves the saved project at once (saved_project_files.h); when that cannot
    // be written the floor stays, with a warning, and false is returned.
    bool deleteFloor(Floor* floor, bool withScans);
    void deleteAllFloors(bool withScans);
    void sortFloors();

    int extWallThickness() const { return m_extWallThickness; }
    void setExtWallThickness(int value);
    bool isMainBuilding();
    void setAsMainBuilding();
    // 1 when any floor is badly aligned, else -1 when any is unknown, else 0.
    int alignmentState() const;

    // Export pre-check of the building: wall thickness, duplicated floor names, then every floor's
    // design-rule findings (the floors' checks run again).
    QList<DrcFinding> checkExport();

    // The building's record in the project file; for export, "Pictures" floors are left out.
    QJsonObject toJson(bool exporting);
    // A new building of the property from its record, with the floors the record lists whose
    // folders are found.
    static Building* fromJson(const QJsonObject& json, Property* property);

private:
    void markChanged();

    Property* m_property = nullptr;
    int m_extWallThickness = 0;
    QList<Floor*> m_floors;
};
