#include "app/floor_select_dialog.h"
#include "model/panorama.h"
#include "model/undo_commands.h"
#include "support/model_fixture.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QGraphicsItemGroup>
#include <QKeyEvent>
#include <QMenu>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace testsupport;

namespace {

QStringList scanNames(const Floor* floor)
{
    QStringList names;
    for (const Panorama* pano : floor->panos())
        names << pano->ownName();
    return names;
}

void triggerAction(Floor* floor, const QString& text)
{
    QMenu menu;
    floor->contextMenuActions(&menu);
    for (QAction* action : menu.actions())
        if (action->text() == text)
            return floor->onContextAction(action);
    ADD_FAILURE() << "no action " << text.toStdString();
}

struct FloorFixture : ProjectFixture {
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

} // namespace

TEST(FloorScans, JoinAndLeaveThroughTheSceneAndMoveWithoutMergingFolders)
{
    FloorFixture f;
    Panorama* a = f.addUserScan(f.floor, "a");
    Panorama* b = f.addUserScan(f.floor, "b");
    f.floor->setHighlightedItems({a, b});
    f.floor->removeItem(a);
    EXPECT_EQ(f.floor->highlightedPanos(), QList<QGraphicsItem*>{b});
    f.floor->addItem(a);
    EXPECT_EQ(f.floor->panos(), (QList<Panorama*>{b, a}));
    f.property->setDirty(false);
    f.floor->movePano(a, 7);
    f.floor->movePano(a, -3);
    EXPECT_EQ(f.floor->panos(), (QList<Panorama*>{b, a}));
    EXPECT_FALSE(f.property->isDirty());

    Floor* upper = f.addFloor(f.building, "Upper");
    f.addUserScan(upper, "a");
    upper->movePano(a, 0);
    EXPECT_EQ(upper->panos().first(), a);
    EXPECT_EQ(listTree(f.path("Upper")), (QStringList{"a/", "a/u.jpg", "a_001/", "a_001/u.jpg"}));
    delete b; // a scan deleted outright leaves no dangling entry behind
    EXPECT_TRUE(f.floor->panos().isEmpty() && f.floor->highlightedPanos().isEmpty());
}

TEST(FloorScans, SortByNameOrDateMarksTheProjectChanged)
{
    FloorFixture f;
    for (const char* name : {"attic", "10 - Hall", "Attic", "map", "2 - Kitchen", " 7 "})
        f.addUserScan(f.floor, name);
    f.floor->panos()[3]->setPanoType(PanoType::Map);
    f.property->setDirty(false);
    triggerAction(f.floor, "Sort by name");
    EXPECT_EQ(scanNames(f.floor), (QStringList{"map", "2 - Kitchen", " 7 ", "10 - Hall", "Attic", "attic"}));
    EXPECT_TRUE(f.property->isDirty());

    // By date: map scans, then scans with a transform file oldest first, then the rest by plain name.
    for (auto [name, age] : {std::pair{"Attic", 10}, {" 7 ", 1000}}) {
        QFile file(f.path(QString("Ground/%1/xfrm.dat").arg(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("x") == 1);
        file.flush();
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-age), QFileDevice::FileModificationTime));
    }
    f.floor->sortPanosByDate();
    EXPECT_EQ(scanNames(f.floor), (QStringList{"map", " 7 ", "Attic", "10 - Hall", "2 - Kitchen", "attic"}));
}

TEST(FloorScans, DeletingAScanClearsHistoryMacrosInitialScanAndOnlyItsFolder)
{
    FloorFixture f;
    Panorama* a = f.addUserScan(f.floor, "a");
    f.addUserScan(f.floor, "b");
    f.property->setInitialPano(a);
    f.floor->pushCommand(new AddToSceneCommand(f.floor, new TestItem("note")));
    f.floor->beginMacro("open");
    f.floor->deletePano(a, true);
    EXPECT_EQ(f.property->initialPano(), nullptr);
    EXPECT_EQ(f.floor->macroDepth(), 0) << "clearing the stack closes its macros";
    EXPECT_EQ(listTree(f.path("Ground")), (QStringList{"b/", "b/u.jpg"}));
    f.floor->moveRotateItems(90);
    EXPECT_EQ(f.floor->undoStack()->count(), 1) << "a fresh macro after the reset is a step of its own";
    const QRectF rect = f.floor->sceneRect();
    f.floor->resetScene();
    f.floor->resetScene();
    EXPECT_EQ(f.floor->sceneRect(), rect) << "resets must not widen the scene again";
}

TEST(FloorCompass, RotationFollowsTheScansAndOtherFloorsAreBroughtToIt)
{
    FloorFixture f;
    Panorama* a = f.addUserScan(f.floor, "a");
    EXPECT_TRUE(std::isnan(f.floor->compassRotation()));
    a->setRotation(30);
    a->setCompass(10);
    f.addUserScan(f.floor, "b")->setCompass(-40); // 20 and 40 degrees: their mean direction is 30
    f.floor->invalidateCompass();
    EXPECT_NEAR(f.floor->compassRotation(), 30, 1e-9);
    const QPointF north = f.floor->northVector(); // y points down
    EXPECT_NEAR(std::atan2(north.y(), north.x()), -30 * M_PI / 180, 1e-9);

    Floor* upper = f.addFloor(f.building, "1st Floor");
    Panorama* c = f.addUserScan(upper, "c");
    c->setRotation(5);
    c->setCompass(0);
    f.floor->rotateFloorsByCompass();
    EXPECT_NEAR(c->rotation(), 30, 1e-6);
    upper->undoStack()->undo();
    EXPECT_NEAR(upper->compassRotation(), 5, 1e-6) << "one undoable step";
}

TEST(FloorSetters, MarkTheProjectChangedOnlyWhenAValueChangesAndRenameMovesTheFolderAtOnce)
{
    FloorFixture f;
    f.addUserScan(f.floor, "Hall");
    const std::pair<const char*, std::function<void(int)>> setters[]{
        {"grade", [&](int v) { f.floor->setGradeHint(v); }},
        {"ceiling", [&](int v) { f.floor->setCeilingHeight(v * 2400); }},
        {"hidden", [&](int v) { f.floor->setShown(v == 0); }},
        {"name", [&](int v) { f.floor->setName(v ? "Main: Level" : "Ground"); }},
    };
    for (const auto& [name, set] : setters) {
        SCOPED_TRACE(name);
        f.property->setDirty(false);
        set(0);
        EXPECT_FALSE(f.property->isDirty());
        set(1);
        EXPECT_TRUE(f.property->isDirty());
    }
    f.addFloor(f.building, "Attic")->setName("Main: Level");
    EXPECT_EQ(listTree(f.path()),
              (QStringList{"Main- Level/", "Main- Level/Hall/", "Main- Level/Hall/u.jpg", "Main- Level_001/"}));
    EXPECT_EQ(f.floor->panos().first()->folder(), f.path("Main- Level/Hall"));
}

TEST(FloorUnderlay, ChosenThroughTheChooserWhoseEscapeCancels)
{
    FloorFixture f;
    Floor* upper = f.addFloor(f.building, "Upper");
    for (auto [answer, cancelled] : {std::pair<Floor*, bool>{f.floor, false}, {nullptr, true}}) {
        ScriptedPrompt prompt;
        prompt.answerFloor(answer, cancelled);
        triggerAction(upper, "Set underlay floor");
    }
    EXPECT_EQ(upper->underlayFloor(), f.floor) << "a cancelled choice keeps the underlay";

    FloorSelectDialog dialog(f.building, upper);
    dialog.show();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &escape);
    EXPECT_TRUE(dialog.wasCancelled()) << "Escape must not choose None";
}

TEST(UndoEdit, MoveRotateAddAndRemoveAreOneStepEachThatUndoAndRedoRestore)
{
    FloorFixture f;
    auto* item = f.place<TestRotatingItem>(QPointF(10, 20));
    item->beginEdit(false);
    item->setPos(50, 60);
    item->endEdit(false);
    item->beginEdit(false);
    item->setRotation(30);
    item->endEdit(false);
    item->beginEdit(false);
    item->setPos(0, 0); // an open edit joins the next pushed step
    auto* note = new TestItem("note");
    f.floor->pushCommand(new AddToSceneCommand(f.floor, note));
    f.floor->pushCommand(new RemoveFromSceneCommand(f.floor, note));
    ASSERT_EQ(f.stack->count(), 4);
    EXPECT_EQ(note->scene(), nullptr);
    f.stack->undo();
    EXPECT_EQ(note->scene(), f.floor);
    f.stack->undo();
    EXPECT_EQ(note->scene(), nullptr);
    EXPECT_EQ(item->pos(), QPointF(50, 60));
    f.stack->undo();
    EXPECT_EQ(item->rotation(), 0);
    f.stack->undo();
    EXPECT_EQ(item->pos(), QPointF(10, 20));
    f.stack->redo();
    EXPECT_EQ(item->pos(), QPointF(50, 60));
}

TEST(UndoEdit, PlainItemsRefuseTransformsAndGroupRotationBecomesOwnRotation)
{
    FloorFixture f;
    auto* item = f.place<TestRotatingItem>(QPointF(100, 0));
    item->setRotation(10);
    TestItem* note = f.place(QPointF(-100, 0));
    note->setRotation(30);
    note->setTransform(QTransform().rotate(20));
    QGraphicsItemGroup* group = f.floor->createItemGroup({item, note});
    group->setRotation(90);
    f.floor->destroyItemGroup(group);
    EXPECT_NEAR(item->rotation(), 100, 1e-9);
    EXPECT_NEAR(item->pos().y(), 100, 1e-9);
    EXPECT_TRUE(item->transform().isIdentity());
    EXPECT_NEAR(note->pos().y(), -100, 1e-9);
    EXPECT_TRUE(note->rotation() == 0 && note->transform().isIdentity());
}

TEST(UndoMacros, MoveRotateAndDeleteTakeTopLevelItemsAndOpenNoEmptyMacro)
{
    FloorFixture f;
    TestItem* parent = f.place(QPointF(100, 0));
    auto* child = new TestItem("label", parent);
    child->setPos(10, 0);
    Panorama* scan = f.addUserScan(f.floor, "scan");
    scan->setPos(-100, 0);
    f.stack->clear();
    f.floor->moveRotateItems(0);
    f.floor->deleteSelectedItems({scan});
    EXPECT_EQ(f.stack->count(), 0);
    f.floor->moveRotateItems(180);
    ASSERT_EQ(f.stack->count(), 1);
    EXPECT_EQ(child->pos(), QPointF(10, 0));
    EXPECT_NEAR(scan->pos().x() - parent->pos().x(), 200, 1e-6) << "half a turn swaps the two sides";
    EXPECT_NEAR(scan->rotation(), 180, 1e-6);
    f.floor->deleteSelectedItems({child, parent, scan});
    ASSERT_EQ(f.stack->count(), 2);
    EXPECT_EQ(f.stack->command(1)->childCount(), 1);
    EXPECT_EQ(child->parentItem(), parent);
    EXPECT_EQ(scan->scene(), f.floor);
}

TEST(UndoOwnership, EveryItemIsFreedExactlyOnce)
{
    const int aliveBefore = TestItem::alive;
    {
        FloorFixture f;
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
