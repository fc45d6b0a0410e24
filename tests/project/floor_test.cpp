#include "pano/panorama.h"
#include "project/undo_commands.h"
#include "project/floor_select_dialog.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/scripted_prompt.h"
#include "support/signal_counter.h"
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
        if (action->text() == text) {
            floor->onContextAction(action);
            return;
        }
    ADD_FAILURE() << "no action " << text.toStdString();
}

struct FloorFixture : ProjectFixture {
    Building* building = addBuilding("House");
    Floor* floor = addFloor(building, "Ground");
};

} // namespace

TEST(FloorScans, JoinAndLeaveTheOrderThroughTheScene)
{
    FloorFixture f;
    SignalCounter model(f.property.get(), &Property::modelUpdated);
    Panorama* a = f.addUserScan(f.floor, "a");
    Panorama* b = f.addUserScan(f.floor, "b");
    EXPECT_EQ(f.floor->panos(), (QList<Panorama*>{a, b}));
    EXPECT_EQ(a->floor(), f.floor);
    EXPECT_EQ(model.count(), 2);

    f.floor->setHighlightedItems({a, b});
    SignalCounter highlighted(f.floor, &Floor::highlightedPanosChanged);
    f.property->setDirty(false);
    f.floor->removeItem(a);
    EXPECT_EQ(f.floor->panos(), QList<Panorama*>{b});
    EXPECT_EQ(f.floor->highlightedPanos(), QList<QGraphicsItem*>{b});
    EXPECT_EQ(highlighted.count(), 1);
    EXPECT_TRUE(f.property->isDirty());
    f.floor->addItem(a);
    EXPECT_EQ(f.floor->panos(), (QList<Panorama*>{b, a}));

    delete b; // a scan deleted outright leaves no dangling entry behind
    EXPECT_EQ(f.floor->panos(), QList<Panorama*>{a});
    EXPECT_TRUE(f.floor->highlightedPanos().isEmpty());
}

TEST(FloorScans, SortByNameNumbersFirstThenNamesAndMapScansBeforeAll)
{
    FloorFixture f;
    for (const char* name : {"attic", "10 - Hall", "Attic", "map", "2 - Kitchen", " 7 ", "99999999999 - Big"})
        f.addUserScan(f.floor, name);
    f.floor->panos()[3]->setPanoType(PanoType::Map);
    f.property->setDirty(false);
    SignalCounter model(f.property.get(), &Property::modelUpdated);
    triggerAction(f.floor, "Sort by name");
    EXPECT_EQ(scanNames(f.floor),
              (QStringList{"map", "2 - Kitchen", " 7 ", "10 - Hall", "99999999999 - Big", "Attic", "attic"}));
    EXPECT_TRUE(f.property->isDirty()) << "a new scan order is an unsaved change";
    EXPECT_EQ(model.count(), 1);

    f.property->setDirty(false);
    f.floor->sortPanosByName();
    EXPECT_FALSE(f.property->isDirty()) << "sorting a sorted list changes nothing";
}

TEST(FloorScans, SortByDatePutsScansWithTransformFilesFirstOldestFirst)
{
    FloorFixture f;
    for (const char* name : {"b", "new", "a", "old"})
        f.addUserScan(f.floor, name);
    const QDateTime now = QDateTime::currentDateTime();
    for (const auto& [name, age] : {std::pair{"new", 10}, std::pair{"old", 1000}}) {
        QFile file(f.path(QString("Ground/%1/xfrm.dat").arg(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
        file.flush();
        ASSERT_TRUE(file.setFileTime(now.addSecs(-age), QFileDevice::FileModificationTime));
    }
    f.floor->sortPanosByDate();
    EXPECT_EQ(scanNames(f.floor), (QStringList{"old", "new", "a", "b"}));
}

TEST(FloorCompass, RotationFollowsTheScansAndOtherFloorsAreBroughtToIt)
{
    FloorFixture f;
    Panorama* a = f.addUserScan(f.floor, "a");
    EXPECT_TRUE(std::isnan(f.floor->compassRotation()));
    a->setRotation(30);
    a->setCompass(10);
    f.floor->invalidateCompass();
    EXPECT_NEAR(f.floor->compassRotation(), 20, 1e-9);
    Panorama* b = f.addUserScan(f.floor, "b");
    b->setRotation(0);
    b->setCompass(-40); // also 40 degrees: the two agree
    EXPECT_NEAR(f.floor->compassRotation(), 30, 1e-9) << "the mean direction of 20 and 40";
    const QPointF north = f.floor->northVector();
    EXPECT_NEAR(std::atan2(north.y(), north.x()), -30 * M_PI / 180, 1e-9)
        << "the vector's angle with y pointing down is the negated rotation in radians";

    Floor* upper = f.addFloor(f.building, "1st Floor");
    Panorama* c = f.addUserScan(upper, "c");
    c->setPos(1000, 0);
    c->setRotation(5);
    c->setCompass(0);
    auto* note = new TestItem("note");
    upper->addItem(note);
    note->setPos(1000, 500);
    Floor* bare = f.addFloor(f.building, "Attic");
    f.addFloor(f.building, "Pictures");
    const int steps = upper->undoStack()->count();

    LogCapture log;
    f.floor->rotateFloorsByCompass();
    EXPECT_NEAR(upper->compassRotation(), 30, 1e-6);
    EXPECT_NEAR(c->rotation(), 30, 1e-6);
    EXPECT_TRUE(c->transform().isIdentity());
    EXPECT_EQ(upper->undoStack()->count(), steps + 1);
    EXPECT_EQ(upper->undoStack()->text(upper->undoStack()->count() - 1), "Move/rotate items");
    EXPECT_EQ(log.texts(QtWarningMsg),
              QStringList{"The following floors were not rotated (no compass data): Attic"});

    upper->undoStack()->undo();
    EXPECT_NEAR(c->rotation(), 5, 1e-9);
    EXPECT_NEAR(upper->compassRotation(), 5, 1e-6);

    log.clear();
    bare->rotateFloorsByCompass();
    EXPECT_EQ(log.texts(QtWarningMsg), QStringList{"Current floor has no compass data."});
}

TEST(FloorSetters, MarkTheProjectChangedOnlyWhenAValueChanges)
{
    FloorFixture f;
    Property& property = *f.property;
    property.setDirty(false);
    f.floor->setGradeHint(0);
    f.floor->setActualExtWallThickness(0);
    f.floor->setCeilingHeight(0);
    f.floor->setShown(true);
    EXPECT_FALSE(property.isDirty());

    f.floor->setGradeHint(1);
    EXPECT_TRUE(property.isDirty());
    property.setDirty(false);
    f.floor->setActualExtWallThickness(200);
    EXPECT_TRUE(property.isDirty());

    property.setDirty(false);
    SignalCounter status(&property, &Property::statusUpdated);
    f.floor->setShown(false);
    EXPECT_TRUE(property.isDirty());
    EXPECT_FALSE(f.floor->isShown());
    EXPECT_EQ(status.count(), 1);

    property.setDirty(false);
    SignalCounter highlighted(f.floor, &Floor::highlightedPanosChanged);
    f.floor->setCeilingHeight(2400);
    EXPECT_TRUE(property.isDirty());
    EXPECT_EQ(highlighted.count(), 1);
    property.setDirty(false);
    LogCapture log;
    f.floor->setCeilingHeight(-5);
    EXPECT_EQ(f.floor->ceilingHeight(), 2400);
    EXPECT_FALSE(property.isDirty());
    EXPECT_EQ(log.texts(QtInfoMsg), QStringList{"Invalid ceiling height"});
}

TEST(FloorSetters, PicturesFloorsAreNeverShownAndHaveNoShowEntry)
{
    FloorFixture f;
    Floor* pictures = f.addFloor(f.building, "Pictures 2");
    pictures->setShown(true);
    EXPECT_FALSE(pictures->isShown());
    QMenu menu;
    pictures->contextMenuActions(&menu);
    QStringList texts;
    for (QAction* action : menu.actions())
        texts << action->text();
    EXPECT_EQ(texts, (QStringList{"Delete", "Sort by name", "Sort by date", "Add user pano", "Set underlay floor"}));
    QMenu groundMenu;
    f.floor->contextMenuActions(&groundMenu);
    EXPECT_EQ(groundMenu.actions().first()->text(), "Hide in Ambrel");
}

TEST(FloorRename, RenamesTheFolderAtOnceAndMarksTheProjectChanged)
{
    FloorFixture f;
    f.addUserScan(f.floor, "Hall");
    Floor* other = f.addFloor(f.building, "Attic");
    f.property->setDirty(false);
    f.floor->setName("Main: Level");
    EXPECT_TRUE(f.property->isDirty());
    EXPECT_EQ(f.floor->dir(), "Main- Level");
    EXPECT_EQ(f.floor->panos().first()->folder(), f.path("Main- Level/Hall"));
    // A name whose folder is taken gets a free folder, never a merge.
    other->setName("Main: Level");
    EXPECT_EQ(other->dir(), "Main- Level_001");
    EXPECT_EQ(listTree(f.path()),
              (QStringList{"Main- Level/", "Main- Level/Hall/", "Main- Level/Hall/u.jpg", "Main- Level_001/"}));

    f.property->setDirty(false);
    f.floor->setName("Main: Level");
    f.floor->setName("");
    EXPECT_FALSE(f.property->isDirty());
    EXPECT_EQ(f.floor->ownName(), "Main: Level");

    // A property without a folder only stores names: nothing is created at the root.
    Property loose;
    auto* building = new Building(&loose);
    auto* floor = new Floor(building);
    floor->setName("tmp");
    EXPECT_EQ(floor->ownName(), "tmp");
    EXPECT_TRUE(floor->dir().isEmpty());
}

TEST(FloorScans, MovePanoIgnoresIndexesOutsideTheListAndMovesFoldersBetweenFloors)
{
    FloorFixture f;
    Panorama* a = f.addUserScan(f.floor, "a");
    Panorama* b = f.addUserScan(f.floor, "b");
    Panorama* c = f.addUserScan(f.floor, "c");
    f.property->setDirty(false);
    f.floor->movePano(c, 7);
    f.floor->movePano(c, -3);
    EXPECT_EQ(f.floor->panos(), (QList<Panorama*>{a, b, c}));
    EXPECT_FALSE(f.property->isDirty());
    f.floor->movePano(c, 0);
    EXPECT_EQ(f.floor->panos(), (QList<Panorama*>{c, a, b}));
    EXPECT_TRUE(f.property->isDirty());

    Floor* upper = f.addFloor(f.building, "Upper");
    f.addUserScan(upper, "a");
    upper->movePano(a, 0);
    EXPECT_EQ(f.floor->panos(), (QList<Panorama*>{c, b}));
    EXPECT_EQ(upper->panos().first(), a);
    EXPECT_EQ(a->dir(), "a_001") << "the target's own folder a must not be merged";
    EXPECT_EQ(listTree(f.path("Upper")), (QStringList{"a/", "a/u.jpg", "a_001/", "a_001/u.jpg"}));
}

TEST(FloorScans, DeletingAScanClearsHistoryInitialScanAndOnlyItsFolder)
{
    FloorFixture f;
    Panorama* a = f.addUserScan(f.floor, "a");
    f.addUserScan(f.floor, "b");
    f.property->setInitialPano(a);
    auto* note = new TestItem("note");
    f.floor->pushCommand(new AddToSceneCommand(f.floor, note));
    f.floor->beginMacro("open");
    ASSERT_EQ(f.floor->macroDepth(), 1);
    f.floor->deletePano(a, true);
    EXPECT_EQ(f.property->initialPano(), nullptr);
    EXPECT_EQ(f.floor->undoStack()->count(), 0);
    EXPECT_EQ(f.floor->macroDepth(), 0) << "clearing the stack closes its macros";
    EXPECT_EQ(listTree(f.path("Ground")), (QStringList{"b/", "b/u.jpg"}));
    f.floor->moveRotateItems(90);
    EXPECT_EQ(f.floor->undoStack()->count(), 1) << "a fresh macro after the reset is a step of its own";
}

TEST(FloorScene, ResetKeepsTheSceneRectangleAndCleansTheHistory)
{
    FloorFixture f;
    const QRectF expected(-100000, -100000, 200000, 200000);
    EXPECT_EQ(f.floor->sceneRect(), expected);
    f.floor->pushCommand(new AddToSceneCommand(f.floor, new TestItem("note")));
    f.floor->resetScene();
    f.floor->resetScene();
    EXPECT_EQ(f.floor->sceneRect(), expected);
    EXPECT_EQ(f.floor->undoStack()->count(), 0);
    EXPECT_TRUE(f.floor->undoStack()->isClean());
}

TEST(FloorScene, FloorTransformIsReadOnce)
{
    FloorFixture f;
    const QString path = f.path("Ground/floor.json");
    writeFile(path, R"({"floorTransform": {"tx": 1.5, "ty": -2, "angle": 0.25}})");
    const FloorTransform first = f.floor->readFloorTransform(path);
    writeFile(path, R"({"floorTransform": {"tx": 9}})");
    const FloorTransform second = f.floor->readFloorTransform(path);
    EXPECT_EQ(first.tx, 1.5);
    EXPECT_EQ(first.ty, -2);
    EXPECT_EQ(first.angle, 0.25);
    EXPECT_EQ(second.tx, 1.5);
    Floor* other = f.addFloor(f.building, "Other");
    const FloorTransform missing = other->readFloorTransform(f.path("Other/floor.json"));
    EXPECT_EQ(missing.tx, 0);
}

TEST(FloorUnderlay, ChosenThroughTheFloorChooserAndCancelKeepsIt)
{
    FloorFixture f;
    Floor* upper = f.addFloor(f.building, "Upper");
    {
        ScriptedPrompt prompt;
        prompt.answerFloor(f.floor, false);
        triggerAction(upper, "Set underlay floor");
    }
    EXPECT_EQ(upper->underlayFloor(), f.floor);
    EXPECT_TRUE(f.floor->isShownAsUnderlay());
    {
        ScriptedPrompt prompt;
        prompt.answerFloor(nullptr, true);
        triggerAction(upper, "Set underlay floor");
    }
    EXPECT_EQ(upper->underlayFloor(), f.floor);
    {
        ScriptedPrompt prompt;
        prompt.answerFloor(nullptr, false);
        triggerAction(upper, "Set underlay floor");
    }
    EXPECT_EQ(upper->underlayFloor(), nullptr);
}

TEST(FloorUnderlay, DialogListsOtherFloorsAndEscapeCancels)
{
    FloorFixture f;
    Floor* upper = f.addFloor(f.building, "Upper");
    Floor* attic = f.addFloor(f.building, "Attic");
    {
        FloorSelectDialog dialog(f.building, upper);
        EXPECT_EQ(dialog.windowTitle(), "Select floor");
        QStringList entries;
        for (int i = 0; i < dialog.floorCombo()->count(); ++i)
            entries << dialog.floorCombo()->itemText(i);
        EXPECT_EQ(entries, (QStringList{"Ground", "Attic", "None"}));
        dialog.floorCombo()->setCurrentIndex(1);
        dialog.selectButton()->click();
        EXPECT_EQ(dialog.chosenFloor(), attic);
        EXPECT_FALSE(dialog.wasCancelled());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    {
        FloorSelectDialog dialog(f.building, upper);
        dialog.floorCombo()->setCurrentIndex(2);
        dialog.selectButton()->click();
        EXPECT_EQ(dialog.chosenFloor(), nullptr);
        EXPECT_FALSE(dialog.wasCancelled()) << "None is a choice";
    }
    {
        FloorSelectDialog dialog(f.building, upper);
        dialog.show();
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &escape);
        EXPECT_TRUE(dialog.wasCancelled());
        EXPECT_EQ(dialog.chosenFloor(), nullptr);
        EXPECT_FALSE(dialog.isVisible());
    }
}

TEST(FloorActions, DeleteAsksAndRemovesTheFloorWithItsScans)
{
    FloorFixture f;
    Floor* upper = f.addFloor(f.building, "Upper");
    f.addUserScan(upper, "s");
    {
        ScriptedPrompt prompt;
        prompt.answerQuestion(QMessageBox::Cancel);
        triggerAction(upper, "Delete");
        EXPECT_EQ(prompt.asked().first().text, "Delete floor and its scans?\nThis operation can not be undone.");
    }
    EXPECT_EQ(f.building->floors().size(), 2);
    {
        ScriptedPrompt prompt;
        prompt.answerQuestion(QMessageBox::Yes);
        triggerAction(upper, "Delete");
    }
    EXPECT_EQ(f.building->floors(), QList<Floor*>{f.floor});
    EXPECT_EQ(listTree(f.path()), QStringList{"Ground/"});
}

TEST(FloorQueries, FindItemAlignmentAndRectangles)
{
    FloorFixture f;
    Panorama* a = f.addUserScan(f.floor, "a");
    Panorama* b = f.addUserScan(f.floor, "b");
    auto* note = new TestItem("note");
    f.floor->addItem(note);
    EXPECT_EQ(f.floor->findItem(1, "pano"), nullptr) << "the search issues no ids";
    note->setUniqueId(7);
    a->setUniqueId(7);
    EXPECT_EQ(f.floor->findItem(7, "pano"), a);
    EXPECT_EQ(f.floor->findItem(7, "note"), note);
    EXPECT_EQ(f.floor->findItem(0, "note"), nullptr);

    EXPECT_EQ(f.floor->alignmentState(), -1);
    a->setAlignment(0);
    b->setAlignment(0);
    EXPECT_EQ(f.floor->alignmentState(), 0);
    b->setAlignment(1);
    EXPECT_EQ(f.floor->alignmentState(), 1);

    a->setPos(100, 200);
    b->setPos(-50, 10);
    b->setShown(false);
    EXPECT_EQ(f.floor->scanPositionsRect(), QRectF(100, 200, 1, 1));
    b->setOutline({QPoint(10, 0)});
    b->setRotation(90);
    const QRectF drawing = f.floor->drawingRect();
    EXPECT_NEAR(drawing.x(), -50, 1e-9);
    EXPECT_NEAR(drawing.y(), 20, 1e-9);
}
