#pragma once

#include "model/mixins.h"

#include <QGraphicsItem>
#include <QJsonObject>
#include <QLineF>
#include <QList>
#include <QVariantList>

class Floor;

// Base of everything placed on a floor plan. An interaction snapshots the item's state when it
// begins (beginEdit) and turns the difference into one undo command on the floor when it ends
// (endEdit). Plain draft items refuse rotation and transforms.
class DraftGraphicItem : public QGraphicsItem, public ActionReactive, public HasUniqueId {
public:
    // id 0: issued lazily by the property on first use.
    DraftGraphicItem(QGraphicsItem* parent, uint32_t id);

    virtual void beginEdit(bool byMouse);
    virtual void endEdit(bool discard);
    virtual QJsonObject toJson(bool forExport);
    virtual QVariantList state() const;
    virtual bool toggleSecondFlip() { return false; }
    virtual bool toggleFirstFlip() { return false; }
    virtual void onGeometryChanged(bool rotated) {}
    // "Move" when the positions differ, else empty.
    virtual QString changeDescription(const QVariantList& before, const QVariantList& after) const;
    virtual void setState(const QVariantList& state);
    virtual void paintHighlight(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget);
    virtual void aboutToCommitEdit() {}

    // The registry of the floor the item is on.
    Property* idRegistry() const override;
    // The scene the item is in, as a floor (null in no scene or another kind of scene).
    Floor* floor() const;

    bool hasOpenEdit() const { return !m_snapshot.isEmpty(); }
    bool isStateChanged() const;
    bool isEditByMouse() const { return m_byMouse; }
    // The item's rotation as seen in the scene, in degrees.
    double sceneAngle() const;
    QList<QLineF>& guideLines() { return m_guideLines; }

    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

protected:
    void hoverEnterEvent(QGraphicsSceneHoverEvent* event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent* event) override;
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent* event) override;
    QVariant itemChange(GraphicsItemChange change, const QVariant& value) override;

    // Applies position (and rotation when given) without the geometry notifications.
    void applyGeometry(const QVariantList& state, bool withRotation);

private:
    QVariantList m_snapshot;
    bool m_doubleClicked = false;
    QList<QLineF> m_guideLines;
    bool m_byMouse = false;
};

// A draft item with a rotation: grouping and rotating the group leaves it with a plain position and
// rotation instead of a transform.
class DraftGraphicRotatingItem : public DraftGraphicItem {
public:
    using DraftGraphicItem::DraftGraphicItem;

    QVariantList state() const override;
    QString changeDescription(const QVariantList& before, const QVariantList& after) const override;
    void setState(const QVariantList& state) override;
    QJsonObject toJson(bool forExport) override;

protected:
    QVariant itemChange(GraphicsItemChange change, const QVariant& value) override;
};
