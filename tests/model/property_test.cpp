#include "base/folder_remover.h"
#include "model/panorama.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <thread>
#include <vector>

using namespace testsupport;

namespace {
// Plain threads, so that ThreadSanitizer sees every synchronisation that matters.
template <typename Work>
void runThreads(int count, Work work)
{
    std::vector<std::thread> workers;
    for (int t = 0; t < count; ++t)
        workers.emplace_back(work, t);
    for (auto& worker : workers)
        worker.join();
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

TEST(PropertyIds, CountedPerTypeWordNeverBelowRegisteredOnesAndRecordsAreSafeFromPoolThreads)
{
    Property property;
    property.bumpLastId("floor", 40);
    property.bumpLastId("floor", 5);
    EXPECT_EQ(property.nextId("floor"), 41);
    std::vector<std::vector<int>> issued(8);
    std::vector<std::vector<QPair<int, int>>> systemFiles(8); // (name number, index)
    runThreads(8, [&](int t) {
        for (int i = 0; i < 10000; ++i)
            issued[t].push_back(property.nextId("pano"));
        for (int i = t * 500; i < (t + 1) * 500; ++i) {
            property.updateShutterCounter(i);
            systemFiles[t].push_back({i % 25, property.systemCfgIndex(QString("s%1.cfg").arg(i % 25))});
        }
    });
    std::vector<int> all, expected(80000);
    for (const auto& list : issued)
        all.insert(all.end(), list.begin(), list.end());
    std::sort(all.begin(), all.end());
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(all, expected);
    const QStringList names = property.systemcfgs();
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()).size(), 25);
    for (const auto& list : systemFiles)
        for (const auto& [number, index] : list)
            EXPECT_EQ(names.value(index), QString("s%1.cfg").arg(number));
    EXPECT_EQ(property.shutterCounter(), 3999);
}

TEST(PropertyDirty, TimerStartsOnFirstChangeOnlyAndBlockedSignalsDoNothing)
{
    Property property;
    const QTimer* timer = property.autoBackupTimer();
    property.blockSignals(true);
    property.setDirty(true);
    EXPECT_FALSE(property.isDirty() || timer->isActive());
    property.blockSignals(false);
    property.setDirty(true);
    ASSERT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 300000);
    const int firstRemaining = timer->remainingTime();
    QThread::msleep(60);
    property.setDirty(true);
    EXPECT_LT(timer->remainingTime(), firstRemaining) << "a second change must not restart the timer";
    property.setDirty(false);
    EXPECT_FALSE(timer->isActive());
}

TEST(PropertyBuildings, MovesIgnoreIndexesOutsideTheListAndOnlyRealChangesMarkTheProject)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    Building* a = fixture.addBuilding("A");
    Building* b = fixture.addBuilding("B");
    Floor* first = fixture.addFloor(a, "1");
    Floor* second = fixture.addFloor(a, "2");
    property.moveBuilding(1, 0);
    a->moveFloor(1, 0);
    property.setDirty(false);
    for (auto [from, to] : {std::pair{5, 0}, {0, 2}, {-2, 1}, {1, 1}}) {
        property.moveBuilding(from, to);
        a->moveFloor(from, to);
    }
    EXPECT_EQ(property.buildings(), (QList<Building*>{b, a}));
    EXPECT_EQ(a->floors(), (QList<Floor*>{second, first}));
    EXPECT_FALSE(property.isDirty());

    trigger(a, "Set as main building");
    EXPECT_TRUE(a->isMainBuilding() && !b->isMainBuilding() && property.isDirty());
    property.setDirty(false);
    a->setAsMainBuilding();
    EXPECT_FALSE(property.isDirty());
    b->addFloor(first);
    EXPECT_EQ(a->floors(), QList<Floor*>{second});
    // "Add building" on a project with unsaved edits must keep them and their autosave.
    new Building(&property);
    EXPECT_TRUE(property.isDirty() && property.autoBackupTimer()->isActive());
}

TEST(PropertyInitialPano, AcceptsOnlyPanoramasOnOrdinaryFloorsAndMarksChanges)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    Building* building = fixture.addBuilding("B");
    Floor* ground = fixture.addFloor(building, "Ground");
    Panorama* user = fixture.addUserScan(ground, "u1");
    Panorama* onPictures = fixture.addUserScan(fixture.addFloor(building, "Pictures 1"), "u2");
    Panorama* loose = fixture.addUserScan(ground, "l1");
    ground->removeItem(loose); // a scan without a floor is refused, not dereferenced
    property.setDirty(false);
    property.setInitialPano(user);
    EXPECT_TRUE(property.isDirty());
    property.setDirty(false);
    LogCapture log;
    for (Panorama* refused : {onPictures, loose, user})
        property.setInitialPano(refused);
    EXPECT_EQ(log.texts(QtWarningMsg).count("Only panoramas can be set as initial."), 2);
    EXPECT_EQ(property.initialPano(), user);
    EXPECT_FALSE(property.isDirty());
    delete loose;
}

TEST(PropertyCleanup, RemovesGeneratedFilesAndCachesOnlyAndNothingWithoutAFolder)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    fixture.addUserScan(fixture.addFloor(fixture.addBuilding("B"), "Ground"), "S");
    for (const char* file : {"quorillog.txt", "quoril.qjs", "~quoril.qjs", "system.cfg", "_Export/x.tar", "Ground/S/s.pic"})
        writeFile(fixture.path(file), "x");
    // Without a folder every path would name the working directory (and "/_Export" the root).
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(fixture.path()));
    property.setFolder("");
    const QStringList before = listTree(fixture.path());
    property.cleanup(true);
    property.removeAutosave();
    QDir::setCurrent(previous);
    EXPECT_EQ(listTree(fixture.path()), before);
    property.setFolder(fixture.path());
    property.removeAutosave();
    property.cleanup(false);
    EXPECT_EQ(listTree(fixture.path()), (QStringList{"Ground/", "Ground/S/", "Ground/S/u.jpg", "quoril.qjs", "system.cfg"}));
    // Before a re-import: caches of scans with raw data ("scan.json") go, other scans keep theirs.
    for (const char* file : {"S/scan.json", "S/pano.dat", "S/t.pic", "T/pano.dat", "T/t.pic"})
        writeFile(fixture.path("Ground/") + file, "x");
    Property::clearCachesForReimport(fixture.path());
    EXPECT_EQ(listTree(fixture.path("Ground")), (QStringList{"S/", "S/scan.json", "S/u.jpg", "T/", "T/pano.dat", "T/t.pic"}));
}

TEST(Building, FloorsSortByTheFloorNameTableAndNewOnesTakeTheFirstFreeName)
{
    ProjectFixture fixture;
    Building* building = fixture.addBuilding("House");
    for (const char* name : {"Pictures 2", "Garage", "Lower basement", "Lower Level 2", "Workshop", "10th floor",
                             "Attic", "Main Floor", "Entry"})
        fixture.addFloor(building, name);
    building->sortFloors();
    QStringList names;
    for (const Floor* floor : building->floors())
        names << floor->ownName();
    EXPECT_EQ(names, (QStringList{"Entry", "Main Floor", "10th floor", "Attic", "Workshop", "Lower Level 2",
                                  "Lower basement", "Garage", "Pictures 2"}));
    fixture.addFloor(building, "New Floor 1");
    trigger(building, "Add floor");
    EXPECT_EQ(building->floors().last()->ownName(), "New Floor");
    EXPECT_EQ(building->addNewFloor("New Floor")->ownName(), "New Floor 2");
    EXPECT_TRUE(QFileInfo(fixture.path("New Floor 2")).isDir());
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

TEST(FolderRemover, RemovesOnlyPlainFoldersStrictlyInsideTheProjectAndLinksAsLinks)
{
    QTemporaryDir outside;
    QTemporaryDir project;
    writeFile(outside.filePath("keep.txt"), "x");
    writeFile(project.filePath("quoril.qjs"), "x");
    writeFile(project.filePath("Ground/Hall/u.jpg"), "x");
    ASSERT_TRUE(QFile::link(outside.path(), project.filePath("Linked")));
    const QStringList before = listTree(project.path());
    for (const QStringList& components : QList<QStringList>{{}, {""}, {"."}, {".."}, {"Ground", ".."}, {"Ground/Hall"},
                                                            {"..", QFileInfo(outside.path()).fileName()}, {"quoril.qjs"}})
        EXPECT_FALSE(removeFolderInsideProject(project.path(), components)) << components.join('|').toStdString();
    EXPECT_FALSE(removeFolderInsideProject("", {"Ground"}) || removeFolderInsideProject("relative", {"Ground"}));
    EXPECT_EQ(listTree(project.path()), before);
    EXPECT_TRUE(removeFolderInsideProject(project.path(), {"Ground", "Hall"})
                && removeFolderInsideProject(project.path(), {"Linked"}));
    EXPECT_EQ(listTree(project.path()), (QStringList{"Ground/", "quoril.qjs"}));
    EXPECT_EQ(listTree(outside.path()), QStringList{"keep.txt"});
}
