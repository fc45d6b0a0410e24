#include "pano/panorama.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/scan_placement.h"
#include "support/scripted_prompt.h"
#include "support/signal_counter.h"
#include "support/test_support.h"
#include "support/two_lens_scan_fixture.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QMenu>

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <tuple>

using namespace testsupport;

namespace {

void triggerAction(Property& property, const QString& text)
{
    QMenu menu;
    property.contextMenuActions(&menu);
    for (QAction* action : menu.actions())
        if (action->text() == text) {
            property.onContextAction(action);
            return;
        }
    ADD_FAILURE() << "no action " << text.toStdString();
}

// Installs a project loader for one test and takes it away again.
struct LoaderScope {
    explicit LoaderScope(Property::ProjectLoader loader) { Property::setProjectLoader(std::move(loader)); }
    ~LoaderScope() { Property::setProjectLoader({}); }
};

// A project folder with raw camera data, a project file, generated files and one floor with a
// full scan and a user scan.
struct MaintenanceFixture : ProjectFixture {
    Building* house = addBuilding("House");
    Floor* ground = addFloor(house, "Ground");
    Panorama* full = placeScan(ground, "full", PanoType::Full, {0, 0});
    Panorama* user = addUserScan(ground, "user");

    MaintenanceFixture()
    {
        property->setName("Villa");
        for (const QString& file : {"system.cfg", "quoril.qjs", "cache.dat", "quorillog.txt", "_Snapshots/a.jpg",
                                    "_Export/x.tar", "Ground/full/t.pic", "Ground/full/pano.dat", "Ground/user/t.pic"})
            writeFile(path(file), "x");
        property->setDirty(false);
    }
};

const QString kReimportQuestion = "All image edits and alignment will be reset. Snapshot folder will be deleted. It is "
                                  "recommended to make a backup copy of the property first.\n\nProceed?";

} // namespace

TEST(PropertyActions, DeleteAllSnapshotsRemovesTheFolderWithoutAsking)
{
    MaintenanceFixture f;
    ScriptedPrompt prompt; // any question would fail the test
    LogCapture log;
    triggerAction(*f.property, "Delete all snapshots");
    EXPECT_FALSE(QFileInfo::exists(f.path("_Snapshots")));
    EXPECT_TRUE(QFileInfo::exists(f.path("_Export/x.tar")));
    EXPECT_FALSE(f.property->isDirty());
    triggerAction(*f.property, "Delete all snapshots");
    EXPECT_TRUE(log.texts(QtWarningMsg).isEmpty()) << "nothing to remove is no failure";

    writeFile(f.path("_Snapshots"), "a file where the folder belongs");
    triggerAction(*f.property, "Delete all snapshots");
    EXPECT_EQ(log.texts(QtWarningMsg), QStringList{"Could not remove Snapshots folder."});
}

TEST(PropertyActions, CleanupAsksFirstAndKeepsProjectFileAndScans)
{
    MaintenanceFixture f;
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::No).answerQuestion(QMessageBox::Yes);
    const QStringList before = listTree(f.path());
    triggerAction(*f.property, "Cleanup");
    EXPECT_EQ(listTree(f.path()), before);

    triggerAction(*f.property, "Cleanup");
    ASSERT_EQ(prompt.asked().size(), 2);
    EXPECT_EQ(prompt.asked()[0].title, "Warning");
    EXPECT_EQ(prompt.asked()[0].text,
              "All unneeded files will be be erased. Snapshot folder will be deleted.\n\nProceed?");
    EXPECT_FALSE(QFileInfo::exists(f.path("cache.dat")));
    EXPECT_FALSE(QFileInfo::exists(f.path("_Snapshots")));
    EXPECT_TRUE(QFileInfo::exists(f.path("quoril.qjs")));
    EXPECT_TRUE(QFileInfo::exists(f.path("Ground/full/t.pic"))) << "previews stay";
    EXPECT_EQ(f.property->buildings().size(), 1);
}

TEST(PropertyActions, ReimportChangesNothingWhenRefusedOrNotConfirmed)
{
    MaintenanceFixture f;
    QFile::remove(f.path("system.cfg"));
    const QStringList before = listTree(f.path());
    int loads = 0;
    {
        LoaderScope loader([&](Property&, const QString&) { ++loads; });
        ScriptedPrompt prompt;
        prompt.answerQuestion(QMessageBox::Ok);
        triggerAction(*f.property, "Re-import");
        ASSERT_EQ(prompt.asked().size(), 1);
        EXPECT_EQ(prompt.asked()[0].title, "Cannot re-import");
        EXPECT_EQ(prompt.asked()[0].text, "This project does not contain the raw camera data needed to re-import. It "
                                          "looks like an exported project.Nothing has been changed.");
    }
    writeFile(f.path("project.json"), "{}"); // the field application's data counts as raw data too
    {
        LoaderScope loader([&](Property&, const QString&) { ++loads; });
        ScriptedPrompt prompt;
        prompt.answerQuestion(QMessageBox::No);
        triggerAction(*f.property, "Re-import");
        ASSERT_EQ(prompt.asked().size(), 1);
        EXPECT_EQ(prompt.asked()[0].title, "Warning");
        EXPECT_EQ(prompt.asked()[0].text, kReimportQuestion);
    }
    QStringList after = listTree(f.path());
    after.removeOne("project.json");
    EXPECT_EQ(after, before);
    EXPECT_EQ(f.property->buildings().size(), 1);
    EXPECT_EQ(loads, 0);
}

// The tree, the editor and the dialogs hold pointers to the floors and scans; they must hear that
// these go away while the objects still live, and before the load replaces them.
TEST(PropertyActions, ReimportLetsGoOfTheOldTreeBeforeTheLoad)
{
    MaintenanceFixture f;
    f.property->setInitialPano(f.full);
    f.ground->setHighlightedItems({f.full, f.user});
    f.property->setDirty(false);

    QStringList events;
    QObject::connect(f.property.get(), &Property::initPanoUpdated, [&] {
        events << (f.property->initialPano() ? "initial kept" : "initial cleared");
    });
    QObject::connect(f.ground, &Floor::highlightedPanosChanged, [&](const QList<QGraphicsItem*>& items) {
        events << QString("highlighted %1").arg(items.size());
    });
    QObject::connect(f.property.get(), &Property::modelUpdated, [&](Floor* floor) {
        // Still alive here: the receiver may look at what it lets go of.
        events << QString("model %1 buildings, floor %2 still named %3")
                      .arg(f.property->buildings().size())
                      .arg(floor ? "given" : "null", f.ground->ownName());
    });
    QString loadedFolder;
    LoaderScope loader([&](Property& property, const QString& folder) {
        events << "load";
        loadedFolder = folder;
        EXPECT_EQ(&property, f.property.get());
        EXPECT_FALSE(QFileInfo::exists(folder + "/quoril.qjs")) << "the project file goes first";
        EXPECT_FALSE(QFileInfo::exists(folder + "/Ground/full/t.pic"));
        EXPECT_FALSE(QFileInfo::exists(folder + "/Ground/full/pano.dat"));
        EXPECT_TRUE(QFileInfo::exists(folder + "/system.cfg"));
        EXPECT_EQ(property.initialPano(), nullptr);
    });
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Yes);
    const QString folder = f.property->folder();
    triggerAction(*f.property, "Re-import");

    EXPECT_EQ(events, (QStringList{"initial cleared", "highlighted 0", "model 0 buildings, floor null still named Ground",
                                   "highlighted 0", "load"}));
    EXPECT_EQ(loadedFolder, folder);
    EXPECT_TRUE(QFileInfo::exists(f.path("Ground/full"))) << "raw scan folders stay";
    EXPECT_TRUE(QFileInfo::exists(f.path("Ground/user/u.jpg")));
}

TEST(PropertyActions, ReimportFailureIsLoggedAsCritical)
{
    MaintenanceFixture f;
    LoaderScope loader([](Property&, const QString&) { throw std::runtime_error("Could not find: somewhere"); });
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Yes);
    LogCapture log;
    triggerAction(*f.property, "Re-import");
    EXPECT_EQ(log.texts(QtCriticalMsg), QStringList{"Could not re-import property \"Villa\" : Could not find: somewhere"});
}

TEST(PropertyQueries, AlignmentStateOfTheBuildings)
{
    ProjectFixture f;
    EXPECT_EQ(f.property->alignmentState(), 0) << "no buildings";
    QList<Panorama*> scans;
    for (const QString& name : {"A", "B", "C"}) {
        Floor* floor = f.addFloor(f.addBuilding(name), "Ground");
        scans << placeScan(floor, name, PanoType::Full, {0, 0});
        scans.last()->setAlignment(0);
    }
    EXPECT_EQ(f.property->alignmentState(), 0);
    scans[1]->setAlignment(-1);
    EXPECT_EQ(f.property->alignmentState(), -1);
    scans[2]->setAlignment(1);
    EXPECT_EQ(f.property->alignmentState(), 1);
}

TEST(PropertyQueries, FindPanoByIdMatchesStoredIdAndTypeWordAndIssuesNone)
{
    ProjectFixture f;
    Floor* first = f.addFloor(f.addBuilding("A"), "Ground");
    Floor* second = f.addFloor(f.addBuilding("B"), "Ground");
    auto* unnumbered = new TestItem("pano");
    first->addItem(unnumbered);
    auto* note = new TestItem("note");
    second->addItem(note);
    note->setUniqueId(7);
    Panorama* pano = placeScan(second, "scan", PanoType::Full, {0, 0});
    pano->setUniqueId(7);

    EXPECT_EQ(f.property->findPanoById(0, "pano"), nullptr);
    EXPECT_EQ(unnumbered->storedId(), 0u) << "the search issued an id";
    EXPECT_EQ(f.property->findPanoById(7, "pano"), static_cast<QGraphicsItem*>(pano));
    EXPECT_EQ(f.property->findPanoById(7, "note"), static_cast<QGraphicsItem*>(note));
    EXPECT_EQ(f.property->findPanoById(8, "pano"), nullptr);
    EXPECT_EQ(f.property->findPanoById(-1, "pano"), nullptr);
}

TEST(PropertyMaintenance, ReprocessPanosGoesOnAfterFailuresAndWarnsOnce)
{
    ProjectFixture f;
    const TwoLensScanSetup setup;
    f.property->setCamParams(makeTwoLensCamera(setup).release());
    Building* building = f.addBuilding("House");
    Floor* ground = f.addFloor(building, "Ground");
    Floor* pictures = f.addFloor(building, "Pictures");
    // Scans without their camera data fail; the one between them is processed all the same.
    Panorama* first = placeScan(ground, "first", PanoType::Full, {0, 0});
    writeTwoLensScanFolder(pictures->folderPath() + "/second", setup);
    Panorama* second = placeScan(pictures, "second", PanoType::Full, {0, 0});
    Panorama* third = placeScan(ground, "third", PanoType::Full, {0, 0});
    Panorama* partial = placeScan(ground, "partial", PanoType::Partial, {0, 0});
    for (Panorama* pano : {first, second, third, partial}) {
        pano->imageParams()[0] = 0.25f; // an alignment angle
        pano->imageParams()[20] = 0.75f; // a colour setting
        writeFile(pano->folder() + "/t.pic", "old preview");
    }

    LogCapture log;
    f.property->reprocessPanos();
    const QStringList warnings = log.texts(QtWarningMsg);
    ASSERT_EQ(warnings.size(), 1);
    const QString missing = "Main image is missing and pano will be omitted.";
    EXPECT_TRUE(warnings[0].startsWith("Could not process pano " + first->folder() + ". ")) << warnings[0].toStdString();
    EXPECT_TRUE(warnings[0].contains(missing + "\n\nCould not process pano " + third->folder() + ". "));
    EXPECT_TRUE(warnings[0].endsWith(missing));
    EXPECT_FALSE(warnings[0].contains(second->folder()));
    for (Panorama* pano : {first, second, third}) {
        EXPECT_EQ(pano->imageParams()[0], 0.0f) << "alignment reset";
        EXPECT_EQ(pano->imageParams()[20], 0.75f) << "colour kept";
    }
    EXPECT_FALSE(QFileInfo::exists(first->folder() + "/t.pic"));
    EXPECT_GT(QFileInfo(second->folder() + "/t.pic").size(), 1000) << "a new preview";
    EXPECT_EQ(partial->imageParams()[0], 0.25f) << "only full scans are processed";
    EXPECT_EQ(readFile(partial->folder() + "/t.pic"), "old preview");
}

TEST(PropertyActions, AddBuildingTakesTheFirstFreeNameAndKeepsTheProjectDirty)
{
    ProjectFixture f;
    f.addBuilding("New Building 1");
    f.addBuilding("new building");
    f.property->setDirty(true);
    triggerAction(*f.property, "Add building");
    triggerAction(*f.property, "Add building");
    QStringList names;
    for (const Building* building : f.property->buildings())
        names << building->ownName();
    EXPECT_EQ(names, (QStringList{"New Building 1", "new building", "New Building", "New Building 2"}));
    EXPECT_TRUE(f.property->isDirty());
}

TEST(PropertyMaintenance, CalibrationRotationRereadsFullScansAndMarksTrials)
{
    ProjectFixture f;
    const TwoLensScanSetup setup;
    f.property->setCamParams(makeTwoLensCamera(setup).release());
    Floor* ground = f.addFloor(f.addBuilding("House"), "Ground");
    QList<Panorama*> scans;
    for (const char* name : {"full", "partial"}) {
        writeTwoLensScanFolder(ground->folderPath() + "/" + name, setup);
        scans << Panorama::createFromFolder(QJsonObject(), name, ground);
    }
    scans[0]->setPanoType(PanoType::Full);
    scans[1]->setPanoType(PanoType::Partial);

    for (const auto& [a, b, c, trial] : {std::tuple{0.1f, 2.0f, 0.0f, true}, std::tuple{0.0f, -1.0f, 0.0f, false},
                                         std::tuple{0.0f, -1.0f, 0.5f, true}, std::tuple{0.0f, -1.0f, std::nanf(""), true}}) {
        scans[0]->setOutline({});
        f.property->applyCalibrationRotation(a, b, c);
        EXPECT_EQ(f.property->trialCalibrationApplied(), trial) << a << " " << b << " " << c;
        EXPECT_FALSE(scans[0]->outline().isEmpty()) << "read again before the call returns";
    }
    EXPECT_TRUE(scans[1]->outline().isEmpty()) << "only full scans are read";
}
