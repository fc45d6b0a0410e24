#include "pano/panorama.h"
#include "project/undo_commands.h"
#include "support/model_fixture.h"

#include <QGraphicsItemGroup>
#include <QGraphicsSceneMouseEvent>
#include <QUndoStack>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

struct UndoFixture : ProjectFixture {
    Floor* floor = addFloor(addBuilding("House"), "Ground");
    QUndoStack* stack = floor->undoStack();

    template <typename Item = TestItem>
    Item* place(QPointF at)
    {
        auto* item = new Item();
        floor->addItem(item);
        item->setPos(at);
        return item;
    }
};

void click(QGraphicsScene* scene, QGraphicsItem* item, QEvent::Type type)
{
    QGraphicsSceneMouseEvent event(type);
    event.setButton(Qt::LeftButton);
    event.setButtons(type == QEvent::GraphicsSceneMouseRelease ? Qt::NoButton : Qt::LeftButton);
    event.setScenePos(item->scenePos());
    scene->sendEvent(item, &event);
}

} // namespace

TEST(UndoEdit, MoveAndRotateAreOneStepEachThatUndoAndRedoRestore)
{
    UndoFixture f;
    // A click is no change, and an edit left open when the item leaves the scene is discarded.
    TestItem* note = f.place(QPointF(1, 1));
    note->setSelected(true);
    click(f.floor, note, QEvent::GraphicsSceneMousePress);
    click(f.floor, note, QEvent::GraphicsSceneMouseRelease);
    note->beginEdit(false);
    note->setPos(9, 9);
    f.floor->removeItem(note);
    EXPECT_EQ(note->pos(), QPointF(1, 1));
    EXPECT_EQ(f.stack->count(), 0);
    delete note;

    auto* item = f.place<TestRotatingItem>(QPointF(10, 20));
    item->beginEdit(false);
    item->setPos(30, 40);
    item->beginEdit(false); // a second begin keeps the first snapshot
    item->setPos(50, 60);
    item->endEdit(false);
    item->beginEdit(false);
    item->setRotation(30);
    item->endEdit(false);
    ASSERT_EQ(f.stack->count(), 2);
    EXPECT_EQ(f.stack->text(1), "Rotate item");
    f.stack->undo();
    EXPECT_EQ(item->rotation(), 0);
    f.stack->undo();
    EXPECT_EQ(item->pos(), QPointF(10, 20));
    f.stack->redo();
    EXPECT_EQ(item->pos(), QPointF(50, 60));

}

TEST(UndoEdit, PlainItemsRefuseTransformsAndGroupRotationBecomesOwnRotation)
{
    UndoFixture f;
    auto* item = f.place<TestRotatingItem>(QPointF(100, 0));
    item->setRotation(10);
    TestItem* note = f.place(QPointF(-100, 0));
    note->setRotation(30);
    note->setTransform(QTransform().rotate(20));
    EXPECT_EQ(note->rotation(), 0);
    QGraphicsItemGroup* group = f.floor->createItemGroup({item, note});
    group->setRotation(90);
    f.floor->destroyItemGroup(group);
    EXPECT_NEAR(item->rotation(), 100, 1e-9);
    EXPECT_NEAR(item->pos().y(), 100, 1e-9);
    EXPECT_NEAR(note->pos().y(), -100, 1e-9);
    for (QGraphicsItem* i : {static_cast<QGraphicsItem*>(item), static_cast<QGraphicsItem*>(note)})
        EXPECT_TRUE(i->transform().isIdentity());
    EXPECT_EQ(note->rotation(), 0);
}

TEST(UndoEdit, DraggingASelectionIsOneStepForEveryItem)
{
    UndoFixture f;
    QList<TestItem*> notes{f.place(QPointF(0, 0)), f.place(QPointF(100, 0)), f.place(QPointF(200, 0))};
    for (TestItem* note : notes)
        note->setSelected(true);
    click(f.floor, notes[0], QEvent::GraphicsSceneMousePress);
    for (TestItem* note : notes)
        note->setPos(note->pos() + QPointF(0, 50));
    click(f.floor, notes[0], QEvent::GraphicsSceneMouseRelease);
    ASSERT_EQ(f.stack->count(), 1);
    f.stack->undo();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(notes[i]->pos(), QPointF(100 * i, 0));
}

TEST(UndoScene, AddAndRemoveAreStepsAndPushCommitsOpenEdits)
{
    UndoFixture f;
    TestItem* old = f.place(QPointF(0, 0));
    old->beginEdit(false);
    old->setPos(5, 0);
    auto* note = new TestItem("note");
    f.floor->pushCommand(new AddToSceneCommand(f.floor, note));
    ASSERT_EQ(f.stack->count(), 1) << "the open move joins the same step";
    f.stack->undo();
    EXPECT_EQ(note->scene(), nullptr);
    EXPECT_EQ(old->pos(), QPointF(0, 0));
    f.stack->redo();
    f.floor->pushCommand(new RemoveFromSceneCommand(f.floor, note));
    EXPECT_EQ(note->scene(), nullptr);
    f.stack->undo();
    EXPECT_EQ(note->scene(), f.floor);
}

TEST(UndoMacros, MoveRotateAndDeleteTakeTopLevelItemsAndOpenNoEmptyMacro)
{
    UndoFixture f;
    TestItem* parent = f.place(QPointF(100, 0));
    auto* child = new TestItem("label", parent);
    child->setPos(10, 0);
    auto* line = new TestItem("ReferenceLine");
    f.floor->addItem(line);
    line->setPos(50, 50);
    Panorama* scan = f.addUserScan(f.floor, "scan");
    scan->setPos(-100, 0);
    f.stack->clear();
    f.floor->moveRotateItems(0);
    f.floor->deleteSelectedItems({});
    f.floor->deleteSelectedItems({scan});
    EXPECT_EQ(f.stack->count(), 0);

    f.floor->moveRotateItems(180);
    ASSERT_EQ(f.stack->count(), 1);
    EXPECT_EQ(child->pos(), QPointF(10, 0));
    EXPECT_NEAR(scan->pos().x() - parent->pos().x(), 200, 1e-6) << "half a turn swaps the two sides";
    EXPECT_NEAR(scan->rotation(), 180, 1e-6);
    EXPECT_EQ(line->pos(), QPointF(50, 50)) << "reference lines stay where they are";
    f.stack->undo();
    EXPECT_EQ(scan->pos(), QPointF(-100, 0));

    f.floor->deleteSelectedItems({child, parent, scan});
    ASSERT_EQ(f.stack->count(), 1);
    EXPECT_EQ(f.stack->command(0)->childCount(), 1);
    EXPECT_EQ(child->parentItem(), parent);
    EXPECT_EQ(scan->scene(), f.floor);
    f.stack->undo();
    EXPECT_EQ(parent->scene(), f.floor);
}

TEST(UndoOwnership, EveryItemIsFreedExactlyOnce)
{
    const int aliveBefore = TestItem::alive;
    {
        UndoFixture f;
        QList<TestItem*> notes;
        for (int i = 0; i < 101; ++i) {
            notes << new TestItem("note");
            f.floor->pushCommand(new AddToSceneCommand(f.floor, notes.last()));
        }
        EXPECT_EQ(f.stack->count(), 100) << "the oldest step falls off the limit";
        for (int i = 0; i < 50; ++i)
            f.stack->undo();
        // Cutting the redo branch deletes the undone additions and the notes they own.
        f.floor->pushCommand(new RemoveFromSceneCommand(f.floor, notes[10]));
        EXPECT_EQ(TestItem::alive, aliveBefore + 51);
    }
    EXPECT_EQ(TestItem::alive, aliveBefore);
}
