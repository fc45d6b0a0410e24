#include "pano/panorama.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

#include <QDir>
#include "support/signal_counter.h"
#include <QThread>
#include <QTimer>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <thread>
#include <vector>

using namespace testsupport;

TEST(PropertyIds, IssuedPerTypeWordAndNeverBelowRegisteredOnes)
{
    Property property;
    EXPECT_EQ(property.nextId("pano"), 1);
    EXPECT_EQ(property.nextId("pano"), 2);
    EXPECT_EQ(property.nextId("floor"), 1);
    property.bumpLastId("pano", 40);
    EXPECT_EQ(property.nextId("pano"), 41);
    property.bumpLastId("pano", 5);
    EXPECT_EQ(property.nextId("pano"), 42);
    EXPECT_EQ(property.lastIds().value("floor"), 1);
}

TEST(PropertyIds, EightThreadsGetEveryIdExactlyOnce)
{
    Property property;
    constexpr int threads = 8;
    constexpr int perThread = 10000;
    std::vector<std::vector<int>> issued(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            issued[t].reserve(perThread);
            for (int i = 0; i < perThread; ++i)
                issued[t].push_back(property.nextId("pano"));
        });
    for (auto& worker : workers)
        worker.join();
    std::vector<int> all;
    for (const auto& list : issued) {
        EXPECT_TRUE(std::is_sorted(list.begin(), list.end())); // each thread sees its ids rise
        all.insert(all.end(), list.begin(), list.end());
    }
    std::sort(all.begin(), all.end());
    std::vector<int> expected(threads * perThread);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(all, expected);
}

TEST(PropertyIds, ItemsTakeIdsThroughTheirFloorAndRegisterLoadedOnes)
{
    ProjectFixture fixture;
    Floor* floor = fixture.addFloor(fixture.addBuilding("B"), "Ground");
    auto* loaded = new TestItem("note");
    floor->addItem(loaded);
    loaded->setUniqueId(42);
    auto* fresh = new TestItem("note");
    floor->addItem(fresh);
    EXPECT_EQ(fresh->uniqueId(), 43u);
    EXPECT_EQ(fresh->uniqueId(), 43u) << "an issued id never changes";
    auto* label = new TestItem("label");
    floor->addItem(label);
    EXPECT_EQ(label->uniqueId(), 1u) << "ids are counted per type word";
    TestItem loose;
    EXPECT_EQ(loose.uniqueId(), 0u) << "no registry outside a property";
}

TEST(PropertyDirty, TimerStartsOnFirstChangeOnlyAndStopsWhenClean)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    Floor* floor = fixture.addFloor(fixture.addBuilding("B"), "Ground");
    property.setDirty(false);
    const QTimer* timer = property.autoBackupTimer();
    ASSERT_FALSE(timer->isActive());
    EXPECT_TRUE(timer->isSingleShot());

    SignalCounter spy(&property, &Property::dirtyChanged);
    property.setDirty(true);
    ASSERT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 300000);
    const int firstId = timer->timerId();
    const int firstRemaining = timer->remainingTime();
    QThread::msleep(60);
    property.setDirty(true);
    EXPECT_EQ(timer->timerId(), firstId) << "a second change must not restart the timer";
    EXPECT_LT(timer->remainingTime(), firstRemaining);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_TRUE(spy.at(0).at(0).toBool());

    floor->undoStack()->push(new QUndoCommand("step"));
    ASSERT_FALSE(floor->undoStack()->isClean());
    property.setDirty(false);
    EXPECT_FALSE(timer->isActive());
    EXPECT_TRUE(floor->undoStack()->isClean()) << "a clean property has clean floor stacks";
    EXPECT_EQ(spy.count(), 2);
    property.setDirty(false);
    EXPECT_EQ(spy.count(), 2) << "clean stays clean silently";
}

TEST(PropertyDirty, BlockedSignalsMakeEveryCallANoOp)
{
    Property property;
    property.blockSignals(true);
    property.setDirty(true);
    EXPECT_FALSE(property.isDirty());
    EXPECT_FALSE(property.autoBackupTimer()->isActive());
    property.blockSignals(false);
    property.setDirty(true);
    property.blockSignals(true);
    property.setDirty(false);
    EXPECT_TRUE(property.isDirty());
    EXPECT_TRUE(property.autoBackupTimer()->isActive());
}

TEST(PropertyDirty, NameAndCommentsMarkDirtyOnlyWhenTheyChange)
{
    Property property;
    EXPECT_EQ(property.name(), "New Property");
    EXPECT_EQ(property.mainBuildingId(), -1);
    EXPECT_EQ(property.camParams(), nullptr);
    EXPECT_FALSE(property.isDirty());
    property.setName("New Property");
    property.setComments("");
    EXPECT_FALSE(property.isDirty());
    property.setComments("note for the drafters");
    EXPECT_TRUE(property.isDirty());
    property.setDirty(false);
    property.setName("Elm Street 5");
    EXPECT_TRUE(property.isDirty());
    EXPECT_EQ(property.name(), "Elm Street 5");
}

TEST(PropertyReset, EmptiesTheProjectButKeepsVersionAndComment)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    fixture.addBuilding("B");
    property.setComments("keep me");
    property.setQuorilVersion("6.15.1");
    property.setCameraSerialNumber("MX1");
    property.nextId("pano");
    property.systemCfgIndex("system.cfg");
    property.updateShutterCounter(12);
    SignalCounter model(&property, &Property::modelUpdated);
    property.reset(false);
    EXPECT_TRUE(property.buildings().isEmpty());
    EXPECT_TRUE(property.folder().isEmpty());
    EXPECT_EQ(property.name(), "New Property");
    EXPECT_FALSE(property.isDirty());
    EXPECT_FALSE(property.autoBackupTimer()->isActive());
    EXPECT_TRUE(property.lastIds().isEmpty());
    EXPECT_TRUE(property.systemcfgs().isEmpty());
    EXPECT_EQ(property.shutterCounter(), 0);
    EXPECT_TRUE(property.cameraSerialNumber().isEmpty());
    EXPECT_EQ(property.comments(), "keep me");
    EXPECT_EQ(property.quorilVersion(), "6.15.1");
    EXPECT_EQ(model.count(), 1);
}

TEST(PropertyBuildings, MoveFollowsListSemanticsAndIgnoresIndexesOutsideTheList)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    Building* a = fixture.addBuilding("A");
    Building* b = fixture.addBuilding("B");
    Building* c = fixture.addBuilding("C");
    property.setDirty(false);
    property.moveBuilding(2, 0);
    EXPECT_EQ(property.buildings(), (QList<Building*>{c, a, b}));
    EXPECT_TRUE(property.isDirty());

    property.setDirty(false);
    property.moveBuilding(1, 1);
    EXPECT_FALSE(property.isDirty());
    property.moveBuilding(1, -1);
    EXPECT_EQ(property.buildings(), (QList<Building*>{c, a, b}));
    EXPECT_TRUE(property.isDirty());

    property.setDirty(false);
    SignalCounter model(&property, &Property::modelUpdated);
    property.moveBuilding(5, 0);
    property.moveBuilding(0, 3);
    property.moveBuilding(-2, 1);
    EXPECT_EQ(property.buildings(), (QList<Building*>{c, a, b}));
    EXPECT_FALSE(property.isDirty());
    EXPECT_EQ(model.count(), 0);
}

TEST(PropertyBuildings, NewBuildingKeepsUnsavedChangesAndTheirTimer)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    property.setComments("an unsaved edit");
    ASSERT_TRUE(property.isDirty());
    auto* building = new Building(&property);
    EXPECT_TRUE(property.isDirty());
    EXPECT_TRUE(property.autoBackupTimer()->isActive());
    EXPECT_EQ(property.buildings().last(), building);
    EXPECT_EQ(building->name(), "New Property/New Building");
}

TEST(PropertyInitialPano, AcceptsOnlyPanoramasOnOrdinaryFloorsAndMarksChanges)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    Building* building = fixture.addBuilding("B");
    Floor* ground = fixture.addFloor(building, "Ground");
    Floor* pictures = fixture.addFloor(building, "Pictures 1");
    Panorama* user = fixture.addUserScan(ground, "u1");
    Panorama* partial = fixture.addUserScan(ground, "p1");
    partial->setPanoType(PanoType::Partial);
    Panorama* onPictures = fixture.addUserScan(pictures, "u2");
    property.setDirty(false);

    LogCapture log;
    SignalCounter status(&property, &Property::statusUpdated);
    SignalCounter initial(&property, &Property::initPanoUpdated);
    property.setInitialPano(user);
    EXPECT_EQ(property.initialPano(), user);
    EXPECT_TRUE(property.isDirty());
    EXPECT_EQ(status.count(), 1);
    EXPECT_EQ(initial.count(), 1);

    property.setDirty(false);
    property.setInitialPano(partial);
    property.setInitialPano(onPictures);
    EXPECT_EQ(log.texts(QtWarningMsg).count("Only panoramas can be set as initial."), 2);
    EXPECT_EQ(property.initialPano(), user);
    EXPECT_FALSE(property.isDirty());

    // A scan that has left its floor is refused, not dereferenced.
    ground->removeItem(partial);
    partial->setPanoType(PanoType::Full);
    property.setDirty(false);
    property.setInitialPano(partial);
    EXPECT_EQ(property.initialPano(), user);
    EXPECT_EQ(log.texts(QtWarningMsg).size(), 3);
    delete partial;

    property.setInitialPano(user);
    EXPECT_FALSE(property.isDirty()) << "the same scan again is no change";
    property.setInitialPano(nullptr);
    EXPECT_EQ(property.initialPano(), nullptr);
    EXPECT_TRUE(property.isDirty());
    EXPECT_EQ(initial.count(), 3);
}

TEST(PropertyRecords, SystemFileIndexesAndShutterCounterAreSafeFromPoolThreads)
{
    Property property;
    EXPECT_EQ(property.systemCfgIndex(""), -1);
    EXPECT_EQ(property.systemCfgIndex("a.cfg"), 0);
    EXPECT_EQ(property.systemCfgIndex("a.cfg"), 0);
    // Plain threads, so that ThreadSanitizer sees every synchronisation that matters.
    constexpr int threads = 8;
    constexpr int perThread = 500;
    std::vector<std::vector<QPair<int, int>>> results(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int k = 0; k < perThread; ++k) {
                const int i = t * perThread + k;
                property.updateShutterCounter(i);
                results[t].push_back({i % 25, property.systemCfgIndex(QString("s%1.cfg").arg(i % 25))});
            }
        });
    for (auto& worker : workers)
        worker.join();
    QStringList names = property.systemcfgs();
    EXPECT_EQ(names.size(), 26);
    EXPECT_EQ(QStringList(names).removeDuplicates(), 0);
    for (const auto& list : results)
        for (const auto& [nameIndex, index] : list)
            EXPECT_EQ(names.value(index), QString("s%1.cfg").arg(nameIndex));
    EXPECT_EQ(property.shutterCounter(), 3999);
    property.updateShutterCounter(5);
    EXPECT_EQ(property.shutterCounter(), 3999);
}

TEST(PropertyRecords, SupportedCameraModelsByTheSerialsFirstTwoCapitals)
{
    Property property;
    for (const char* serial : {"", "M", "ms12", "Mx12", "XM12"}) {
        property.setCameraSerialNumber(serial);
        EXPECT_FALSE(property.isSupportedCameraModel()) << serial;
    }
    for (const char* serial : {"MS", "MX77", "R1-5"}) {
        property.setCameraSerialNumber(serial);
        EXPECT_TRUE(property.isSupportedCameraModel()) << serial;
    }
}

TEST(PropertyCleanup, RemovesGeneratedFilesOnlyAndNothingWithoutAFolder)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    Floor* floor = fixture.addFloor(fixture.addBuilding("B"), "Ground");
    Panorama* scan = fixture.addUserScan(floor, "Scan 1");
    for (const char* file : {"a.dat", "quorillog.txt", "quoril.qjs", "~quoril.qjs", "notes.txt", "system.cfg",
                             "_Export/x.tar", "_Snapshots/s.jpg", "Ground/Scan 1/s.pic", "Ground/Scan 1/pc.dat",
                             "Ground/Scan 1/t.pic", "Ground/Scan 1/pano.dat"})
        writeFile(fixture.path(file), "x");
    ASSERT_EQ(scan->floor(), floor);

    // Without a folder every path would name the working directory: nothing may go.
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(fixture.path()));
    property.setFolder("");
    const QStringList before = listTree(fixture.path());
    property.cleanup(true);
    property.removeAutosave();
    QDir::setCurrent(previous);
    EXPECT_EQ(listTree(fixture.path()), before);

    property.setFolder(fixture.path());
    property.cleanup(false);
    EXPECT_EQ(listTree(fixture.path()),
              (QStringList{"Ground/", "Ground/Scan 1/", "Ground/Scan 1/pano.dat", "Ground/Scan 1/t.pic",
                           "Ground/Scan 1/u.jpg", "notes.txt", "quoril.qjs", "system.cfg", "~quoril.qjs"}));
    property.cleanup(true);
    EXPECT_EQ(listTree(fixture.path()),
              (QStringList{"Ground/", "Ground/Scan 1/", "Ground/Scan 1/u.jpg", "notes.txt", "system.cfg"}));
}

TEST(PropertyCleanup, RemoveAutosaveDeletesOnlyTheCopy)
{
    ProjectFixture fixture;
    writeFile(fixture.path("~quoril.qjs"), "x");
    writeFile(fixture.path("quoril.qjs"), "x");
    fixture.property->removeAutosave();
    EXPECT_EQ(listTree(fixture.path()), QStringList{"quoril.qjs"});
}

TEST(PropertyCleanup, ClearCachesForReimportTouchesOnlyScanFoldersWithScanJson)
{
    QTemporaryDir dir;
    for (const char* file : {"~quoril.qjs", "quoril.qjs", "F/S/scan.json", "F/S/pano.dat", "F/S/t.pic", "F/S/s.pic",
                             "F/T/t.pic", "F/T/s.pic", "F/T/pano.dat", "F/U/scan.json", "F/U/t.pic"})
        writeFile(dir.filePath(file), "x");
    LogCapture log;
    Property::clearCachesForReimport(dir.path());
    EXPECT_EQ(listTree(dir.path()), (QStringList{"F/", "F/S/", "F/S/scan.json", "F/T/", "F/T/pano.dat",
                                                 "F/T/t.pic", "F/U/", "F/U/scan.json", "F/U/t.pic", "quoril.qjs"}));
    EXPECT_TRUE(log.contains(QtInfoMsg, "Cleared Quoril caches for re-import."));
}

TEST(PropertyBuildings, RemoveBuildingDeletesItsFloorsAndTheirFolders)
{
    ProjectFixture fixture;
    Building* keep = fixture.addBuilding("Keep");
    Building* drop = fixture.addBuilding("Drop");
    fixture.addFloor(keep, "Ground");
    fixture.addFloor(drop, "Attic");
    fixture.addUserScan(drop->floors().first(), "Scan");
    fixture.property->setDirty(false);
    fixture.property->removeBuilding(drop, true);
    EXPECT_EQ(fixture.property->buildings(), QList<Building*>{keep});
    EXPECT_TRUE(fixture.property->isDirty());
    EXPECT_EQ(listTree(fixture.path()), QStringList{"Ground/"});
}
