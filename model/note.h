#pragma once

#include "model/draft_item.h"

#include <QString>

// A text note on the floor plan, centred on its position and turned by its rotation.
class Note : public DraftGraphicRotatingItem {
public:
    Note(const QPointF& position, const QString& text);

    QString typeName() const override { return QStringLiteral("note"); }
    const QString& text() const { return m_text; }
    void setText(const QString& text);

    // "id", "pos", "rot" and "text".
    QJsonObject toJson(bool forExport) override;

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

private:
    QRectF textRect() const;

    QString m_text;
};
