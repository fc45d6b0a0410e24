#include "model/floor.h"

#include "model/building.h"
#include "model/draft_item.h"
#include "model/panorama.h"
#include "model/undo_commands.h"

#include <QGraphicsItemGroup>
#include <QUndoStack>

#include <cmath>
#include <optional>

void Floor::beginMacro(const QString& text)
{
    m_undoStack->beginMacro(text);
    ++m_macroDepth;
}

void Floor::endMacro()
{
    if (m_macroDepth == 0) {
        m_drcFindings.clear();
        return;
    }
    if (m_macroDepth == 1) {
        // The outermost macro commits every open item edit into itself.
        for (QGraphicsItem* item : items())
            if (auto* draft = dynamic_cast<DraftGraphicItem*>(item))
                draft->endEdit(false);
    }
    --m_macroDepth;
    m_undoStack->endMacro();
    m_drcFindings.clear();
}

void Floor::pushCommand(QUndoCommand* command)
{
    if (m_macroDepth > 0) {
        m_undoStack->push(command);
        return;
    }
    beginMacro(command->text());
    m_undoStack->push(command);
    endMacro();
}

void Floor::commitItemEdits(const QString& text)
{
    if (m_macroDepth > 0)
        return;
    const QList<QGraphicsItem*> all = items();
    const bool changed = std::any_of(all.cbegin(), all.cend(), [](QGraphicsItem* item) {
        auto* draft = dynamic_cast<DraftGraphicItem*>(item);
        return draft && draft->isStateChanged();
    });
    if (!changed) {
        for (QGraphicsItem* item : all)
            if (auto* draft = dynamic_cast<DraftGraphicItem*>(item))
                draft->endEdit(true);
        return;
    }
    beginMacro(text);
    endMacro();
}

QList<DraftGraphicItem*> Floor::deletableItems(const QList<QGraphicsItem*>& items) const
{
    // Children go with their parents; scans are never deleted this way.
    QList<DraftGraphicItem*> doomed;
    for (QGraphicsItem* item : items) {
        auto* draft = dynamic_cast<DraftGraphicItem*>(item);
        if (draft && draft->scene() == this && !draft->parentItem() && !dynamic_cast<Panorama*>(draft)
            && !doomed.contains(draft))
            doomed << draft;
    }
    return doomed;
}

void Floor::deleteSelectedItems(const QList<QGraphicsItem*>& items)
{
    const QList<DraftGraphicItem*> doomed = deletableItems(items);
    if (doomed.isEmpty())
        return;
    beginMacro(tr("Delete"));
    for (DraftGraphicItem* draft : std::as_const(doomed))
        pushCommand(new RemoveFromSceneCommand(this, draft));
    endMacro();
}

QList<DraftGraphicItem*> Floor::movableItems() const
{
    QList<DraftGraphicItem*> result;
    for (QGraphicsItem* item : items()) {
        auto* draft = dynamic_cast<DraftGraphicItem*>(item);
        if (draft && !draft->parentItem() && draft->typeName() != QLatin1String("ReferenceLine"))
            result << draft;
    }
    return result;
}

void Floor::rotateItemsAsGroup(const QList<DraftGraphicItem*>& items, double degrees,
                               std::optional<QPointF> scenePivot)
{
    QList<QGraphicsItem*> members;
    for (DraftGraphicItem* draft : items) {
        draft->beginEdit(false);
        members << draft;
    }
    QGraphicsItemGroup* group = createItemGroup(members);
    group->setTransformOriginPoint(scenePivot ? group->mapFromScene(*scenePivot) : group->boundingRect().center());
    group->setRotation(degrees);
    destroyItemGroup(group);
}

void Floor::moveRotateItems(double degrees)
{
    const QList<DraftGraphicItem*> items = movableItems();
    if (degrees == 0 || !std::isfinite(degrees) || items.isEmpty())
        return;
    beginMacro(tr("Move/rotate items"));
    rotateItemsAsGroup(items, degrees);
    endMacro();
}

void Floor::moveRotateItems(double degrees, const QList<QGraphicsItem*>& chosen)
{
    QList<DraftGraphicItem*> items;
    for (QGraphicsItem* item : chosen) {
        auto* draft = dynamic_cast<DraftGraphicItem*>(item);
        if (draft && draft->scene() == this && !draft->parentItem()
            && draft->typeName() != QLatin1String("ReferenceLine") && !items.contains(draft))
            items << draft;
    }
    if (degrees == 0 || !std::isfinite(degrees) || items.isEmpty())
        return;
    // One item turns where it stands; several turn together about the middle of them all.
    std::optional<QPointF> pivot;
    if (items.size() == 1)
        pivot = items.first()->scenePos();
    beginMacro(tr("Move/rotate items"));
    rotateItemsAsGroup(items, degrees, pivot);
    endMacro();
}

void Floor::rotateFloorsByCompass()
{
    const double target = compassRotation();
    if (std::isnan(target)) {
        qWarning().noquote() << tr("Current floor has no compass data.");
        return;
    }
    QStringList skipped;
    const QList<Floor*> floors = m_building ? m_building->floors() : QList<Floor*>{};
    for (Floor* other : floors) {
        if (other == this || other->ownName().startsWith(QLatin1String("Pictures")))
            continue;
        if (std::isnan(other->compassRotation())) {
            skipped << other->ownName();
            continue;
        }
        const QList<DraftGraphicItem*> items = other->movableItems();
        const double turn = target - other->compassRotation();
        if (items.isEmpty() || turn == 0)
            continue;
        other->beginMacro(tr("Move/rotate items"));
        other->rotateItemsAsGroup(items, turn);
        if (other->hasCompassRotation()) {
            other->m_compassRotation = std::fmod(target, 360.0);
            if (other->m_compassRotation < 0)
                other->m_compassRotation += 360.0;
            emit other->measurementsUpdated();
        }
        other->endMacro();
    }
    if (!skipped.isEmpty())
        qWarning().noquote() << tr("The following floors were not rotated (no compass data):") << skipped.join(", ");
}

DraftGraphicItem* Floor::findItem(uint32_t id, const QString& typeWord) const
{
    if (id == 0)
        return nullptr;
    for (QGraphicsItem* item : items()) {
        auto* draft = dynamic_cast<DraftGraphicItem*>(item);
        if (draft && draft->storedId() == id && draft->typeName() == typeWord)
            return draft;
    }
    return nullptr;
}

int Floor::alignmentState() const
{
    bool unknown = false;
    for (const Panorama* pano : m_panos) {
        if (pano->alignment() == 1)
            return 1;
        unknown = unknown || pano->alignment() == -1;
    }
    return unknown ? -1 : 0;
}
