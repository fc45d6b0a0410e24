#pragma once

#include "model/draft_item.h"

#include <QLineF>
#include <QPen>

// A straight guide line between two scene points. While its floor is shown under another floor
// it is drawn faded.
class ReferenceLine : public DraftGraphicItem {
public:
    static constexpr double kUnderlayAlpha = 0.45;

    ReferenceLine(const QPointF& p1, const QPointF& p2);

    // Makes the line and adds it to the floor as one undoable step.
    static ReferenceLine* create(Floor* floor, QPointF p1, QPointF p2);

    QString typeName() const override { return QStringLiteral("ReferenceLine"); }
    // The line in scene coordinates.
    QLineF sceneLine() const;
    // {"p1": [x, y], "p2": [x, y]} in scene coordinates.
    QJsonObject toJson(bool forExport) override;

    // The pen the line is drawn with now.
    QPen drawingPen() const;

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

private:
    QLineF m_line;
};
