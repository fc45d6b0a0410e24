#include "model/note.h"

#include "model/app_settings.h"
#include "model/constants.h"

#include <QFontMetricsF>
#include <QPainter>

Note::Note(const QPointF& position, const QString& text)
    : DraftGraphicRotatingItem(nullptr, 0), m_text(text)
{
    setFlag(ItemIsMovable, true);
    setAcceptHoverEvents(true);
    setPos(position);
}

void Note::setText(const QString& text)
{
    if (text == m_text)
        return;
    prepareGeometryChange();
    m_text = text;
}

QJsonObject Note::toJson(bool forExport)
{
    QJsonObject json = DraftGraphicRotatingItem::toJson(forExport);
    json["text"] = m_text;
    return json;
}

QRectF Note::textRect() const
{
    // An empty note keeps a box the size of one letter so that it can still be picked.
    const QString measured = m_text.isEmpty() ? QStringLiteral("M") : m_text;
    QRectF rect = QFontMetricsF(AppSettings::planFontNormal).boundingRect(QRectF(), Qt::AlignCenter, measured);
    rect.moveCenter(QPointF(0, 0));
    return rect;
}

QRectF Note::boundingRect() const
{
    // Room for the highlight pen around the text.
    return textRect().adjusted(-10, -10, 10, 10);
}

QPainterPath Note::shape() const
{
    QPainterPath path;
    path.addRect(textRect());
    return path;
}

void Note::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget)
{
    painter->save();
    painter->setFont(AppSettings::planFontNormal);
    painter->setPen(QColor(255, 255, 255));
    painter->drawText(textRect(), Qt::AlignCenter, m_text);
    painter->restore();
    DraftGraphicRotatingItem::paint(painter, option, widget);
}
