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
    Building* building = addBuilding("House");
    Floor* floor = addFloor(building, "Ground");
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

void sendMouse(QGraphicsScene* scene, QGraphicsItem* item, QEvent::Type type)
{
    QGraphicsSceneMouseEvent event(type);
    event.setButton(Qt::LeftButton);
    event.setButtons(type == QEvent::GraphicsSceneMouseRelease ? Qt::NoButton : Qt::LeftButton);
    event.setScenePos(item->scenePos());
    event.setPos(QPointF(0, 0));
    scene->sendEvent(item, &event);
}

} // namespace

TEST(UndoEdit, MoveIsOneStepThatUndoAndRedoRestore)
{
    UndoFixture f;
    TestItem* note = f.place(QPointF(10, 20));
    note->beginEdit(false);
    note->setPos(30, 40);
    note->beginEdit(false); // a second begin keeps the first snapshot
    note->setPos(50, 60);
    note->endEdit(false);
    ASSERT_EQ(f.stack->count(), 1);
    EXPECT_EQ(f.stack->text(0), "Move note");
    f.stack->undo();
    EXPECT_EQ(note->pos(), QPointF(10, 20));
    f.stack->redo();
    EXPECT_EQ(note->pos(), QPointF(50, 60));
}

TEST(UndoEdit, RotatingItemsNameTheirChangeAndPlainItemsCannotRotate)
{
    UndoFixture f;
    auto* item = f.place<TestRotatingItem>(QPointF(0, 0));
    item->beginEdit(false);
    item->setRotation(30);
    item->endEdit(false);
    item->beginEdit(false);
    item->setRotation(45);
    item->setPos(5, 5);
    item->endEdit(false);
    ASSERT_EQ(f.stack->count(), 2);
    EXPECT_EQ(f.stack->text(0), "Rotate item");
    EXPECT_EQ(f.stack->text(1), "Edit item");
    f.stack->undo();
    EXPECT_EQ(item->rotation(), 30);
    EXPECT_EQ(item->pos(), QPointF(0, 0));
    f.stack->undo();
    EXPECT_EQ(item->rotation(), 0);

    TestItem* note = f.place(QPointF(0, 0));
    note->setRotation(30);
    note->setTransform(QTransform().rotate(20));
    EXPECT_EQ(note->rotation(), 0);
    EXPECT_TRUE(note->transform().isIdentity());
}

TEST(UndoEdit, GroupRotationBecomesEachItemsOwnRotation)
{
    UndoFixture f;
    auto* item = f.place<TestRotatingItem>(QPointF(100, 0));
    item->setRotation(10);
    TestItem* note = f.place(QPointF(-100, 0));
    QGraphicsItemGroup* group = f.floor->createItemGroup({item, note});
    group->setRotation(90);
    f.floor->destroyItemGroup(group);
    EXPECT_NEAR(item->rotation(), 100, 1e-9);
    EXPECT_TRUE(item->transform().isIdentity());
    EXPECT_NEAR(item->pos().x(), 0, 1e-9);
    EXPECT_NEAR(item->pos().y(), 100, 1e-9);
    EXPECT_EQ(note->rotation(), 0);
    EXPECT_TRUE(note->transform().isIdentity());
    EXPECT_NEAR(note->pos().y(), -100, 1e-9);
}

TEST(UndoEdit, DiscardedAndUnchangedEditsMakeNoStep)
{
    UndoFixture f;
    TestItem* note = f.place(QPointF(1, 1));
    note->setSelected(true);
    f.property->setDirty(false);
    sendMouse(f.floor, note, QEvent::GraphicsSceneMousePress);
    EXPECT_TRUE(note->hasOpenEdit());
    sendMouse(f.floor, note, QEvent::GraphicsSceneMouseRelease);
    EXPECT_FALSE(note->hasOpenEdit());
    EXPECT_EQ(f.stack->count(), 0);
    EXPECT_FALSE(f.property->isDirty()) << "a click is no change";

    note->beginEdit(false);
    note->setPos(9, 9);
    f.floor->removeItem(note); // leaving the scene discards the edit
    EXPECT_EQ(note->pos(), QPointF(1, 1));
    EXPECT_EQ(f.stack->count(), 0);
    delete note;
}

TEST(UndoEdit, DraggingASelectionIsOneStepForEveryItem)
{
    UndoFixture f;
    QList<TestItem*> notes{f.place(QPointF(0, 0)), f.place(QPointF(100, 0)), f.place(QPointF(200, 0))};
    for (TestItem* note : notes)
        note->setSelected(true);
    sendMouse(f.floor, notes[0], QEvent::GraphicsSceneMousePress);
    for (TestItem* note : notes)
        note->setPos(note->pos() + QPointF(0, 50));
    sendMouse(f.floor, notes[0], QEvent::GraphicsSceneMouseRelease);
    ASSERT_EQ(f.stack->count(), 1);
    EXPECT_EQ(f.stack->text(0), "Move selection");
    EXPECT_EQ(f.stack->command(0)->childCount(), 3);
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
    ASSERT_EQ(f.stack->count(), 1);
    EXPECT_EQ(f.stack->text(0), "Add note");
    EXPECT_EQ(f.stack->command(0)->childCount(), 2) << "the open move joins the same step";
    EXPECT_EQ(note->scene(), f.floor);
    f.stack->undo();
    EXPECT_EQ(note->scene(), nullptr);
    EXPECT_EQ(old->pos(), QPointF(0, 0));
    f.stack->redo();
    EXPECT_EQ(note->scene(), f.floor);

    f.floor->pushCommand(new RemoveFromSceneCommand(f.floor, note));
    EXPECT_EQ(f.stack->text(1), "Remove note");
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
    TestItem* line = f.place(QPointF(0, 0));
    delete line;
    auto* reference = new TestItem("ReferenceLine");
    f.floor->addItem(reference);
    reference->setPos(50, 50);
    Panorama* scan = f.addUserScan(f.floor, "scan");
    scan->setPos(-100, 0);
    f.stack->clear();

    f.floor->moveRotateItems(0);
    f.floor->deleteSelectedItems({});
    f.floor->deleteSelectedItems({scan});
    EXPECT_EQ(f.stack->count(), 0);

    f.floor->moveRotateItems(180);
    ASSERT_EQ(f.stack->count(), 1);
    EXPECT_EQ(f.stack->text(0), "Move/rotate items");
    EXPECT_EQ(child->parentItem(), parent);
    EXPECT_EQ(child->pos(), QPointF(10, 0));
    // Half a turn about the group's centre swaps the two sides and keeps their distance.
    EXPECT_NEAR(scan->pos().x() - parent->pos().x(), 200, 1e-6);
    EXPECT_NEAR(parent->pos().y(), 0, 1e-6);
    EXPECT_NEAR(parent->rotation(), 0, 1e-6);
    EXPECT_NEAR(scan->rotation(), 180, 1e-6);
    EXPECT_EQ(reference->pos(), QPointF(50, 50)) << "reference lines stay where they are";
    f.stack->undo();
    EXPECT_EQ(parent->pos(), QPointF(100, 0));
    EXPECT_EQ(scan->pos(), QPointF(-100, 0));
    EXPECT_EQ(scan->rotation(), 0);

    f.floor->deleteSelectedItems({child, parent, scan});
    ASSERT_EQ(f.stack->count(), 1);
    EXPECT_EQ(f.stack->text(0), "Delete");
    EXPECT_EQ(f.stack->command(0)->childCount(), 1);
    EXPECT_EQ(parent->scene(), nullptr);
    EXPECT_EQ(child->parentItem(), parent);
    EXPECT_EQ(scan->scene(), f.floor);
    f.stack->undo();
    EXPECT_EQ(parent->scene(), f.floor);
}

TEST(UndoMacros, NestingDepthAndFindings)
{
    UndoFixture f;
    f.floor->drcFindings().append(DrcFinding{});
    f.floor->endMacro();
    EXPECT_TRUE(f.floor->drcFindings().isEmpty());
    EXPECT_EQ(f.floor->macroDepth(), 0);
    EXPECT_EQ(f.stack->count(), 0);

    TestItem* note = f.place(QPointF(0, 0));
    f.floor->beginMacro("outer");
    f.floor->beginMacro("inner");
    note->beginEdit(false);
    note->setPos(1, 1);
    f.floor->endMacro();
    EXPECT_TRUE(note->hasOpenEdit()) << "only the outermost macro commits edits";
    f.floor->commitItemEdits("Move note");
    EXPECT_TRUE(note->hasOpenEdit()) << "the macro's owner commits";
    f.floor->endMacro();
    EXPECT_FALSE(note->hasOpenEdit());
    ASSERT_EQ(f.stack->count(), 1);
    EXPECT_EQ(f.stack->text(0), "outer");
    f.property->setDirty(false);
    f.stack->undo();
    EXPECT_TRUE(f.property->isDirty()) << "every undo is a change";
}

TEST(UndoOwnership, EveryItemIsFreedExactlyOnce)
{
    const int aliveBefore = TestItem::alive;
    {
        UndoFixture f;
        QList<TestItem*> notes;
        for (int i = 0; i < 101; ++i) {
            auto* note = new TestItem("note");
            notes << note;
            f.floor->pushCommand(new AddToSceneCommand(f.floor, note));
        }
        EXPECT_EQ(f.stack->count(), 100) << "the oldest step falls off the limit";
        EXPECT_EQ(notes.first()->scene(), f.floor);
        for (int i = 0; i < 50; ++i)
            f.stack->undo();
        EXPECT_EQ(notes.last()->scene(), nullptr);
        // Cutting the redo branch deletes the undone additions and the notes they own.
        f.floor->pushCommand(new RemoveFromSceneCommand(f.floor, notes[10]));
        EXPECT_EQ(TestItem::alive, aliveBefore + 51);
        f.stack->undo();
        f.stack->redo();
        EXPECT_EQ(TestItem::alive, aliveBefore + 51);
    }
    EXPECT_EQ(TestItem::alive, aliveBefore);
}
