#include "model/item.h"
#include "model/reference_line.h"
#include "support/model_fixture.h"

#include <QImage>
#include <QJsonArray>
#include <QPainter>
#include <QUndoStack>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

struct PlanFixture : ProjectFixture {
    Floor* floor = addFloor(addBuilding("House"), "Ground");

    // The scene area `source` drawn into a transparent picture of `size`.
    QImage render(const QRectF& source, const QSize& size)
    {
        QImage image(size, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        floor->render(&painter, QRectF(QPointF(0, 0), QSizeF(size)), source);
        painter.end();
        return image;
    }
};

// Highest alpha in one pixel column: where a horizontal line crosses it.
int strongestAlpha(const QImage& image, int x)
{
    int best = 0;
    for (int y = 0; y < image.height(); ++y)
        best = std::max(best, qAlpha(image.pixel(x, y)));
    return best;
}

} // namespace

TEST(PlanItems, ReferenceLineIsUndoableAndFadedAsAnUnderlayAndItemFlipsMirrorTheBox)
{
    PlanFixture f;
    ReferenceLine* line = ReferenceLine::create(f.floor, {0, 0}, {100, 0});
    f.floor->undoStack()->undo();
    EXPECT_EQ(line->scene(), nullptr);
    f.floor->undoStack()->redo();
    line->setPos(10, -20.5);
    EXPECT_EQ(line->toJson(false), (QJsonObject{{"p1", QJsonArray{10, -20.5}}, {"p2", QJsonArray{110, -20.5}}}));
    line->setPos(0, 0);
    const QRectF area(-10, -10, 120, 20);
    EXPECT_EQ(strongestAlpha(f.render(area, {120, 20}), 60), 255);
    f.floor->setShownAsUnderlay(true);
    EXPECT_NEAR(strongestAlpha(f.render(area, {120, 20}), 60), 115, 1);
    f.floor->setShownAsUnderlay(false);
    auto* item = new Item(QSizeF(600, 400));
    f.floor->addItem(item);
    item->setPos(0, 1000); // clear of the line
    // The corner mark sits at the box's top left; each flip mirrors it across one axis.
    const auto markAt = [&](int x, int y) { return qAlpha(f.render({-310, 790, 620, 420}, {62, 42}).pixel(x, y)) > 0; };
    EXPECT_TRUE(markAt(3, 3) && !markAt(58, 3));
    EXPECT_TRUE(item->toggleFirstFlip());
    EXPECT_TRUE(!markAt(3, 3) && markAt(58, 3));
    EXPECT_TRUE(item->toggleSecondFlip());
    EXPECT_TRUE(markAt(58, 38));
    EXPECT_EQ(item->toJson(false)["flip"].toArray(), (QJsonArray{true, true}));
}
