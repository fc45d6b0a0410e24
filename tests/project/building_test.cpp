#include "pano/panorama.h"
#include "project/folder_remover.h"
#include "support/model_fixture.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"

#include <QAction>
#include <QFile>
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

void trigger(Building* building, const QString& text)
{
    QMenu menu;
    building->contextMenuActions(&menu);
    for (QAction* action : menu.actions())
        if (action->text() == text)
            return building->onContextAction(action);
    ADD_FAILURE() << "no action " << text.toStdString();
}
} // namespace

TEST(Building, FloorsSortByTheFloorNameTableAndNewOnesTakeTheFirstFreeName)
{
    ProjectFixture fixture;
    Building* building = fixture.addBuilding("House");
    for (const char* name : {"Pictures 2", "Garage", "Lower basement", "Lower Level 2", "Workshop", "10th floor",
                             "Attic", "Main Floor", "Entry"})
        fixture.addFloor(building, name);
    building->sortFloors();
    EXPECT_EQ(ownNames(building->floors()), (QStringList{"Entry", "Main Floor", "10th floor", "Attic", "Workshop",
                                                         "Lower Level 2", "Lower basement", "Garage", "Pictures 2"}));
    fixture.addFloor(building, "New Floor 1");
    trigger(building, "Add floor");
    EXPECT_EQ(building->floors().last()->ownName(), "New Floor");
    EXPECT_EQ(building->addNewFloor("New Floor")->ownName(), "New Floor 2");
    EXPECT_TRUE(QFileInfo(fixture.path("New Floor 2")).isDir());
}

TEST(Building, AddFloorTakesAFloorOverAndMoveFloorIgnoresIndexesOutsideTheList)
{
    ProjectFixture fixture;
    Building* first = fixture.addBuilding("First");
    Building* second = fixture.addBuilding("Second");
    Floor* a = fixture.addFloor(first, "A");
    Floor* b = fixture.addFloor(first, "B");
    Floor* c = fixture.addFloor(first, "C");
    fixture.property->setDirty(false);
    first->moveFloor(2, 0);
    EXPECT_EQ(first->floors(), (QList<Floor*>{c, a, b}));
    EXPECT_TRUE(fixture.property->isDirty());
    fixture.property->setDirty(false);
    for (auto [from, to] : {std::pair{3, 0}, {0, 3}, {-1, 0}, {1, 1}})
        first->moveFloor(from, to);
    EXPECT_EQ(first->floors(), (QList<Floor*>{c, a, b}));
    EXPECT_FALSE(fixture.property->isDirty());

    second->addFloor(c);
    EXPECT_EQ(first->floors(), (QList<Floor*>{a, b}));
    EXPECT_EQ(c->name(), "New Property/Second/C");
    EXPECT_TRUE(fixture.property->isDirty());
}

TEST(Building, DeletingAFloorRemovesItsFolderNothingElseAndEveryUnderlayLinkToIt)
{
    ProjectFixture fixture;
    Building* house = fixture.addBuilding("House");
    Floor* ground = fixture.addFloor(house, "Ground");
    Floor* attic = fixture.addFloor(house, "Attic");
    Floor* shed = fixture.addFloor(fixture.addBuilding("Garage"), "Shed");
    fixture.addUserScan(ground, "Hall");
    fixture.addUserScan(attic, "Roof");
    writeFile(fixture.path("quoril.qjs"), "x");
    attic->setUnderlayFloor(ground);
    shed->setUnderlayFloor(ground);
    EXPECT_EQ(listTree(fixture.path()), (QStringList{"Attic/", "Attic/Roof/", "Attic/Roof/u.jpg", "Ground/",
                                                     "Ground/Hall/", "Ground/Hall/u.jpg", "Shed/", "quoril.qjs"}));
    house->deleteFloor(ground, false);
    EXPECT_EQ(listTree(fixture.path()), (QStringList{"Attic/", "Attic/Roof/", "Attic/Roof/u.jpg", "Shed/", "quoril.qjs"}));
    EXPECT_EQ(house->floors(), QList<Floor*>{attic});
    EXPECT_EQ(attic->underlayFloor(), nullptr);
    EXPECT_EQ(shed->underlayFloor(), nullptr) << "links from other buildings must go too";

    // A floor whose folder name is not one plain name removes nothing at all.
    for (const QString& dir : {QString(), QString("."), QString(".."), QString("Attic/Roof")}) {
        auto* broken = new Floor(house);
        broken->setDir(dir);
        house->deleteFloor(broken, true);
        EXPECT_EQ(listTree(fixture.path()).size(), 5) << dir.toStdString();
    }
}

TEST(Building, DeleteAsksFirstAndSetAsMainMarksTheProjectChangedOnlyOnChange)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    Building* house = fixture.addBuilding("House");
    Building* garage = fixture.addBuilding("Garage");
    fixture.addUserScan(fixture.addFloor(garage, "Ground"), "s");
    property.setDirty(false);
    trigger(house, "Set as main building");
    EXPECT_TRUE(house->isMainBuilding() && !garage->isMainBuilding());
    EXPECT_TRUE(property.isDirty());
    property.setDirty(false);
    house->setAsMainBuilding();
    EXPECT_FALSE(property.isDirty());

    for (auto answer : {QMessageBox::Cancel, QMessageBox::Yes}) {
        ScriptedPrompt prompt;
        prompt.answerQuestion(answer);
        trigger(garage, "Delete");
        EXPECT_EQ(prompt.asked().value(0).text, "Delete building and its scans from disk?\nThis operation can not be undone.");
    }
    EXPECT_EQ(property.buildings(), QList<Building*>{house});
    EXPECT_TRUE(listTree(fixture.path()).isEmpty());
}

TEST(FolderRemover, RemovesOnlyPlainFoldersStrictlyInsideTheProjectAndLinksAsLinks)
{
    QTemporaryDir outside;
    QTemporaryDir project;
    writeFile(outside.filePath("keep.txt"), "x");
    for (const char* file : {"quoril.qjs", "Ground/Hall/u.jpg", "Ground/Kitchen/u.jpg", "Attic/a.txt"})
        writeFile(project.filePath(file), "x");
    ASSERT_TRUE(QFile::link(outside.path(), project.filePath("Linked")));
    const QStringList before = listTree(project.path());
    const QList<QStringList> refused{{}, {""}, {"."}, {".."}, {"Ground", ".."}, {"Ground/Hall"}, {"Ground", ""},
                                     {"..", QFileInfo(outside.path()).fileName()}, {"quoril.qjs"}};
    for (const QStringList& components : refused)
        EXPECT_FALSE(removeFolderInsideProject(project.path(), components)) << components.join('|').toStdString();
    EXPECT_FALSE(removeFolderInsideProject("", {"Ground"}));
    EXPECT_FALSE(removeFolderInsideProject("relative", {"Ground"}));
    EXPECT_EQ(listTree(project.path()), before);

    for (const QStringList& components : {QStringList{"Ground", "Hall"}, {"Attic"}, {"Missing"}, {"Linked"}})
        EXPECT_TRUE(removeFolderInsideProject(project.path(), components));
    EXPECT_EQ(listTree(project.path()), (QStringList{"Ground/", "Ground/Kitchen/", "Ground/Kitchen/u.jpg", "quoril.qjs"}));
    EXPECT_EQ(listTree(outside.path()), QStringList{"keep.txt"});
}
