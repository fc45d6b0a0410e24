#include "pano/panorama.h"
#include "support/model_fixture.h"
#include "support/scripted_prompt.h"
#include "support/signal_counter.h"
#include "support/test_support.h"

#include <QAction>
#include <QMenu>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {
QStringList ownNames(const QList<Floor*>& floors)
{
    QStringList names;
    for (const Floor* floor : floors)
        names << floor->ownName();
    return names;
}

QAction* actionNamed(QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions())
        if (action->text() == text)
            return action;
    return nullptr;
}
}

TEST(Building, FloorsSortByTheFloorNameTable)
{
    ProjectFixture fixture;
    Building* building = fixture.addBuilding("House");
    for (const char* name : {"Pictures 2", "Garage", "Lower basement", "Lower Level 2", "Workshop", "10th floor",
                             "Attic", "Main Floor", "Entry"})
        fixture.addFloor(building, name);
    SignalCounter model(fixture.property.get(), &Property::modelUpdated);
    building->sortFloors();
    EXPECT_EQ(ownNames(building->floors()),
              (QStringList{"Entry", "Main Floor", "10th floor", "Attic", "Workshop", "Lower Level 2",
                           "Lower basement", "Garage", "Pictures 2"}));
    EXPECT_EQ(model.count(), 1);
}

TEST(Building, NewFloorsTakeTheFirstFreeNameAndAFolder)
{
    ProjectFixture fixture;
    Building* building = fixture.addBuilding("House");
    fixture.addFloor(building, "New Floor");
    fixture.addFloor(building, "New Floor 1");
    fixture.addFloor(building, "New Floor 3");
    Floor* made = building->addNewFloor("New Floor");
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->ownName(), "New Floor 2");
    EXPECT_EQ(made->name(), "New Property/House/New Floor 2");
    EXPECT_EQ(building->floors().last(), made);
    EXPECT_EQ(listTree(fixture.path()),
              (QStringList{"New Floor 1/", "New Floor 2/", "New Floor 3/", "New Floor/"}));
}

TEST(Building, AddFloorTakesAFloorOverAndMoveFloorIgnoresIndexesOutsideTheList)
{
    ProjectFixture fixture;
    Building* first = fixture.addBuilding("First");
    Building* second = fixture.addBuilding("Second");
    Floor* a = fixture.addFloor(first, "A");
    Floor* b = fixture.addFloor(first, "B");
    Floor* c = fixture.addFloor(first, "C");
    Property& property = *fixture.property;

    property.setDirty(false);
    first->addFloor(a);
    EXPECT_EQ(first->floors(), (QList<Floor*>{b, c, a}));
    EXPECT_TRUE(property.isDirty());

    first->moveFloor(2, 0);
    EXPECT_EQ(first->floors(), (QList<Floor*>{a, b, c}));
    first->moveFloor(0, 2);
    EXPECT_EQ(first->floors(), (QList<Floor*>{b, c, a}));
    property.setDirty(false);
    first->moveFloor(1, -1);
    EXPECT_EQ(first->floors(), (QList<Floor*>{b, c, a}));
    EXPECT_TRUE(property.isDirty());

    property.setDirty(false);
    first->moveFloor(3, 0);
    first->moveFloor(0, 3);
    first->moveFloor(-1, 0);
    EXPECT_EQ(first->floors(), (QList<Floor*>{b, c, a}));
    EXPECT_FALSE(property.isDirty());

    second->addFloor(c);
    EXPECT_EQ(first->floors(), (QList<Floor*>{b, a}));
    EXPECT_EQ(second->floors(), QList<Floor*>{c});
    EXPECT_EQ(c->building(), second);
    EXPECT_EQ(c->name(), "New Property/Second/C");
}

TEST(Building, DeletingAFloorRemovesItsFolderAndNothingElse)
{
    ProjectFixture fixture;
    Building* house = fixture.addBuilding("House");
    Building* garage = fixture.addBuilding("Garage");
    Floor* ground = fixture.addFloor(house, "Ground");
    Floor* attic = fixture.addFloor(house, "Attic");
    Floor* shed = fixture.addFloor(garage, "Shed");
    fixture.addUserScan(ground, "Hall");
    fixture.addUserScan(attic, "Roof");
    writeFile(fixture.path("quoril.qjs"), "x");
    writeFile(fixture.path("Ground/floor.json"), "{}");
    attic->setUnderlayFloor(ground);
    shed->setUnderlayFloor(ground);
    const QStringList before = listTree(fixture.path());
    EXPECT_EQ(before, (QStringList{"Attic/", "Attic/Roof/", "Attic/Roof/u.jpg", "Ground/", "Ground/Hall/",
                                   "Ground/Hall/u.jpg", "Ground/floor.json", "Shed/", "quoril.qjs"}));

    fixture.property->setDirty(false);
    SignalCounter model(fixture.property.get(), &Property::modelUpdated);
    house->deleteFloor(ground, false);
    EXPECT_EQ(listTree(fixture.path()),
              (QStringList{"Attic/", "Attic/Roof/", "Attic/Roof/u.jpg", "Shed/", "quoril.qjs"}));
    EXPECT_EQ(house->floors(), QList<Floor*>{attic});
    EXPECT_EQ(attic->underlayFloor(), nullptr);
    EXPECT_EQ(shed->underlayFloor(), nullptr) << "underlay links in other buildings must go too";
    EXPECT_TRUE(fixture.property->isDirty());
    EXPECT_GE(model.count(), 1);
}

TEST(Building, AFloorWithoutAPlainFolderNameNeverRemovesTheProjectFolder)
{
    for (const QString& dir : {QString(), QString("."), QString(".."), QString("a/b")}) {
        ProjectFixture fixture;
        Building* house = fixture.addBuilding("House");
        fixture.addFloor(house, "Ground");
        auto* broken = new Floor(house);
        broken->setDir(dir);
        writeFile(fixture.path("quoril.qjs"), "x");
        writeFile(fixture.path("a/b/c.txt"), "x");
        const QStringList before = listTree(fixture.path());
        house->deleteFloor(broken, true);
        EXPECT_EQ(listTree(fixture.path()), before) << dir.toStdString();
        EXPECT_TRUE(QDir(fixture.path()).exists());
    }
}

TEST(Building, MainBuildingAndWallThicknessMarkChangesOnlyWhenTheyChange)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    Building* house = fixture.addBuilding("House");
    Building* garage = fixture.addBuilding("Garage");
    property.setDirty(false);
    house->setAsMainBuilding();
    EXPECT_TRUE(house->isMainBuilding());
    EXPECT_FALSE(garage->isMainBuilding());
    EXPECT_TRUE(property.isDirty());
    property.setDirty(false);
    house->setAsMainBuilding();
    EXPECT_FALSE(property.isDirty());

    QMenu menu;
    garage->contextMenuActions(&menu);
    QAction* setMain = actionNamed(menu, "Set as main building");
    ASSERT_NE(setMain, nullptr);
    EXPECT_TRUE(setMain->isEnabled());
    garage->onContextAction(setMain);
    EXPECT_TRUE(garage->isMainBuilding());
    EXPECT_TRUE(property.isDirty());
    QMenu again;
    garage->contextMenuActions(&again);
    EXPECT_FALSE(actionNamed(again, "Set as main building")->isEnabled());

    property.setDirty(false);
    house->setExtWallThickness(0);
    EXPECT_FALSE(property.isDirty());
    house->setExtWallThickness(250);
    EXPECT_TRUE(property.isDirty());
    Floor* ground = fixture.addFloor(house, "Ground");
    EXPECT_EQ(ground->extWallThickness(false), 250);
    EXPECT_EQ(ground->extWallThickness(true), 0);
    ground->setActualExtWallThickness(300);
    EXPECT_EQ(ground->extWallThickness(false), 300);
}

TEST(Building, ContextActionsAskBeforeDeletingAndAddFloors)
{
    ProjectFixture fixture;
    Building* house = fixture.addBuilding("House");
    fixture.addFloor(house, "Ground");
    QMenu menu;
    house->contextMenuActions(&menu);
    QStringList texts;
    for (QAction* action : menu.actions())
        texts << action->text();
    EXPECT_EQ(texts, (QStringList{"Add floor", "Delete", "Set as main building"}));

    house->onContextAction(actionNamed(menu, "Add floor"));
    EXPECT_EQ(ownNames(house->floors()), (QStringList{"Ground", "New Floor"}));
    {
        ScriptedPrompt prompt;
        prompt.answerQuestion(QMessageBox::Cancel);
        house->onContextAction(actionNamed(menu, "Delete"));
        ASSERT_EQ(prompt.asked().size(), 1);
        EXPECT_EQ(prompt.asked()[0].title, "Question");
        EXPECT_EQ(prompt.asked()[0].text, "Delete building and its scans from disk?\nThis operation can not be undone.");
    }
    EXPECT_EQ(fixture.property->buildings().size(), 1);
    {
        ScriptedPrompt prompt;
        prompt.answerQuestion(QMessageBox::Yes);
        house->onContextAction(actionNamed(menu, "Delete"));
    }
    EXPECT_TRUE(fixture.property->buildings().isEmpty());
    EXPECT_TRUE(listTree(fixture.path()).isEmpty());
}

TEST(Building, AlignmentStateIsTheWorstOfItsFloors)
{
    ProjectFixture fixture;
    Building* house = fixture.addBuilding("House");
    EXPECT_EQ(house->alignmentState(), 0);
    Floor* ground = fixture.addFloor(house, "Ground");
    Floor* attic = fixture.addFloor(house, "Pictures");
    Panorama* a = fixture.addUserScan(ground, "a");
    Panorama* b = fixture.addUserScan(attic, "b");
    a->setAlignment(0);
    b->setAlignment(0);
    EXPECT_EQ(house->alignmentState(), 0);
    b->setAlignment(-1);
    EXPECT_EQ(house->alignmentState(), -1);
    a->setAlignment(1);
    EXPECT_EQ(house->alignmentState(), 1);
}
