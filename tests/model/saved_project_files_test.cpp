#include "base/cipher.h"
#include "model/building.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"
#include "model/saved_project_files.h"
#include "support/log_capture.h"
#include "support/project_file_reader.h"
#include "support/project_generator.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>

using namespace testsupport;

namespace {

Floor* floorNamed(Property& property, const QString& name)
{
    for (Building* building : property.buildings())
        for (Floor* floor : building->floors())
            if (floor->ownName() == name)
                return floor;
    return nullptr;
}

Panorama* scanIn(Floor* floor, const QString& dir)
{
    for (Panorama* pano : floor ? floor->panos() : QList<Panorama*>{})
        if (pano->dir() == dir)
            return pano;
    return nullptr;
}

// The project as the next load finds it once the unsaved edits are gone: discarded, and recovered
// from the autosave copy a crash left (`autosave`, named "Edited"); `check` looks at each.
void reopenBothWays(const QString& folder, const QByteArray& autosave,
                    const std::function<void(Property& again, const LogCapture& log)>& check)
{
    for (const bool recover : {false, true}) {
        SCOPED_TRACE(recover ? "autosave recovered" : "edits discarded");
        if (recover)
            writeFile(folder + "/~quoril.qjs", autosave);
        LogCapture log;
        ScriptedPrompt prompt;
        if (recover)
            prompt.answerQuestion(QMessageBox::Yes);
        Property again;
        ASSERT_TRUE(again.load(folder));
        EXPECT_EQ(again.ownName(), recover ? "Edited" : "Maple Street");
        check(again, log);
        again.setDirty(false);
    }
}

} // namespace

// A floor's folder renamed and a scan's folder moved to another floor take effect on disk at once;
// the project file and the autosave copy follow at once, so that whatever becomes of the unsaved
// edits (discarded, or lost in a crash that leaves the autosave) the next load finds every floor
// where it was, with its settings, and the scan with its tags on its new floor.
TEST(SavedProjectFiles, FolderChangesReachTheSavedProjectAtOnce)
{
    QTemporaryDir root;
    const QString folder = root.filePath("Maple Street");
    makeProject(folder, {"--scans-per-floor", "0", "--user-scans", "2", "--lens-height", "64"});
    auto property = std::make_unique<Property>();
    ASSERT_TRUE(property->load(folder));
    Floor* first = floorNamed(*property, "1st Floor");
    Floor* basement = floorNamed(*property, "Basement");
    Panorama* moving = scanIn(floorNamed(*property, "Ground"), "User Pano_Ground 1");
    ASSERT_TRUE(first && basement && moving);
    first->setCeilingHeight(2400);
    first->setGradeHint(1);
    Tag tag;
    tag.title = "Boiler";
    moving->appendTag(tag);
    ASSERT_TRUE(property->save());
    property->setName("Edited");
    ASSERT_TRUE(QMetaObject::invokeMethod(property.get(), "on_autoBackupTimer_timeout", Qt::DirectConnection));

    first->setName("First Floor");
    basement->movePano(moving, -1);
    ASSERT_EQ(first->dir(), "First Floor");
    ASSERT_TRUE(QDir(folder + "/Basement/User Pano_Ground 1").exists());
    // What a crash would leave: the autosave copy, kept before closing removes it.
    const QByteArray autosave = readFile(folder + "/~quoril.qjs");
    property.reset(); // closed without saving

    reopenBothWays(folder, autosave, [&](Property& again, const LogCapture& log) {
        ASSERT_EQ(again.buildings().size(), 1) << "no floor left for a new building";
        Floor* renamed = floorNamed(again, "1st Floor");
        ASSERT_NE(renamed, nullptr) << "the saved name, in the renamed folder";
        EXPECT_EQ(renamed->dir(), "First Floor");
        EXPECT_EQ(renamed->ceilingHeight(), 2400);
        EXPECT_EQ(renamed->gradeHint(), 1);
        Panorama* moved = scanIn(floorNamed(again, "Basement"), "User Pano_Ground 1");
        ASSERT_NE(moved, nullptr);
        ASSERT_EQ(moved->tags().size(), 1);
        EXPECT_EQ(moved->tags()[0].title, "Boiler");
        EXPECT_EQ(floorNamed(again, "Ground")->panos().size(), 1);
        EXPECT_FALSE(log.contains(QtWarningMsg, "Could not find scan folder"));
    });
}

// A floor deleted with its folder, and a building deleted with its floors, leave the project file
// and the autosave copy at once: discarded or recovered, the next load finds the same tree without
// a word about a missing folder. When the saved project cannot be written the floor stays.
TEST(SavedProjectFiles, DeletedFloorsAndBuildingsLeaveTheSavedProjectAtOnce)
{
    QTemporaryDir root;
    const QString folder = root.filePath("Maple Street");
    makeProject(folder, {"--scans-per-floor", "0", "--user-scans", "1", "--lens-height", "64"});
    auto property = std::make_unique<Property>();
    ASSERT_TRUE(property->load(folder));
    Building* garage = property->addNewBuilding("Garage");
    garage->addFloor(floorNamed(*property, "Basement"));
    ASSERT_TRUE(property->save());
    property->setName("Edited");
    ASSERT_TRUE(QMetaObject::invokeMethod(property.get(), "on_autoBackupTimer_timeout", Qt::DirectConnection));

    Floor* first = floorNamed(*property, "1st Floor");
    {
        // Not even root may replace an immutable project file.
        ASSERT_EQ(runProcess("chattr", {"+i", folder + "/quoril.qjs"}).exitCode, 0);
        LogCapture log;
        EXPECT_FALSE(first->building()->deleteFloor(first, true));
        runProcess("chattr", {"-i", folder + "/quoril.qjs"});
        EXPECT_TRUE(log.contains(QtWarningMsg, "Could not delete the floor: the saved project could not be updated."));
        EXPECT_EQ(floorNamed(*property, "1st Floor"), first);
        EXPECT_TRUE(QDir(folder + "/1st Floor").exists());
    }
    ASSERT_TRUE(first->building()->deleteFloor(first, true));
    property->removeBuilding(garage, true);
    EXPECT_FALSE(QDir(folder + "/1st Floor").exists());
    EXPECT_FALSE(QDir(folder + "/Basement").exists());
    const QByteArray autosave = readFile(folder + "/~quoril.qjs");
    property.reset(); // closed without saving

    reopenBothWays(folder, autosave, [&](Property& again, const LogCapture& log) {
        ASSERT_EQ(again.buildings().size(), 1);
        QStringList floors;
        for (Floor* floor : again.buildings()[0]->floors())
            floors << floor->ownName();
        EXPECT_EQ(floors, QStringList({"Ground", "Pictures"}));
        EXPECT_FALSE(log.contains(QtInfoMsg, "Could not find folder"));
    });
}

// The edits keep every other saved value; a project that lacks what they name is left unchanged.
TEST(SavedProjectFiles, EditsChangeOnlyTheFolderNames)
{
    const QJsonObject tagOfFive{{"initialPanoId", 5}, {"title", "Boiler"}};
    const QJsonObject tagOfSix{{"initialPanoId", 6}, {"title", "Door"}};
    QJsonObject ground{{"dir", "Ground"}, {"name", "Ground"}, {"gradeHint", 2},
                       {"layout", QJsonObject{{"panos", QJsonArray{QJsonObject{{"dir", "001"}, {"id", 5}},
                                                                    QJsonObject{{"dir", "002"}, {"id", 6}}}},
                                              {"tags", QJsonArray{tagOfFive, tagOfSix}}}}};
    QJsonObject upper{{"dir", "Upper"}, {"name", "Upper"}, {"layout", QJsonObject{{"panos", QJsonArray{}}}}};
    const QJsonObject original{{"name", "Villa"},
                               {"buildings", QJsonArray{QJsonObject{{"name", "House"}, {"floors", QJsonArray{ground}}},
                                                        QJsonObject{{"name", "Shed"}, {"floors", QJsonArray{upper}}}}}};

    QJsonObject project = original;
    EXPECT_FALSE(renameFloorFolderInProject(project, "Cellar", "Basement"));
    EXPECT_FALSE(moveScanFolderInProject(project, "Ground", "003", "Upper", "003"));
    EXPECT_FALSE(moveScanFolderInProject(project, "Ground", "001", "Cellar", "001"));
    EXPECT_EQ(project, original);

    ASSERT_TRUE(moveScanFolderInProject(project, "Ground", "001", "Upper", "001_001"));
    ASSERT_TRUE(renameFloorFolderInProject(project, "Upper", "Upper Floor"));
    ground["layout"] = QJsonObject{{"panos", QJsonArray{QJsonObject{{"dir", "002"}, {"id", 6}}}},
                                   {"tags", QJsonArray{tagOfSix}}};
    upper["dir"] = "Upper Floor";
    upper["layout"] = QJsonObject{{"panos", QJsonArray{QJsonObject{{"dir", "001_001"}, {"id", 5}}}},
                                  {"tags", QJsonArray{tagOfFive}}};
    QJsonObject expected = original;
    expected["buildings"] = QJsonArray{QJsonObject{{"name", "House"}, {"floors", QJsonArray{ground}}},
                                       QJsonObject{{"name", "Shed"}, {"floors", QJsonArray{upper}}}};
    EXPECT_EQ(project, expected);

    // Files that are missing or cannot be read as a project are not touched.
    QTemporaryDir dir;
    writeFile(dir.filePath("quoril.qjs"), "damaged");
    int edits = 0;
    QString reason;
    EXPECT_TRUE(updateSavedProjectFiles(dir.path(), [&](QJsonObject&) { return ++edits, true; }, reason));
    EXPECT_TRUE(reason.isEmpty());
    EXPECT_EQ(edits, 0);
    EXPECT_EQ(readFile(dir.filePath("quoril.qjs")), "damaged");
    EXPECT_FALSE(QFile::exists(dir.filePath("~quoril.qjs")));
}

// A saved project file that cannot be written back says why, file by file, and the other file is
// still updated; through a floor's rename the cause reaches the warning and the folder stays.
TEST(SavedProjectFiles, AFailedRewriteSaysWhyAndTheRenameIsUndone)
{
    QTemporaryDir dir;
    const QJsonObject saved{{"name", "Villa"}, {"buildings", QJsonArray{}}};
    for (const QString& name : {QStringLiteral("quoril.qjs"), QStringLiteral("~quoril.qjs")}) {
        QByteArray content = QJsonDocument(saved).toJson(QJsonDocument::Compact);
        ASSERT_TRUE(encipherBytes(content, CipherKind::Data));
        writeFile(dir.filePath(name), content);
    }
    // While the project file is being edited, a folder takes its place: the rewrite cannot land.
    const QString inTheWay = dir.filePath("quoril.qjs");
    QString reason;
    const bool written = updateSavedProjectFiles(
        dir.path(),
        [&](QJsonObject& project) {
            if (QFile::exists(inTheWay) && QFileInfo(inTheWay).isFile()) {
                QFile::remove(inTheWay);
                writeFile(inTheWay + "/kept", "x");
            }
            project["name"] = "Edited";
            return true;
        },
        reason);
    EXPECT_FALSE(written);
    EXPECT_TRUE(reason.startsWith(inTheWay + ": ")) << reason.toStdString();
    EXPECT_GT(reason.size(), inTheWay.size() + 2) << "a cause after the file name";
    EXPECT_FALSE(reason.contains("Unknown error")) << reason.toStdString();
    EXPECT_FALSE(reason.contains("~quoril.qjs")) << "the autosave copy was written";
    EXPECT_EQ(readProjectFile(dir.filePath("~quoril.qjs"))["name"].toString(), "Edited");

    const QString folder = dir.filePath("Maple Street");
    makeProject(folder, {"--scans-per-floor", "0", "--user-scans", "1", "--lens-height", "64"});
    auto property = std::make_unique<Property>();
    ASSERT_TRUE(property->load(folder));
    ASSERT_TRUE(property->save());
    Floor* first = floorNamed(*property, "1st Floor");
    ASSERT_NE(first, nullptr);
    const QString oldDir = first->dir();
    LogCapture log;
    {
        const FileSizeLimit nearlyFullDisk(16);
        first->setName("First Floor");
    }
    EXPECT_EQ(first->dir(), oldDir);
    EXPECT_TRUE(QFileInfo(folder + "/" + oldDir).isDir());
    EXPECT_FALSE(QFileInfo::exists(folder + "/First Floor"));
    EXPECT_TRUE(log.contains(QtWarningMsg, folder + "/quoril.qjs: " + QString::fromLocal8Bit(std::strerror(EFBIG))))
        << log.texts(QtWarningMsg).join('\n').toStdString();
    property->setDirty(false);
}
