#include "pano/panorama.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

#include <QDir>
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
} // namespace

TEST(PropertyIds, CountedPerTypeWordNeverBelowRegisteredOnesAndUniqueAcrossThreads)
{
    Property property;
    EXPECT_EQ(property.nextId("floor"), 1);
    property.bumpLastId("floor", 40);
    property.bumpLastId("floor", 5);
    EXPECT_EQ(property.nextId("floor"), 41);

    std::vector<std::vector<int>> issued(8);
    runThreads(8, [&](int t) {
        for (int i = 0; i < 10000; ++i)
            issued[t].push_back(property.nextId("pano"));
    });
    std::vector<int> all, expected(80000);
    for (const auto& list : issued)
        all.insert(all.end(), list.begin(), list.end());
    std::sort(all.begin(), all.end());
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(all, expected);
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

TEST(PropertyBuildings, MoveIgnoresIndexesOutsideTheListAndNewBuildingsKeepUnsavedChanges)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    Building* a = fixture.addBuilding("A");
    Building* b = fixture.addBuilding("B");
    Building* c = fixture.addBuilding("C");
    property.moveBuilding(2, 0);
    property.setDirty(false);
    for (auto [from, to] : {std::pair{5, 0}, {0, 3}, {-2, 1}, {1, 1}})
        property.moveBuilding(from, to);
    EXPECT_EQ(property.buildings(), (QList<Building*>{c, a, b}));
    EXPECT_FALSE(property.isDirty());

    // "Add building" on a project with unsaved edits must keep them and their autosave.
    property.setComments("an unsaved edit");
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
    Panorama* partial = fixture.addUserScan(ground, "p1");
    partial->setPanoType(PanoType::Partial);
    Panorama* onPictures = fixture.addUserScan(fixture.addFloor(building, "Pictures 1"), "u2");
    Panorama* loose = fixture.addUserScan(ground, "l1");
    ground->removeItem(loose); // a scan without a floor is refused, not dereferenced
    property.setInitialPano(user);
    EXPECT_TRUE(property.isDirty());

    property.setDirty(false);
    LogCapture log;
    for (Panorama* refused : {partial, onPictures, loose, user})
        property.setInitialPano(refused);
    EXPECT_EQ(log.texts(QtWarningMsg).count("Only panoramas can be set as initial."), 3);
    EXPECT_EQ(property.initialPano(), user);
    EXPECT_FALSE(property.isDirty());
    delete loose;
}

TEST(PropertyRecords, SystemFileIndexesAndShutterCounterAreSafeFromPoolThreads)
{
    Property property;
    std::vector<std::vector<QPair<int, int>>> results(8);
    runThreads(8, [&](int t) {
        for (int i = t * 500; i < (t + 1) * 500; ++i) {
            property.updateShutterCounter(i);
            results[t].push_back({i % 25, property.systemCfgIndex(QString("s%1.cfg").arg(i % 25))});
        }
    });
    const QStringList names = property.systemcfgs();
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()).size(), 25);
    for (const auto& list : results)
        for (const auto& [nameIndex, index] : list)
            EXPECT_EQ(names.value(index), QString("s%1.cfg").arg(nameIndex));
    EXPECT_EQ(property.shutterCounter(), 3999);
}

TEST(PropertyCleanup, RemovesGeneratedFilesOnlyAndNothingWithoutAFolder)
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
}
