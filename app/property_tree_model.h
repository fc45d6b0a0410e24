#pragma once

#include "model/property.h"

#include <QPointer>
#include <QStandardItemModel>

class Building;
class Floor;
class Itemizeable;

// The project tree: the property, its buildings, their floors and the floors' scans, built anew
// whenever the property reports a change of the tree. Buildings and floors can be dragged
// ("application/draft.treeItem"); a drop moves them through the model's own operations, and the
// tree follows from the model's signal, never by moving rows itself.
class PropertyTreeModel : public QStandardItemModel {
    Q_OBJECT
public:
    enum class Kind { None, Property, Building, Floor, Scan };
    static constexpr int EntryRole = Qt::UserRole + 1;
    static constexpr int KindRole = Qt::UserRole + 2;
    static const QString mimeType;

    explicit PropertyTreeModel(QObject* parent = nullptr);

    // Null leaves an empty tree. The property is not owned.
    void setProject(Property* property);
    Property* project() const { return m_property; }
    void rebuild();
    // Greys the floors and scans the portal will not show, as they are now.
    void showPortalFlags();

    Itemizeable* entry(const QModelIndex& index) const;
    // Names are read from the entries themselves, so a rename shows without a rebuild.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Kind kind(const QModelIndex& index) const;
    QModelIndex indexOf(const Itemizeable* entry) const;

    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    // Rows go only when the model says so: a view's move-drag must not delete them.
    bool removeRows(int row, int count, const QModelIndex& parent) override;
    // Renames a building or a floor.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

signals:
    void aboutToRebuild();
    void rebuilt();

private:
    // What a drag carries: the building's index, and the floor's index in it for a floor.
    struct DragSource {
        Building* building = nullptr;
        Floor* floor = nullptr;
        int buildingIndex = -1;
        int floorIndex = -1;
    };
    // Where a drop puts a building or a floor.
    struct DropTarget {
        Building* building = nullptr; // the building a floor goes into, or the building dropped on
        int row = -1;                 // index in that list; -1: the end
    };

    DragSource decode(const QMimeData* data) const;
    DropTarget target(const DragSource& source, int row, const QModelIndex& parent) const;
    QStandardItem* makeItem(Itemizeable* entry, Kind kind) const;

    QPointer<Property> m_property;
};
