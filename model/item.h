#pragma once

#include "model/draft_item.h"

#include <QSizeF>

// A box placed on the plan that can be turned and mirrored. The first flip mirrors its drawing
// left to right, the second top to bottom. Its state holds both flips, so toggling one inside an
// edit is undone with the edit.
class Item : public DraftGraphicRotatingItem {
public:
    explicit Item(const QSizeF& size = QSizeF(600, 400));

    QString typeName() const override { return QStringLiteral("item"); }
    const QSizeF& size() const { return m_size; }
    bool firstFlip() const { return m_firstFlip; }
    bool secondFlip() const { return m_secondFlip; }
    bool toggleFirstFlip() override;
    bool toggleSecondFlip() override;

    // Position, rotation, first flip, second flip.
    QVariantList state() const override;
    void setState(const QVariantList& state) override;
    // "Edit" when only the flips changed, otherwise as for any rotating item.
    QString changeDescription(const QVariantList& before, const QVariantList& after) const override;
    // The rotating item's keys and "flip": [first, second].
    QJsonObject toJson(bool forExport) override;

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

private:
    QRectF box() const;

    QSizeF m_size;
    bool m_firstFlip = false;
    bool m_secondFlip = false;
};
