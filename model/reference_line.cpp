#include "model/reference_line.h"

#include "model/constants.h"
#include "model/floor.h"
#include "model/undo_commands.h"

#include <QJsonArray>
#include <QPainter>
#include <QPainterPathStroker>

namespace {
// Width, in millimetres on the plan, of the band around the line that picks it.
constexpr double kPickWidth = 40;

QJsonArray pointToJson(const QPointF& point)
{
    return QJsonArray{point.x(), point.y()};
}
}

ReferenceLine::ReferenceLine(const QPointF& p1, const QPointF& p2)
    : DraftGraphicItem(nullptr, 0), m_line(p1, p2)
{
    setAcceptHoverEvents(true);
}

ReferenceLine* ReferenceLine::create(Floor* floor, QPointF p1, QPointF p2)
{
    auto* line = new ReferenceLine(p1, p2);
    floor->pushCommand(new AddToSceneCommand(floor, line));
    return line;
}

QLineF ReferenceLine::sceneLine() const
{
    return {mapToScene(m_line.p1()), mapToScene(m_line.p2())};
}

QJsonObject ReferenceLine::toJson(bool)
{
    const QLineF line = sceneLine();
    QJsonObject json;
    json["p1"] = pointToJson(line.p1());
    json["p2"] = pointToJson(line.p2());
    return json;
}

QPen ReferenceLine::drawingPen() const
{
    QPen pen = isSelected() ? selectedReferenceLinePen : referenceLinePen;
    const Floor* f = floor();
    if (f && f->isShownAsUnderlay()) {
        QColor colour = pen.color();
        colour.setAlphaF(kUnderlayAlpha);
        pen.setColor(colour);
    }
    return pen;
}

QRectF ReferenceLine::boundingRect() const
{
    return shape().boundingRect();
}

QPainterPath ReferenceLine::shape() const
{
    QPainterPath path(m_line.p1());
    path.lineTo(m_line.p2());
    QPainterPathStroker stroker;
    stroker.setWidth(kPickWidth);
    return stroker.createStroke(path);
}

void ReferenceLine::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget)
{
    painter->save();
    painter->setPen(drawingPen());
    painter->drawLine(m_line);
    painter->restore();
    DraftGraphicItem::paint(painter, option, widget);
}
