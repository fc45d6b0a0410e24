#include "app/units.h"
#include "editor/item.h"
#include "editor/note.h"
#include "editor/reference_line.h"
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
};

// The scene area `source` drawn into a transparent picture of `size`.
QImage render(Floor* floor, const QRectF& source, const QSize& size)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    floor->render(&painter, QRectF(QPointF(0, 0), QSizeF(size)), source);
    painter.end();
    return image;
}

int paintedPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 0;
    return count;
}

// Highest alpha in one pixel column: where a horizontal line crosses it.
int strongestAlphaInColumn(const QImage& image, int x)
{
    int best = 0;
    for (int y = 0; y < image.height(); ++y)
        best = std::max(best, qAlpha(image.pixel(x, y)));
    return best;
}

} // namespace

TEST(NoteItem, WritesItsRecordAndPaintsItsText)
{
    PlanFixture f;
    auto* note = new Note({120.5, -40}, "Hall");
    f.floor->addItem(note);
    note->setRotation(30);
    EXPECT_EQ(note->rotation(), 30) << "a note turns, unlike a plain draft item";
    EXPECT_EQ(note->toJson(true), (QJsonObject{{"id", qint64(note->uniqueId())}, {"pos", QJsonArray{120.5, -40}},
                                               {"rot", degreesToJsonAngle(30)}, {"text", "Hall"}}));
    note->setRotation(0);
    const QRectF area = note->sceneBoundingRect();
    const QSize size = area.size().toSize() / 4;
    EXPECT_GT(paintedPixels(render(f.floor, area, size)), 20);
    note->setText("");
    EXPECT_EQ(paintedPixels(render(f.floor, area, size)), 0);
}

TEST(ReferenceLineItem, CreatedUndoablyWrittenInSceneCoordinatesAndFadedUnderAnotherFloor)
{
    PlanFixture f;
    ReferenceLine* line = ReferenceLine::create(f.floor, {0, 0}, {100, 0});
    ASSERT_EQ(f.floor->undoStack()->count(), 1);
    EXPECT_EQ(f.floor->undoStack()->text(0), "Add ReferenceLine");
    f.floor->undoStack()->undo();
    EXPECT_EQ(line->scene(), nullptr);
    f.floor->undoStack()->redo();
    EXPECT_EQ(line->scene(), f.floor);
    line->setPos(10, -20.5);
    EXPECT_EQ(line->toJson(false), (QJsonObject{{"p1", QJsonArray{10, -20.5}}, {"p2", QJsonArray{110, -20.5}}}));
    line->setPos(0, 0);

    const QRectF area(-10, -10, 120, 20);
    EXPECT_EQ(strongestAlphaInColumn(render(f.floor, area, {120, 20}), 60), 255);
    f.floor->setShownAsUnderlay(true);
    EXPECT_NEAR(strongestAlphaInColumn(render(f.floor, area, {120, 20}), 60), 115, 1);
    EXPECT_EQ(line->drawingPen().color().rgb(), QColor(255, 0, 0).rgb()) << "only the alpha changes";
}

TEST(ItemBox, FlipsToggleMirrorTheDrawingAndAreUndoneWithTheEdit)
{
    PlanFixture f;
    auto* item = new Item(QSizeF(600, 400));
    f.floor->addItem(item);
    EXPECT_EQ(item->toJson(false)["flip"].toArray(), (QJsonArray{false, false}));

    // The corner mark sits at the box's top left; each flip mirrors it across one axis.
    const QRectF area(-310, -210, 620, 420);
    const auto markAt = [&](int x, int y) { return qAlpha(render(f.floor, area, {62, 42}).pixel(x, y)) > 0; };
    EXPECT_TRUE(markAt(3, 3));
    EXPECT_FALSE(markAt(58, 3));

    item->beginEdit(false);
    EXPECT_TRUE(item->toggleFirstFlip());
    item->endEdit(false);
    EXPECT_FALSE(markAt(3, 3));
    EXPECT_TRUE(markAt(58, 3));
    ASSERT_EQ(f.floor->undoStack()->count(), 1);
    EXPECT_EQ(f.floor->undoStack()->text(0), "Edit item");

    EXPECT_TRUE(item->toggleSecondFlip());
    EXPECT_TRUE(markAt(58, 38));
    EXPECT_EQ(item->toJson(false)["flip"].toArray(), (QJsonArray{true, true}));
    item->setRotation(180);
    EXPECT_TRUE(markAt(3, 3)) << "turned half around, the twice mirrored box looks as it began";

    EXPECT_FALSE(item->toggleSecondFlip());
    f.floor->undoStack()->undo();
    EXPECT_FALSE(item->firstFlip());
    f.floor->undoStack()->redo();
    EXPECT_TRUE(item->firstFlip());
}
