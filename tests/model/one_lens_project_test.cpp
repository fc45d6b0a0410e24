#include "camera/cam_params.h"
#include "model/building.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"
#include "model/tag.h"
#include "support/laser_line_project.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/project_file_reader.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"
#include "support/ztm5_project.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace testsupport;

namespace {

QString placeOf(const Panorama* scan)
{
    return scan->floor()->dir() + "/" + scan->dir();
}

QStringList orderOf(const Property& property)
{
    QStringList places;
    for (const Panorama* scan : scansOf(property))
        places << placeOf(scan);
    return places;
}

// The project as its file holds it, and each scan's own record, as written on disk.
struct SavedProject {
    QJsonObject project;
    QMap<QString, QJsonObject> records;
    bool operator==(const SavedProject&) const = default;
};

SavedProject savedOnDisk(const Property& property)
{
    SavedProject saved{readProjectFile(property.folder() + "/quoril.qjs"), {}};
    for (const Panorama* scan : scansOf(property))
        saved.records[placeOf(scan)] = readProjectFile(scan->folder() + "/pano.dat");
    return saved;
}

// What the person and the saves own of the project: its file's tree with the floors, the order
// and the tags, and each scan's record, its capture metadata included (each load reads that again
// from the camera's files, and must read it the same). Making it writes the records (as every save
// does).
QJsonObject ownedState(Property& property)
{
    QJsonObject tree = property.toJson(false);
    tree.remove("quorilPlatform");
    QJsonArray buildings;
    for (const QJsonValue building : tree["buildings"].toArray()) {
        QJsonObject b = building.toObject();
        QJsonArray floors;
        for (const QJsonValue floor : b["floors"].toArray()) {
            QJsonObject f = floor.toObject();
            QJsonObject layout = f["layout"].toObject();
            f["layout"] = layout;
            floors.append(f);
        }
        b["floors"] = floors;
        buildings.append(b);
    }
    tree["buildings"] = buildings;
    QJsonObject records;
    for (Panorama* scan : scansOf(property)) {
        QJsonObject record = scan->toJson(false);
        records[placeOf(scan)] = record;
    }
    return {{"project", tree}, {"records", records}};
}

std::string text(const QJsonObject& json)
{
    return QJsonDocument(json).toJson().toStdString();
}

struct OneLensCamera {
    const char* name;
    std::function<void(const QString& folder)> write;
};

} // namespace

// A one-lens project, read from the camera's folder, keeps what the person did to it through a
// save and a load: the scans in the order they were put in, a tag, the initial scan, and every
// record as it was saved. Small shots keep the shot alignment of the first load quick.
TEST(OneLensProject, LoadSaveAndLoadKeepTheScansTheirOrderTagsAndTheInitialScan)
{
    const QList<OneLensCamera> cameras{
        {"one-lens lidar",
         [](const QString& folder) { makeZtm5Project(folder, {"--scans", "3", "--side", "128", "--plain-shots"}); }},
        {"laser-line", [](const QString& folder) {
             makeLaserLineProject(folder,
                                  {"--floors", "2", "--scans-per-floor", "2", "--user-scans", "1", "--side", "128"});
         }}};
    for (const OneLensCamera& camera : cameras) {
        SCOPED_TRACE(camera.name);
        QTemporaryDir root;
        const QString folder = root.filePath("Rowan Yard");
        camera.write(folder);
        ScriptedPrompt prompt;
        LogCapture log;

        auto first = std::make_unique<Property>();
        ASSERT_TRUE(first->load(folder)) << log.texts(QtWarningMsg).join("\n").toStdString();
        ASSERT_TRUE(runPostedJobs());
        EXPECT_TRUE(log.texts(QtWarningMsg).isEmpty()) << log.texts(QtWarningMsg).join("\n").toStdString();
        const QList<Panorama*> scans = scansOf(*first);
        ASSERT_GE(scans.size(), 3);
        // The person puts the last scan of the first floor first, tags the scan now second and
        // makes it the one the tour opens with.
        Floor* floor = scans.first()->floor();
        floor->movePano(floor->panos().last(), 0);
        Panorama* tagged = floor->panos()[1];
        ASSERT_NE(tagged->panoType(), PanoType::User);
        // A tag as the project file gives it: its pano fractions, seen through the camera.
        Tag tag;
        tag.title = "Boiler";
        tag.originalU = 0.25, tag.originalV = 0.5, tag.d = 1800;
        float u = 0, v = 0;
        first->camParams()->panoToCamera(0.25f, 0.5f, tagged->imageParams(), u, v);
        tag.u = u, tag.v = v;
        tagged->appendTag(tag);
        first->setInitialPano(tagged);
        const QString taggedPlace = placeOf(tagged);
        ASSERT_TRUE(first->save());
        EXPECT_FALSE(first->isDirty());
        const QStringList order = orderOf(*first);
        const SavedProject saved = savedOnDisk(*first);
        for (const Panorama* scan : scansOf(*first))
            EXPECT_FALSE(saved.records[placeOf(scan)].isEmpty()) << placeOf(scan).toStdString();
        const QJsonObject owned = ownedState(*first);
        first.reset();

        Property second;
        ASSERT_TRUE(second.load(folder)) << log.texts(QtWarningMsg).join("\n").toStdString();
        ASSERT_TRUE(runPostedJobs());
        EXPECT_TRUE(log.texts(QtWarningMsg).isEmpty()) << log.texts(QtWarningMsg).join("\n").toStdString();
        EXPECT_FALSE(second.isDirty()) << "the load changed nothing";
        EXPECT_TRUE(savedOnDisk(second) == saved) << "the files are as the save left them";
        EXPECT_EQ(orderOf(second), order);
        ASSERT_TRUE(second.initialPano());
        EXPECT_EQ(placeOf(second.initialPano()), taggedPlace);
        ASSERT_EQ(second.initialPano()->tags().size(), 1);
        EXPECT_EQ(second.initialPano()->tags().first().title, "Boiler");
        EXPECT_DOUBLE_EQ(second.initialPano()->tags().first().d, 1800);
        EXPECT_EQ(text(ownedState(second)), text(owned)) << "every scan record, tag and setting as saved";
    }
}
