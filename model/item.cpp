#include "model/item.h"

#include <QJsonArray>
#include <QPainter>
#include <QPolygonF>

Item::Item(const QSizeF& size)
    : DraftGraphicRotatingItem(nullptr, 0), m_size(size)
{
    setFlag(ItemIsMovable, true);
    setAcceptHoverEvents(true);
}

bool Item::toggleFirstFlip()
{
    m_firstFlip = !m_firstFlip;
    update();
    return m_firstFlip;
}

bool Item::toggleSecondFlip()
{
    m_secondFlip = !m_secondFlip;
    update();
    return m_secondFlip;
}

QVariantList Item::state() const
{
    QVariantList list = DraftGraphicRotatingItem::state();
    list << m_firstFlip << m_secondFlip;
    return list;
}

void Item::setState(const QVariantList& state)
{
    if (state.size() >= 4) {
        m_firstFlip = state[2].toBool();
        m_secondFlip = state[3].toBool();
        update();
    }
    DraftGraphicRotatingItem::setState(state);
}

QString Item::changeDescription(const QVariantList& before, const QVariantList& after) const
{
    const QString word = DraftGraphicRotatingItem::changeDescription(before, after);
    const bool flipped = before.value(2) != after.value(2) || before.value(3) != after.value(3);
    return word.isEmpty() && flipped ? QStringLiteral("Edit") : word;
}

QJsonObject Item::toJson(bool forExport)
{
    QJsonObject json = DraftGraphicRotatingItem::toJson(forExport);
    json["flip"] = QJsonArray{m_firstFlip, m_secondFlip};
    return json;
}

QRectF Item::box() const
{
    return {-m_size.width() / 2, -m_size.height() / 2, m_size.width(), m_size.height()};
}

QRectF Item::boundingRect() const
{
    return box().adjusted(-10, -10, 10, 10);
}

QPainterPath Item::shape() const
{
    QPainterPath path;
    path.addRect(box());
    return path;
}

void Item::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget)
{
    const QRectF rect = box();
    painter->save();
    painter->scale(m_firstFlip ? -1 : 1, m_secondFlip ? -1 : 1);
    QPen pen(QColor(255, 255, 255));
    pen.setCosmetic(true);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(rect);
    // A corner mark shows which way the box is mirrored.
    const double mark = std::min(rect.width(), rect.height()) / 3;
    painter->setBrush(QColor(255, 255, 255));
    painter->drawPolygon(QPolygonF{rect.topLeft(), rect.topLeft() + QPointF(mark, 0),
                                   rect.topLeft() + QPointF(0, mark)});
    painter->restore();
    DraftGraphicRotatingItem::paint(painter, option, widget);
}
