#include "app/property_tree_model.h"
#include "editor/editor.h"
#include "model/building.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/project_generator.h"
#include "support/read_only_folder.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"
#include "support/window_fixture.h"
#include "support/ztm5_project.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

QString cacheFolderOf(const QString& folder)
{
    Property probe;
    probe.setFolder(folder);
    return probe.cacheFolder();
}

// Closes the window's project without saving.
void discard(ProjectWindow& w)
{
    w.window.currentProperty()->setDirty(false);
    w.window.openProperty(nullptr);
}

} // namespace

// A lidar project never opened before, on read-only media: what its first read makes (the first
// shot fused from its exposures, the previews, the point clouds) goes to the user's cache, every
// scan shows with its outline, the adjustment tools read the fused shot, and the folder is left as
// it was.
TEST(ReadOnlyMedia, ALidarProjectNeverOpenedShowsEveryScanAndWritesOnlyToTheCache)
{
    TestCachePaths paths;
    QTemporaryDir root;
    const QString folder = root.filePath("Lidar on a DVD");
    makeZtm5Project(folder, {"--scans", "3", "--exposures", "3", "--exposure-width", "128"});
    const QMap<QString, QString> before = contentOf(folder);
    ProjectWindow w;
    LogCapture log;
    {
        ReadOnlyFolder readOnly(folder);
        SCOPED_TRACE(readOnly.immutable() ? "immutable folder" : "write check says read-only");
        w.load(folder);
        Property* property = w.window.currentProperty();
        ASSERT_NE(property, nullptr);
        const QString cache = property->cacheFolder();
        const QList<Panorama*> scans = scansOf(*property);
        ASSERT_EQ(scans.size(), 3);
        for (Panorama* pano : scans) {
            SCOPED_TRACE(pano->folder().toStdString());
            EXPECT_GT(pano->outline().size(), 1000);
            for (const char* name : {"t.pic", "pc.dat"}) {
                const QString path = pano->existingFilePath(QLatin1String(name));
                EXPECT_TRUE(path.startsWith(cache + "/") && QFileInfo(path).size() > 100) << path.toStdString();
            }
            EXPECT_TRUE(QFileInfo(cache + "/Ground/" + pano->dir() + "/h1.jpg").isFile());
            const SourceImages sources = pano->loadSourceImages();
            for (const QByteArray& shot : sources.images)
                EXPECT_EQ(shot.size(), 96 * 96 * 3);
        }
        EXPECT_EQ(log.texts(QtWarningMsg), QStringList{property->readOnlyFolderText()});
        EXPECT_TRUE(log.texts(QtCriticalMsg).isEmpty()) << log.texts(QtCriticalMsg).join("\n").toStdString();
        discard(w);
        QDir(cache).removeRecursively();
    }
    EXPECT_EQ(contentOf(folder), before) << "nothing written, renamed or removed in the folder";
}

// A laser-line folder never opened before must be changed by its first opening (its scan folders
// moved into their floors' folders, "house.dat" removed): on read-only media the load is refused
// with one message that says what to do, before anything is shown or written. Copied to a disk
// that can be written, it opens whole; opened once, it opens on read-only media too.
TEST(ReadOnlyMedia, ALaserLineFolderNeverOpenedIsRefusedWithOneMessageBeforeAnythingIsShown)
{
    TestCachePaths paths;
    QTemporaryDir root;
    const QString folder = root.filePath("Laser on a DVD");
    makeProject(folder, {"--camera", "laser-line", "--floors", "2", "--scans-per-floor", "2", "--user-scans", "0",
                         "--lens-height", "64"});
    const QMap<QString, QString> before = contentOf(folder);
    const QString cache = cacheFolderOf(folder);
    ProjectWindow w;
    {
        ReadOnlyFolder readOnly(folder);
        SCOPED_TRACE(readOnly.immutable() ? "immutable folder" : "write check says read-only");
        LogCapture log;
        w.load(folder);
        EXPECT_EQ(w.window.currentProperty(), nullptr);
        EXPECT_EQ(w.window.treeModel()->rowCount(), 0);
        EXPECT_EQ(w.window.editor()->floor(), nullptr);
        EXPECT_TRUE(log.texts(QtWarningMsg).isEmpty()) << log.texts(QtWarningMsg).join("\n").toStdString();
        const QStringList refusals = log.texts(QtCriticalMsg);
        ASSERT_EQ(refusals.size(), 1);
        EXPECT_TRUE(refusals[0].contains("\"" + folder + "\" has never been opened")) << refusals[0].toStdString();
        EXPECT_TRUE(refusals[0].contains("Copy the project folder to a disk you can write to and open the copy."));
        EXPECT_EQ(w.boxes.size(), 1);
    }
    EXPECT_EQ(contentOf(folder), before) << "nothing written, renamed or removed in the folder";
    EXPECT_FALSE(QFileInfo::exists(cache)) << "nor anything in the cache";

    w.load(folder);
    ASSERT_NE(w.window.currentProperty(), nullptr);
    EXPECT_EQ(scansOf(*w.window.currentProperty()).size(), 4);
    discard(w);
    {
        ReadOnlyFolder readOnly(folder);
        LogCapture log;
        w.load(folder);
        ASSERT_NE(w.window.currentProperty(), nullptr);
        const QList<Panorama*> scans = scansOf(*w.window.currentProperty());
        EXPECT_EQ(scans.size(), 4);
        for (Panorama* pano : scans)
            EXPECT_FALSE(pano->outline().isEmpty()) << pano->folder().toStdString();
        EXPECT_EQ(log.texts(QtWarningMsg), QStringList{w.window.currentProperty()->readOnlyFolderText()});
        discard(w);
    }
    QDir(cache).removeRecursively();
}
