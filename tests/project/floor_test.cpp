#include "pano/panorama.h"
#include "project/floor_select_dialog.h"
#include "project/undo_commands.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
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
};

} // namespace

TEST(FloorScans, JoinAndLeaveTheListThroughTheScene)
{
    FloorFixture f;
    Panorama* a = f.addUserScan(f.floor, "a");
    Panorama* b = f.addUserScan(f.floor, "b");
    f.floor->setHighlightedItems({a, b});
    f.floor->removeItem(a);
    EXPECT_EQ(f.floor->highlightedPanos(), QList<QGraphicsItem*>{b});
    f.floor->addItem(a);
    EXPECT_EQ(f.floor->panos(), (QList<Panorama*>{b, a}));
    delete b; // a scan deleted outright leaves no dangling entry behind
    EXPECT_EQ(f.floor->panos(), QList<Panorama*>{a});
    EXPECT_TRUE(f.floor->highlightedPanos().isEmpty());
}

TEST(FloorScans, SortByNameOrDateMarksTheProjectChangedOnlyWhenTheOrderChanges)
{
    FloorFixture f;
    for (const char* name : {"attic", "10 - Hall", "Attic", "map", "2 - Kitchen", " 7 ", "99999999999 - Big"})
        f.addUserScan(f.floor, name);
    f.floor->panos()[3]->setPanoType(PanoType::Map);
    f.property->setDirty(false);
    triggerAction(f.floor, "Sort by name");
    EXPECT_EQ(scanNames(f.floor),
              (QStringList{"map", "2 - Kitchen", " 7 ", "10 - Hall", "99999999999 - Big", "Attic", "attic"}));
    EXPECT_TRUE(f.property->isDirty());
    f.property->setDirty(false);
    f.floor->sortPanosByName();
    EXPECT_FALSE(f.property->isDirty());

    // By date: map scans, then scans with a transform file oldest first, then the rest by plain name.
    for (auto [name, age] : {std::pair{"Attic", 10}, {" 7 ", 1000}}) {
        QFile file(f.path(QString("Ground/%1/xfrm.dat").arg(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("x") == 1);
        file.flush();
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-age), QFileDevice::FileModificationTime));
    }
    f.floor->sortPanosByDate();
    EXPECT_EQ(scanNames(f.floor),
              (QStringList{"map", " 7 ", "Attic", "10 - Hall", "2 - Kitchen", "99999999999 - Big", "attic"}));
}

TEST(FloorScans, MovePanoIgnoresIndexesOutsideTheListAndNeverMergesFolders)
{
    FloorFixture f;
    Panorama* a = f.addUserScan(f.floor, "a");
    Panorama* b = f.addUserScan(f.floor, "b");
    f.property->setDirty(false);
    f.floor->movePano(b, 7);
    f.floor->movePano(b, -3);
    EXPECT_EQ(f.floor->panos(), (QList<Panorama*>{a, b}));
    EXPECT_FALSE(f.property->isDirty());

    Floor* upper = f.addFloor(f.building, "Upper");
    f.addUserScan(upper, "a");
    upper->movePano(a, 0);
    EXPECT_EQ(upper->panos().first(), a);
    EXPECT_EQ(listTree(f.path("Upper")), (QStringList{"a/", "a/u.jpg", "a_001/", "a_001/u.jpg"}));
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
    Floor* bare = f.addFloor(f.building, "Attic");
    LogCapture log;
    f.floor->rotateFloorsByCompass();
    EXPECT_NEAR(c->rotation(), 30, 1e-6);
    EXPECT_EQ(log.texts(QtWarningMsg), QStringList{"The following floors were not rotated (no compass data): Attic"});
    upper->undoStack()->undo();
    EXPECT_NEAR(upper->compassRotation(), 5, 1e-6) << "one undoable step";
    bare->rotateFloorsByCompass();
    EXPECT_TRUE(log.contains(QtWarningMsg, "Current floor has no compass data."));
}

TEST(FloorSetters, MarkTheProjectChangedOnlyWhenAValueChanges)
{
    FloorFixture f;
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
    f.floor->setCeilingHeight(-5);
    EXPECT_EQ(f.floor->ceilingHeight(), 2400);
    Floor* pictures = f.addFloor(f.building, "Pictures 2");
    pictures->setShown(true);
    EXPECT_FALSE(pictures->isShown()) << "pictures floors never reach the portal";
}

TEST(FloorRename, RenamesTheFolderAtOnceWithoutMerging)
{
    FloorFixture f;
    f.addUserScan(f.floor, "Hall");
    f.floor->setName("Main: Level");
    f.addFloor(f.building, "Attic")->setName("Main: Level");
    EXPECT_EQ(listTree(f.path()),
              (QStringList{"Main- Level/", "Main- Level/Hall/", "Main- Level/Hall/u.jpg", "Main- Level_001/"}));
    EXPECT_EQ(f.floor->panos().first()->folder(), f.path("Main- Level/Hall"));
}

TEST(FloorUnderlay, ChosenThroughTheChooserWhoseEscapeCancels)
{
    FloorFixture f;
    Floor* upper = f.addFloor(f.building, "Upper");
    const auto choose = [&](Floor* answer, bool cancelled) {
        ScriptedPrompt prompt;
        prompt.answerFloor(answer, cancelled);
        triggerAction(upper, "Set underlay floor");
    };
    choose(f.floor, false);
    choose(nullptr, true);
    EXPECT_EQ(upper->underlayFloor(), f.floor);
    choose(nullptr, false);
    EXPECT_EQ(upper->underlayFloor(), nullptr);

    FloorSelectDialog dialog(f.building, upper);
    dialog.show();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &escape);
    EXPECT_TRUE(dialog.wasCancelled()) << "Escape must not choose None";
    FloorSelectDialog chosen(f.building, upper); // Ground, None
    chosen.floorCombo()->setCurrentIndex(1);
    chosen.selectButton()->click();
    EXPECT_FALSE(chosen.wasCancelled());
    EXPECT_EQ(chosen.chosenFloor(), nullptr);
}
