#include "camera/cam_params_ztm4.h"
#include "model/panorama.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/scan_placement.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"
#include "support/two_lens_scan_fixture.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {
void triggerAction(Property& property, const QString& text)
{
    QMenu menu;
    property.contextMenuActions(&menu);
    for (QAction* action : menu.actions())
        if (action->text() == text)
            return property.onContextAction(action);
    ADD_FAILURE() << "no action " << text.toStdString();
}

struct LoaderScope {
    explicit LoaderScope(Property::ProjectLoader loader) { Property::setProjectLoader(std::move(loader)); }
    ~LoaderScope() { Property::setProjectLoader({}); }
};

} // namespace

TEST(PropertyActions, AddBuildingTakesTheFirstFreeNameAndKeepsTheProjectDirty)
{
    ProjectFixture f;
    f.addBuilding("New Building 1");
    f.addBuilding("new building");
    f.property->setDirty(true);
    triggerAction(*f.property, "Add building");
    triggerAction(*f.property, "Add building");
    ASSERT_EQ(f.property->buildings().size(), 4);
    EXPECT_EQ(f.property->buildings()[2]->ownName() + ", " + f.property->buildings()[3]->ownName(),
              "New Building, New Building 2");
    EXPECT_TRUE(f.property->isDirty());
}

// Refused without raw camera data, then not confirmed: nothing changes. Confirmed: the tree, the
// editor and the dialogs, which hold pointers to the floors and scans, hear that these go away
// while they still live and before the load, whose failure is logged.
TEST(PropertyActions, ReimportLetsGoOfTheOldTreeBeforeTheLoadOnlyWhenConfirmed)
{
    ProjectFixture f;
    f.property->setName("Villa");
    Floor* ground = f.addFloor(f.addBuilding("House"), "Ground");
    Panorama* full = placeScan(ground, "full", PanoType::Full, {0, 0});
    Panorama* user = f.addUserScan(ground, "user");
    for (const char* file : {"quoril.qjs", "Ground/full/t.pic", "Ground/full/pano.dat"})
        writeFile(f.path(file), "x");
    const auto exists = [&](const QString& file) { return QFileInfo::exists(f.path(file)); };
    f.property->setInitialPano(full);
    ground->setHighlightedItems({full, user});
    QStringList events;
    QObject::connect(f.property.get(), &Property::initPanoUpdated,
                     [&] { events << (f.property->initialPano() ? "initial kept" : "initial cleared"); });
    QObject::connect(ground, &Floor::highlightedPanosChanged, [&](const QList<QGraphicsItem*>& items) {
        events << QString("highlighted %1").arg(items.size());
    });
    QObject::connect(f.property.get(), &Property::modelUpdated, [&](Floor* floor) {
        events << QString("model %1 buildings, floor %2 still named %3")
                      .arg(f.property->buildings().size())
                      .arg(floor ? "given" : "null", ground->ownName());
    });
    LoaderScope loader([&](Property& property, const QString& folder) {
        events << "load";
        EXPECT_TRUE(&property == f.property.get() && folder == f.path());
        EXPECT_EQ(property.initialPano(), nullptr);
        EXPECT_FALSE(exists("quoril.qjs") || exists("Ground/full/t.pic") || exists("Ground/full/pano.dat"));
        EXPECT_TRUE(exists("project.json") && exists("Ground/full") && exists("Ground/user/u.jpg"));
        throw std::runtime_error("Could not find: somewhere");
    });
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Ok).answerQuestion(QMessageBox::No).answerQuestion(QMessageBox::Yes);
    LogCapture log;
    const QStringList before = listTree(f.path());
    triggerAction(*f.property, "Re-import");
    writeFile(f.path("project.json"), "{}"); // the field application's data counts as raw data too
    triggerAction(*f.property, "Re-import");
    QStringList after = listTree(f.path());
    after.removeOne("project.json");
    EXPECT_EQ(after, before);
    EXPECT_EQ(events, QStringList{});
    triggerAction(*f.property, "Re-import");
    ASSERT_EQ(prompt.asked().size(), 3);
    EXPECT_EQ(prompt.asked()[0].title, "Cannot re-import");
    EXPECT_EQ(prompt.asked()[1].title, "Warning");
    EXPECT_EQ(events, (QStringList{"initial cleared", "highlighted 0",
                                   "model 0 buildings, floor null still named Ground", "highlighted 0", "load"}));
    EXPECT_EQ(log.texts(QtCriticalMsg),
              QStringList{"Could not re-import property \"Villa\" : Could not find: somewhere"});
}

TEST(PropertyMaintenance, ReprocessPanosGoesOnAfterFailuresAndWarnsOnce)
{
    ProjectFixture f;
    f.property->setCamParams(makeTwoLensCamera().release());
    Building* house = f.addBuilding("House");
    Floor* ground = f.addFloor(house, "Ground");
    Floor* pictures = f.addFloor(house, "Pictures");
    // Scans without their camera data fail; the one between them is processed all the same.
    Panorama* first = placeScan(ground, "first", PanoType::Full, {0, 0});
    writeTwoLensScanFolder(pictures->folderPath() + "/second");
    Panorama* second = placeScan(pictures, "second", PanoType::Full, {0, 0});
    Panorama* third = placeScan(ground, "third", PanoType::Full, {0, 0});
    Panorama* partial = placeScan(ground, "partial", PanoType::Partial, {0, 0});
    for (Panorama* pano : {first, second, third, partial}) {
        pano->imageParams()[0] = 0.25f;  // an alignment angle
        pano->imageParams()[20] = 0.75f; // a colour setting
        writeFile(pano->folder() + "/t.pic", "old preview");
    }
    LogCapture log;
    f.property->reprocessPanos();
    const auto failure = [](Panorama* pano) {
        return "Could not process pano " + pano->folder() + ". Scan " + pano->folder()
            + ": Main image is missing and pano will be omitted.";
    };
    EXPECT_EQ(log.texts(QtWarningMsg), QStringList{failure(first) + "\n\n" + failure(third)});
    for (Panorama* pano : {first, second, third, partial})
        EXPECT_EQ(QPointF(pano->imageParams()[0], pano->imageParams()[20]), QPointF(pano == partial ? 0.25 : 0, 0.75))
            << "alignment reset, colour kept, partial scans left alone";
    EXPECT_FALSE(QFileInfo::exists(first->folder() + "/t.pic"));
    EXPECT_GT(QFileInfo(second->folder() + "/t.pic").size(), 1000) << "a new preview";
    EXPECT_EQ(readFile(partial->folder() + "/t.pic"), "old preview");
}

// A scan whose camera data the camera model refuses (a laser-line scan's "room.dat" too old to
// read) is refused before anything is deleted: the scan keeps its alignment, its preview, its
// pano, its point cloud and its record.
TEST(PropertyMaintenance, ReprocessPanosKeepsEveryFileOfAScanItsCameraCannotProcess)
{
    ProjectFixture f;
    f.property->setCamParams(new CamParamsZTM4);
    Floor* ground = f.addFloor(f.addBuilding("House"), "Ground");
    Panorama* scan = placeScan(ground, "laser", PanoType::Full, {0, 0});
    writeFile(scan->folder() + "/room.dat", QByteArray("\x03\0\0\0", 4));
    scan->imageParams()[0] = 0.25f;
    ASSERT_TRUE(scan->writePanoDat());
    const QStringList derived = {"t.pic", "s.pic", "pc.dat"};
    for (const QString& name : derived)
        writeFile(scan->folder() + "/" + name, name.toUtf8() + " as processing left it");
    const QByteArray record = readFile(scan->folder() + "/pano.dat");

    LogCapture log;
    f.property->reprocessPanos();
    EXPECT_EQ(log.texts(QtWarningMsg),
              QStringList{"Could not process pano " + scan->folder()
                          + ". File version 3 is too old to load. Min supported is version 4."});
    EXPECT_EQ(scan->imageParams()[0], 0.25f);
    EXPECT_EQ(readFile(scan->folder() + "/pano.dat"), record);
    for (const QString& name : derived)
        EXPECT_EQ(readFile(scan->folder() + "/" + name), name.toUtf8() + " as processing left it") << name.toStdString();
}
