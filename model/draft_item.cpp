#include "model/draft_item.h"

#include "model/floor.h"
#include "model/length_units.h"
#include "model/undo_commands.h"

#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QJsonArray>
#include <QPainter>
#include <QStyleOptionGraphicsItem>

#include <cmath>

DraftGraphicItem::DraftGraphicItem(QGraphicsItem* parent, uint32_t id)
    : QGraphicsItem(parent)
{
    m_id = id;
    // Without geometry notifications the refusal of transforms and the group-to-rotation
    // conversion in itemChange would never run.
    setFlags(ItemIsSelectable | ItemSendsGeometryChanges);
}

Property* DraftGraphicItem::idRegistry() const
{
    const Floor* f = floor();
    return f ? f->idRegistry() : nullptr;
}

Floor* DraftGraphicItem::floor() const
{
    return qobject_cast<Floor*>(scene());
}

void DraftGraphicItem::beginEdit(bool byMouse)
{
    if (!m_snapshot.isEmpty() || !scene())
        return;
    m_snapshot = state();
    m_byMouse = byMouse;
}

void DraftGraphicItem::endEdit(bool discard)
{
    if (m_snapshot.isEmpty() || !scene())
        return;
    m_guideLines.clear();
    m_byMouse = false;
    const QVariantList after = state();
    const QVariantList before = std::exchange(m_snapshot, {});
    if (before != after) {
        Floor* f = floor();
        if (discard || !f) {
            setState(before);
        } else {
            aboutToCommitEdit();
            const QString text = changeDescription(before, after) + " " + typeName();
            f->pushCommand(new EditItemCommand(this, before, after, text));
        }
    }
    update();
}

bool DraftGraphicItem::isStateChanged() const
{
    return !m_snapshot.isEmpty() && state() != m_snapshot;
}

QJsonObject DraftGraphicItem::toJson(bool)
{
    QJsonObject json;
    json["id"] = static_cast<qint64>(uniqueId());
    json["pos"] = QJsonArray{pos().x(), pos().y()};
    return json;
}

QVariantList DraftGraphicItem::state() const
{
    return {pos()};
}

QString DraftGraphicItem::changeDescription(const QVariantList& before, const QVariantList& after) const
{
    if (before.value(0) != after.value(0))
        return QStringLiteral("Move");
    return {};
}

void DraftGraphicItem::applyGeometry(const QVariantList& state, bool withRotation)
{
    setFlag(ItemSendsGeometryChanges, false);
    if (!state.isEmpty())
        setPos(state[0].toPointF());
    if (withRotation && state.size() > 1)
        setRotation(state[1].toDouble());
    setFlag(ItemSendsGeometryChanges, true);
}

void DraftGraphicItem::setState(const QVariantList& state)
{
    applyGeometry(state, false);
    onGeometryChanged(false);
}

double DraftGraphicItem::sceneAngle() const
{
    return -QLineF(scenePos(), mapToScene(QPointF(10, 0))).angle();
}

void DraftGraphicItem::paintHighlight(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget*)
{
    if (!isEnabled() || !(option->state & (QStyle::State_Selected | QStyle::State_MouseOver)))
        return;
    const QColor colour = (option->state & QStyle::State_Selected) ? QColor(250, 214, 36, 150)
                                                                     : QColor(164, 202, 236, 150);
    QPen pen(colour, 8);
    pen.setCosmetic(true);
    painter->save();
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(shape());
    painter->restore();
}

void DraftGraphicItem::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget)
{
    paintHighlight(painter, option, widget);
    if (m_guideLines.isEmpty())
        return;
    const QColor colour(255, 255, 0, 100);
    QPen pen(colour);
    pen.setCosmetic(true);
    painter->save();
    painter->setPen(pen);
    for (const QLineF& sceneLine : std::as_const(m_guideLines)) {
        if (sceneLine.length() <= 10)
            continue;
        const QLineF line(mapFromScene(sceneLine.p1()), mapFromScene(sceneLine.p2()));
        painter->setBrush(Qt::NoBrush);
        painter->drawLine(line);
        painter->setBrush(colour);
        painter->drawEllipse(line.p1(), 25, 25);
        painter->drawEllipse(line.p2(), 25, 25);
    }
    painter->restore();
}

void DraftGraphicItem::hoverEnterEvent(QGraphicsSceneHoverEvent*)
{
    if (Floor* f = floor())
        emit f->hoverItemChangedOnScene(this);
    update();
}

void DraftGraphicItem::hoverLeaveEvent(QGraphicsSceneHoverEvent*)
{
    if (Floor* f = floor())
        emit f->hoverItemChangedOnScene(nullptr);
    update();
}

void DraftGraphicItem::mousePressEvent(QGraphicsSceneMouseEvent* event)
{
    QGraphicsItem::mousePressEvent(event);
    if (event->button() != Qt::LeftButton) {
        m_doubleClicked = false;
        return;
    }
    beginEdit(true);
    if ((flags() & ItemIsMovable) && scene()) {
        for (QGraphicsItem* item : scene()->selectedItems())
            if (auto* draft = dynamic_cast<DraftGraphicItem*>(item))
                draft->beginEdit(true);
    }
    m_doubleClicked = false;
}

void DraftGraphicItem::mouseMoveEvent(QGraphicsSceneMouseEvent* event)
{
    QGraphicsItem::mouseMoveEvent(event);
}

void DraftGraphicItem::mouseReleaseEvent(QGraphicsSceneMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        if (Floor* f = floor()) {
            const bool several = f->selectedItems().size() >= 2;
            f->commitItemEdits("Move " + (several ? QStringLiteral("selection") : typeName()));
        }
    }
    if (!m_doubleClicked)
        QGraphicsItem::mouseReleaseEvent(event);
}

void DraftGraphicItem::mouseDoubleClickEvent(QGraphicsSceneMouseEvent*)
{
    m_doubleClicked = true;
}

QVariant DraftGraphicItem::itemChange(GraphicsItemChange change, const QVariant& value)
{
    switch (change) {
    case ItemSelectedHasChanged:
        setZValue(zValue() + (value.toBool() ? 1 : -1));
        break;
    case ItemSceneChange:
        if (scene())
            endEdit(true);
        break;
    case ItemSceneHasChanged:
        if (Floor* f = floor())
            emit f->itemAddedToScene(this);
        break;
    case ItemEnabledHasChanged:
        setAcceptedMouseButtons(value.toBool() ? Qt::AllButtons : Qt::NoButton);
        break;
    case ItemTransformChange:
    case ItemRotationChange:
        return QVariant();
    default:
        break;
    }
    return QGraphicsItem::itemChange(change, value);
}

QVariantList DraftGraphicRotatingItem::state() const
{
    return {pos(), rotation()};
}

QString DraftGraphicRotatingItem::changeDescription(const QVariantList& before, const QVariantList& after) const
{
    QString word = DraftGraphicItem::changeDescription(before, after);
    if (before.value(1).toFloat() != after.value(1).toFloat())
        word = word.isEmpty() ? QStringLiteral("Rotate") : QStringLiteral("Edit");
    return word;
}

void DraftGraphicRotatingItem::setState(const QVariantList& state)
{
    applyGeometry(state, true);
    onGeometryChanged(true);
}

QJsonObject DraftGraphicRotatingItem::toJson(bool forExport)
{
    QJsonObject json = DraftGraphicItem::toJson(forExport);
    json["rot"] = degreesToJsonAngle(rotation());
    return json;
}

QVariant DraftGraphicRotatingItem::itemChange(GraphicsItemChange change, const QVariant& value)
{
    if (change == ItemTransformChange) {
        // A group's rotation arrives as a transform: keep it as the item's own rotation instead.
        const QTransform t = value.value<QTransform>();
        setRotation(rotation() + std::atan2(t.m12(), t.m11()) * 57.29577951308232);
        return QVariant();
    }
    if (change == ItemRotationChange)
        return value;
    return DraftGraphicItem::itemChange(change, value);
}
