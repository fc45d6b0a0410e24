#include "app/property_tree_model.h"

#include "model/building.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"

#include <QDataStream>
#include <QIODevice>
#include <QFont>
#include <QMimeData>

#include <functional>

const QString PropertyTreeModel::mimeType = QStringLiteral("application/draft.treeItem");

namespace {
constexpr quint8 kDragFormat = 1;
}

PropertyTreeModel::PropertyTreeModel(QObject* parent) : QStandardItemModel(parent)
{
}

void PropertyTreeModel::setProject(Property* property)
{
    if (m_property)
        m_property->disconnect(this);
    m_property = property;
    if (m_property) {
        connect(m_property, &Property::modelUpdated, this, &PropertyTreeModel::rebuild);
        connect(m_property, &Property::statusUpdated, this, &PropertyTreeModel::showPortalFlags);
    }
    rebuild();
}

QStandardItem* PropertyTreeModel::makeItem(Itemizeable* entry, Kind kind) const
{
    auto* item = new QStandardItem;
    item->setData(QVariant::fromValue(reinterpret_cast<quintptr>(entry)), EntryRole);
    item->setData(static_cast<int>(kind), KindRole);
    item->setEditable(kind == Kind::Building || kind == Kind::Floor);
    item->setDragEnabled(kind == Kind::Building || kind == Kind::Floor);
    item->setDropEnabled(kind != Kind::Scan);
    return item;
}

void PropertyTreeModel::rebuild()
{
    emit aboutToRebuild();
    clear();
    if (m_property) {
        QStandardItem* root = makeItem(m_property, Kind::Property);
        for (Building* building : m_property->buildings()) {
            QStandardItem* buildingItem = makeItem(building, Kind::Building);
            if (building->isMainBuilding()) {
                QFont bold;
                bold.setBold(true);
                buildingItem->setFont(bold);
            }
            for (Floor* floor : building->floors()) {
                QStandardItem* floorItem = makeItem(floor, Kind::Floor);
                for (Panorama* pano : floor->panos())
                    floorItem->appendRow(makeItem(pano, Kind::Scan));
                buildingItem->appendRow(floorItem);
            }
            root->appendRow(buildingItem);
        }
        appendRow(root);
        showPortalFlags();
    }
    emit rebuilt();
}

void PropertyTreeModel::showPortalFlags()
{
    // Floors and scans that the portal will not show are grey.
    const std::function<void(QStandardItem*)> walk = [&](QStandardItem* parent) {
        for (int row = 0; row < parent->rowCount(); ++row) {
            QStandardItem* item = parent->child(row);
            const QModelIndex index = item->index();
            bool hidden = false;
            if (const auto* floor = dynamic_cast<const Floor*>(entry(index)))
                hidden = !floor->isShown();
            else if (const auto* pano = dynamic_cast<const Panorama*>(entry(index)))
                hidden = !pano->isShown(true);
            const QVariant foreground = hidden ? QVariant(QColor(Qt::gray)) : QVariant();
            if (item->data(Qt::ForegroundRole) != foreground)
                item->setData(foreground, Qt::ForegroundRole);
            walk(item);
        }
    };
    walk(invisibleRootItem());
}

Itemizeable* PropertyTreeModel::entry(const QModelIndex& index) const
{
    return index.isValid() ? reinterpret_cast<Itemizeable*>(index.data(EntryRole).value<quintptr>()) : nullptr;
}

QVariant PropertyTreeModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return QStandardItemModel::data(index, role);
    // The rows are rebuilt whenever an entry goes, so every listed entry is alive.
    const Itemizeable* listed = entry(index);
    if (!listed)
        return {};
    return kind(index) == Kind::Property ? listed->name() : listed->ownName();
}

PropertyTreeModel::Kind PropertyTreeModel::kind(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<Kind>(index.data(KindRole).toInt()) : Kind::None;
}

QModelIndex PropertyTreeModel::indexOf(const Itemizeable* wanted) const
{
    if (!wanted)
        return {};
    const QModelIndexList found = match(index(0, 0), EntryRole,
                                        QVariant::fromValue(reinterpret_cast<quintptr>(wanted)), 1,
                                        Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? QModelIndex() : found.first();
}

QStringList PropertyTreeModel::mimeTypes() const
{
    return {mimeType};
}

QMimeData* PropertyTreeModel::mimeData(const QModelIndexList& indexes) const
{
    if (indexes.size() != 1 || !m_property)
        return nullptr;
    const QModelIndex index = indexes.first();
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    if (kind(index) == Kind::Building)
        stream << kDragFormat << qint32(index.row()) << qint32(-1);
    else if (kind(index) == Kind::Floor)
        stream << kDragFormat << qint32(index.parent().row()) << qint32(index.row());
    else
        return nullptr;
    auto* data = new QMimeData;
    data->setData(mimeType, bytes);
    return data;
}

PropertyTreeModel::DragSource PropertyTreeModel::decode(const QMimeData* data) const
{
    DragSource source;
    if (!data || !m_property || !data->hasFormat(mimeType))
        return source;
    QDataStream stream(data->data(mimeType));
    quint8 format = 0;
    qint32 buildingIndex = -1;
    qint32 floorIndex = -1;
    stream >> format >> buildingIndex >> floorIndex;
    const QList<Building*> buildings = m_property->buildings();
    if (stream.status() != QDataStream::Ok || format != kDragFormat || buildingIndex < 0
        || buildingIndex >= buildings.size())
        return source;
    source.building = buildings[buildingIndex];
    source.buildingIndex = buildingIndex;
    if (floorIndex == -1)
        return source;
    if (floorIndex < 0 || floorIndex >= source.building->floors().size())
        return {};
    source.floor = source.building->floors()[floorIndex];
    source.floorIndex = floorIndex;
    return source;
}

PropertyTreeModel::DropTarget PropertyTreeModel::target(const DragSource& source, int row,
                                                        const QModelIndex& parent) const
{
    const Kind parentKind = kind(parent);
    if (!source.floor) {
        // Buildings move among the property's buildings: between them, or onto one to take its place.
        if (parentKind == Kind::Property)
            return {nullptr, row};
        if (parentKind == Kind::Building)
            return {nullptr, parent.row()};
        return {nullptr, -2};
    }
    // Floors go into a building: between its floors, onto it (at the end), or onto one of its
    // floors or scans (in that floor's place).
    switch (parentKind) {
    case Kind::Building:
        return {dynamic_cast<Building*>(entry(parent)), row};
    case Kind::Floor:
        return {dynamic_cast<Building*>(entry(parent.parent())), parent.row()};
    case Kind::Scan:
        return {dynamic_cast<Building*>(entry(parent.parent().parent())), parent.parent().row()};
    default:
        return {nullptr, -2};
    }
}

bool PropertyTreeModel::canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int,
                                        const QModelIndex& parent) const
{
    if (action != Qt::MoveAction)
        return false;
    const DragSource source = decode(data);
    if (!source.building)
        return false;
    const DropTarget to = target(source, row, parent);
    return source.floor ? to.building != nullptr : to.row != -2;
}

bool PropertyTreeModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                     const QModelIndex& parent)
{
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    const DragSource source = decode(data);
    const DropTarget to = target(source, row, parent);
    // A row is the place before which the entry lands; once the entry has left its own place, the
    // rows after it are one less.
    if (!source.floor) {
        const int count = static_cast<int>(m_property->buildings().size());
        int index = to.row < 0 ? count - 1 : to.row;
        if (to.row > source.buildingIndex && parent.isValid() && kind(parent) == Kind::Property)
            --index;
        if (index == source.buildingIndex || index < 0 || index >= count)
            return false;
        m_property->moveBuilding(source.buildingIndex, index);
        return true;
    }
    Building* into = to.building;
    if (into == source.building) {
        const int count = static_cast<int>(into->floors().size());
        int index = to.row < 0 ? count - 1 : to.row;
        if (to.row > source.floorIndex)
            --index;
        if (index == source.floorIndex || index < 0 || index >= count)
            return false;
        into->moveFloor(source.floorIndex, index);
        return true;
    }
    into->addFloor(source.floor);
    const int last = static_cast<int>(into->floors().size()) - 1;
    if (to.row >= 0 && to.row < last)
        into->moveFloor(last, to.row);
    return true;
}

Qt::DropActions PropertyTreeModel::supportedDropActions() const
{
    return Qt::MoveAction;
}

Qt::DropActions PropertyTreeModel::supportedDragActions() const
{
    return Qt::MoveAction;
}

bool PropertyTreeModel::removeRows(int, int, const QModelIndex&)
{
    return false;
}

bool PropertyTreeModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !m_property)
        return QStandardItemModel::setData(index, value, role);
    const QString name = value.toString().trimmed();
    Itemizeable* renamed = entry(index);
    if (name.isEmpty() || !renamed || name == renamed->ownName())
        return false;
    if (kind(index) == Kind::Building) {
        renamed->setName(name);
        m_property->markChanged();
    } else if (kind(index) == Kind::Floor) {
        renamed->setName(name);
    } else {
        return false;
    }
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    return true;
}
