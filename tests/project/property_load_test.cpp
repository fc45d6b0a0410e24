#include "camera/cam_params.h"
#include "pano/panorama.h"
#include "project/building.h"
#include "project/cipher.h"
#include "project/constants.h"
#include "project/floor.h"
#include "project/property.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/thread_pool_size.h"
#include "support/project_generator.h"
#include "support/scripted_prompt.h"
#include "support/signal_counter.h"
#include "support/system_cfg_fixture.h"
#include "support/test_support.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QThreadPool>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;

namespace {

// Options of the generator for a project whose scans load without a camera model of their own.
const QStringList userScansOnly{"--scans-per-floor", "0", "--user-scans", "2", "--lens-height", "64"};

struct LoadFixture {
    QTemporaryDir root;
    QString folder = root.filePath("Maple Street");
    std::unique_ptr<Property> property = std::make_unique<Property>();
    QJsonObject description;

    void generate(const QStringList& options = userScansOnly) { description = makeProject(folder, options); }

    bool load(const QString& path = {}) { return property->load(path.isEmpty() ? folder : path); }

    // Saved form of the whole tree, with what differs between two runs taken out.
    QJsonObject tree() const
    {
        QJsonObject json = property->toJson(false);
        json.remove("quorilPlatform");
        return json;
    }

    int scanCount() const
    {
        int count = 0;
        for (Building* building : property->buildings())
            for (Floor* floor : building->floors())
                count += static_cast<int>(floor->panos().size());
        return count;
    }

    Floor* floorNamed(const QString& name) const
    {
        for (Building* building : property->buildings())
            for (Floor* floor : building->floors())
                if (floor->ownName() == name)
                    return floor;
        return nullptr;
    }

    Panorama* scanIn(const QString& floorName, const QString& dir) const
    {
        if (Floor* floor = floorNamed(floorName))
            for (Panorama* pano : floor->panos())
                if (pano->dir() == dir)
                    return pano;
        return nullptr;
    }
};

// Warnings of the load itself, without the offscreen platform's own notes.
QStringList loadWarnings(const LogCapture& log)
{
    QStringList warnings = log.texts(QtWarningMsg);
    warnings.removeIf([](const QString& text) { return text.startsWith("This plugin does not support"); });
    return warnings;
}

void processPostedJobs()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

QJsonObject readProjectFile(const QString& path, char kind = CipherKind::Data)
{
    QByteArray data = readFile(path);
    decipherBytes(data, kind);
    return QJsonDocument::fromJson(data).object();
}

void writeProjectFile(const QString& path, const QJsonObject& project, char kind = CipherKind::Data)
{
    QByteArray data = QJsonDocument(project).toJson(QJsonDocument::Compact);
    encipherBytes(data, kind);
    writeFile(path, data);
}

// A user scan folder with a small picture.
void makeUserScan(const QString& folder)
{
    QDir().mkpath(folder);
    plantedSkyImage(64, 32).save(folder + "/u.jpg", "JPG", 90);
}


} // namespace

TEST(ProjectLoad, RawFolderLoadsIsSavedAndLoadsAgainIntoTheSameTree)
{
    LoadFixture fixture;
    fixture.generate();
    SignalCounter dirty(fixture.property.get(), &Property::dirtyChanged);
    ASSERT_TRUE(fixture.load());
    EXPECT_FALSE(fixture.property->isDirty());
    EXPECT_FALSE(fixture.property->signalsBlocked());
    EXPECT_TRUE(fixture.property->autoBackupTimer()->isActive());
    EXPECT_EQ(fixture.property->autoBackupTimer()->interval(), Property::kAutosaveDelayMs);
    EXPECT_EQ(logFilePath, fixture.folder + "/quorillog.txt");
    EXPECT_EQ(fixture.property->cameraSerialNumber(), "MX0123456789");
    EXPECT_EQ(fixture.property->nomivoVersion(), "3.8.1") << "from project.json";
    ASSERT_EQ(fixture.property->buildings().size(), 1);
    Building* main = fixture.property->buildings().first();
    EXPECT_EQ(main->ownName(), "Main Building");
    EXPECT_TRUE(main->isMainBuilding());
    EXPECT_EQ(main->extWallThickness(), 250);
    QStringList floors;
    for (Floor* floor : main->floors())
        floors << floor->ownName();
    EXPECT_EQ(floors, (QStringList{"Ground", "1st Floor", "Basement", "Pictures"})) << "sorted by the floor table";
    EXPECT_EQ(fixture.scanCount(), 3 * 2 + 2);
    EXPECT_TRUE(QFile::exists(fixture.folder + "/Ground/User Pano_Ground 1/t.pic")) << "scans were reloaded";
    ASSERT_TRUE(QFile::exists(fixture.folder + "/quoril.qjs")) << "a raw import is saved at once";
    EXPECT_FALSE(dirty.count() && dirty.at(dirty.count() - 1).at(0).toBool());

    const QJsonObject first = fixture.tree();
    Property again;
    ASSERT_TRUE(again.load(fixture.folder));
    QJsonObject second = again.toJson(false);
    second.remove("quorilPlatform");
    EXPECT_EQ(QJsonDocument(second).toJson(), QJsonDocument(first).toJson());
}

TEST(ProjectLoad, RawImportNumbersScansByFolderNameOrder)
{
    LoadFixture fixture;
    QDir().mkpath(fixture.folder);
    makeSystemCfg(fixture.folder + "/system.cfg");
    for (const QString& scan : {"b/s2", "b/s1", "A/s2", "A/s1"})
        makeUserScan(fixture.folder + "/" + scan);
    ASSERT_TRUE(fixture.load());
    EXPECT_EQ(fixture.scanIn("A", "s1")->uniqueId(), 1u);
    EXPECT_EQ(fixture.scanIn("A", "s2")->uniqueId(), 2u);
    EXPECT_EQ(fixture.scanIn("b", "s1")->uniqueId(), 10001u);
    EXPECT_EQ(fixture.scanIn("b", "s2")->uniqueId(), 10002u);
}

TEST(ProjectLoad, AutosaveCopyRecoveredStaysDirtyAndIsKeptUntilASave)
{
    LoadFixture fixture;
    fixture.generate(userScansOnly + QStringList{"--variant", "autosave"});
    const QString autosave = fixture.folder + "/~quoril.qjs";
    {
        ScriptedPrompt prompt;
        prompt.answerQuestion(QMessageBox::Yes);
        ASSERT_TRUE(fixture.load());
        EXPECT_EQ(prompt.asked().first().title, "Autosaved file found");
        EXPECT_TRUE(prompt.asked().first().text.startsWith("Do you want to recover the version saved at: "));
    }
    EXPECT_EQ(fixture.property->ownName(), "Maple Street (autosaved)");
    EXPECT_TRUE(fixture.property->isDirty()) << "recovered edits are not saved yet";
    EXPECT_TRUE(QFile::exists(autosave));
    ASSERT_TRUE(fixture.property->save());
    EXPECT_FALSE(QFile::exists(autosave));
    EXPECT_EQ(readProjectFile(fixture.folder + "/quoril.qjs").value("name").toString(), "Maple Street (autosaved)");

    LoadFixture declined;
    declined.generate(userScansOnly + QStringList{"--variant", "autosave"});
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::No);
    ASSERT_TRUE(declined.load());
    EXPECT_EQ(declined.property->ownName(), "Maple Street");
    EXPECT_FALSE(declined.property->isDirty());
}

TEST(ProjectLoad, NewerFormatQuestionLeadsWhereTheAnswerSays)
{
    for (int answer : {-1, 0, 1}) {
        LoadFixture fixture;
        fixture.generate(userScansOnly + QStringList{"--variant", "newer-format"});
        writeFile(fixture.folder + "/~quoril.qjs", "old autosave");
        ScriptedPrompt prompt;
        prompt.answerQuestion(QMessageBox::No).answerChoice(answer);
        LogCapture log;
        const bool loaded = fixture.load();
        EXPECT_EQ(prompt.asked().last().title, "Newer project format");
        EXPECT_FALSE(fixture.property->signalsBlocked());
        if (answer == -1) {
            EXPECT_FALSE(loaded);
            EXPECT_TRUE(fixture.property->buildings().isEmpty());
            EXPECT_TRUE(fixture.property->folder().isEmpty());
            EXPECT_FALSE(fixture.property->isDirty());
            EXPECT_TRUE(QFile::exists(fixture.folder + "/~quoril.qjs"));
        } else if (answer == 0) {
            EXPECT_TRUE(loaded);
            EXPECT_EQ(fixture.property->comments(), "Generated sample") << "read as-is";
            EXPECT_EQ(fixture.scanCount(), 8);
        } else {
            EXPECT_TRUE(loaded);
            EXPECT_TRUE(log.contains(QtInfoMsg, "Re-importing project at user request..."));
            EXPECT_FALSE(QFile::exists(fixture.folder + "/~quoril.qjs")) << "the caches were cleared";
            EXPECT_TRUE(fixture.property->comments().isEmpty()) << "imported, not read";
            EXPECT_EQ(fixture.scanCount(), 8);
        }
    }
}

TEST(ProjectLoad, FormatVersion52NeverAsksAndDraftIsSavedAsTheProjectFile)
{
    LoadFixture fixture;
    fixture.generate(userScansOnly + QStringList{"--variant", "draft"});
    ASSERT_TRUE(fixture.load());
    EXPECT_EQ(fixture.property->comments(), "Generated sample");
    EXPECT_EQ(fixture.property->initialPano(), fixture.scanIn("Ground", "User Pano_Ground 1"));
    ASSERT_TRUE(QFile::exists(fixture.folder + "/quoril.qjs"));
    EXPECT_EQ(readProjectFile(fixture.folder + "/quoril.qjs").value("formatVersion").toInt(), 52);
}

TEST(ProjectLoad, DamagedProjectFileIsKeptAsideBeforeTheReimport)
{
    LoadFixture fixture;
    fixture.generate(userScansOnly + QStringList{"--variant", "corrupt"});
    const QByteArray damaged = readFile(fixture.folder + "/quoril.qjs");
    LogCapture log;
    ASSERT_TRUE(fixture.load());
    const QStringList warnings = loadWarnings(log);
    ASSERT_EQ(warnings.size(), 1) << warnings.join("\n---\n").toStdString();
    EXPECT_TRUE(warnings.first().startsWith("Could not load Quoril project (" + fixture.folder + "). Reason: Could not parse: "));
    EXPECT_TRUE(warnings.first().contains("\n\nQuoril will try to re-import..."));
    EXPECT_TRUE(warnings.first().contains("quoril.qjs.damaged"));
    EXPECT_EQ(readFile(fixture.folder + "/quoril.qjs.damaged"), damaged);
    EXPECT_EQ(fixture.scanCount(), 8) << "re-imported";
    ASSERT_TRUE(fixture.property->save());
    EXPECT_EQ(readFile(fixture.folder + "/quoril.qjs.damaged"), damaged) << "a save never destroys it";
}

TEST(ProjectLoad, MissingSerialInTheProjectFileComesFromTheSystemFile)
{
    LoadFixture fixture;
    fixture.generate(userScansOnly + QStringList{"--variant", "project-file"});
    QJsonObject project = readProjectFile(fixture.folder + "/quoril.qjs");
    project.remove("cameraSerialNumber");
    writeProjectFile(fixture.folder + "/quoril.qjs", project);
    ASSERT_TRUE(fixture.load());
    EXPECT_EQ(fixture.property->cameraSerialNumber(), "MX0123456789");
}

TEST(ProjectLoad, FolderWithoutCameraDataFailsWithItsSignalsWorking)
{
    LoadFixture fixture;
    makeUserScan(fixture.folder + "/Ground/User Pano_1");
    LogCapture log;
    EXPECT_EQ(thrownMessage([&] { fixture.load(); }),
              "Required camera system data is missing. Make sure the project folder is not missing any file.");
    EXPECT_TRUE(log.contains(QtWarningMsg, "Could not load property (" + fixture.folder + ") completely."));
    EXPECT_TRUE(log.contains(QtWarningMsg, "does not seem to contain data from ZTM camera systems"));
    EXPECT_FALSE(fixture.property->signalsBlocked()) << "a failed load leaves a property that reports its changes";
    EXPECT_EQ(thrownMessage([&] { fixture.load(fixture.root.filePath("nowhere")); }),
              "Could not find: " + fixture.root.filePath("nowhere"));
}

TEST(ProjectLoad, FailedScansLeaveTheirFloorsAfterTheLoadWithTheirFoldersKept)
{
    LoadFixture fixture;
    fixture.generate();
    const QString broken = fixture.folder + "/Ground/User Pano_Ground 1";
    writeFile(broken + "/u.jpg", "not a picture");
    // A user scan whose picture is gone: its own record still says what it is.
    const QString gone = fixture.folder + "/Basement/User Pano_Basement 2";
    writeProjectFile(gone + "/pano.dat", QJsonObject{{"type", "user"}});
    QFile::remove(gone + "/u.jpg");
    LogCapture log;
    EXPECT_FALSE(fixture.load()) << "a scan that failed to reload";
    EXPECT_NE(fixture.scanIn("Ground", "User Pano_Ground 1"), nullptr) << "removed only after the load returned";
    processPostedJobs();
    EXPECT_EQ(fixture.scanIn("Ground", "User Pano_Ground 1"), nullptr);
    EXPECT_EQ(fixture.scanIn("Basement", "User Pano_Basement 2"), nullptr);
    EXPECT_TRUE(QDir(broken).exists());
    EXPECT_TRUE(QDir(gone).exists());
    const QStringList warnings = loadWarnings(log);
    ASSERT_EQ(warnings.size(), 1) << warnings.join("\n---\n").toStdString();
    EXPECT_TRUE(warnings.first().contains("Could not process pano " + broken + ". "));
    EXPECT_FALSE(warnings.first().contains("Main image is missing")) << "a missing main image is silent";
}

TEST(ProjectLoad, PostedRemovalsAreDroppedWhenTheScanOrThePropertyIsGone)
{
    LoadFixture fixture;
    fixture.generate();
    writeFile(fixture.folder + "/Ground/User Pano_Ground 1/u.jpg", "not a picture");
    writeFile(fixture.folder + "/1st Floor/User Pano_1st Floor 1/u.jpg", "not a picture");
    EXPECT_FALSE(fixture.load());
    Floor* ground = fixture.floorNamed("Ground");
    ground->deletePano(fixture.scanIn("Ground", "User Pano_Ground 1"), false);
    processPostedJobs(); // the job for the deleted scan finds nothing to do
    EXPECT_EQ(fixture.scanIn("1st Floor", "User Pano_1st Floor 1"), nullptr);

    EXPECT_FALSE(fixture.load());
    fixture.property.reset();
    processPostedJobs(); // and nothing runs for a property that is gone
    SUCCEED();
}

TEST(ProjectLoad, CancelEndsEmptyWithoutFolderAndIsReportedAsACancel)
{
    GlobalPoolSize pool(1);
    LoadFixture fixture;
    fixture.generate({"--scans-per-floor", "0", "--user-scans", "12", "--lens-height", "400", "--floors", "2"});
    const int scans = 2 * 12 + 2;
    QTimer poll;
    bool clicked = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        if (clicked || !dialog || dialog->maximum() != scans || dialog->value() < 1)
            return;
        clicked = true;
        dialog->findChild<QPushButton*>()->click();
    });
    poll.start(2);
    LogCapture log;
    const bool loaded = fixture.load();
    poll.stop();
    ASSERT_TRUE(clicked);
    EXPECT_FALSE(loaded);
    EXPECT_TRUE(log.contains(QtWarningMsg, "Could not load property (" + fixture.folder + ") completely."));
    EXPECT_TRUE(log.contains(QtWarningMsg, "Canceled by the user"));
    EXPECT_TRUE(fixture.property->buildings().isEmpty());
    EXPECT_TRUE(fixture.property->folder().isEmpty()) << "no folder, so no save can reach the root";
    EXPECT_FALSE(fixture.property->signalsBlocked());
    EXPECT_FALSE(fixture.property->save());
    EXPECT_FALSE(QFile::exists("/quoril.qjs"));
}

TEST(ProjectLoad, ExportArchiveLoadsIntoTheFolderItsNameAsksFor)
{
    LoadFixture fixture;
    const QJsonObject made = makeProject(fixture.root.filePath("exports"), userScansOnly + QStringList{"--variant", "archive"});
    const QString archive = made.value("archive").toString();
    ASSERT_TRUE(QFile::exists(archive));
    ASSERT_TRUE(fixture.load(archive));
    EXPECT_EQ(fixture.property->folder(), fixture.root.filePath("exports/Job"));
    EXPECT_FALSE(QFile::exists(fixture.root.filePath("exports/job_export")));
    EXPECT_EQ(fixture.property->ownName(), "Job");
    EXPECT_EQ(fixture.scanCount(), 6) << "the export leaves the Pictures floor out of its project";
    EXPECT_FALSE(QFile::exists(fixture.root.filePath("exports/Job/quoril.qjs"))) << "an export copy is not saved";

    LogCapture log;
    writeFile(fixture.root.filePath("broken.tar"), QByteArray(100, 'x'));
    EXPECT_FALSE(fixture.property->load(fixture.root.filePath("broken.tar")));
    EXPECT_TRUE(log.contains(QtCriticalMsg, "Could not process tar file:"));
}

TEST(ProjectLoad, WallThicknessOutsideTheUsualRangeWarnsOnce)
{
    for (const auto& [text, warns] : {std::pair{"9.9", true}, {"35.1", true}, {"10.0", false}, {"35.0", false}, {"0", false}}) {
        LoadFixture fixture;
        fixture.generate();
        writeFile(fixture.folder + "/1st Floor/wall.txt", QByteArray(text) + "\n");
        ScriptedPrompt prompt;
        if (warns)
            prompt.answerQuestion(QMessageBox::Ok);
        ASSERT_TRUE(fixture.load()) << text;
        ASSERT_EQ(prompt.asked().size(), warns ? 1 : 0) << text;
        if (warns)
            EXPECT_EQ(prompt.asked().first().title, "Warning");
    }
}

TEST(ProjectLoad, MapScansAreNeverReloaded)
{
    LoadFixture fixture;
    fixture.generate();
    const QString mapFolder = fixture.folder + "/Ground/User Pano_Ground 2";
    writeProjectFile(mapFolder + "/pano.dat", QJsonObject{{"type", "map"}});
    ASSERT_TRUE(fixture.load());
    ASSERT_NE(fixture.scanIn("Ground", "User Pano_Ground 2"), nullptr);
    EXPECT_EQ(fixture.scanIn("Ground", "User Pano_Ground 2")->panoType(), PanoType::Map);
    EXPECT_FALSE(QFile::exists(mapFolder + "/t.pic"));
    EXPECT_TRUE(QFile::exists(fixture.folder + "/Ground/User Pano_Ground 1/t.pic"));
}

TEST(ProjectLoad, TwoLensScansLoadAndOneWithoutItsMainImageLeavesSilently)
{
    LoadFixture fixture;
    fixture.generate({});
    LogCapture log;
    ASSERT_TRUE(fixture.load()) << loadWarnings(log).join("\n").toStdString();
    EXPECT_TRUE(loadWarnings(log).isEmpty());
    ASSERT_NE(fixture.scanIn("Basement", "003"), nullptr);
    processPostedJobs();
    EXPECT_EQ(fixture.scanIn("Basement", "003"), nullptr) << "its main image h1.jpg is missing";
    EXPECT_TRUE(QDir(fixture.folder + "/Basement/003").exists());
    QByteArray preview = readFile(fixture.folder + "/Ground/002/t.pic");
    ASSERT_TRUE(decipherBytes(preview, CipherKind::Data));
    EXPECT_EQ(QImage::fromData(preview).size(), QSize(1800, 900));
    EXPECT_FALSE(fixture.scanIn("Ground", "001")->outline().isEmpty()) << "the lidar outline was read";
    EXPECT_EQ(fixture.scanCount(), 3 * 4 + 2 - 1);
}

TEST(ProjectLoad, ReimportActionReadsTheRawDataAgainThroughTheLoad)
{
    LoadFixture fixture;
    fixture.generate();
    ASSERT_TRUE(fixture.load());
    const int scans = fixture.scanCount();
    fixture.property->setName("Renamed");
    QMenu menu;
    fixture.property->contextMenuActions(&menu);
    QAction* reimport = nullptr;
    for (QAction* action : menu.actions())
        if (action->text() == "Re-import")
            reimport = action;
    ASSERT_NE(reimport, nullptr);
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Yes);
    fixture.property->onContextAction(reimport);
    EXPECT_EQ(fixture.property->ownName(), "Maple Street");
    EXPECT_EQ(fixture.scanCount(), scans);
    EXPECT_TRUE(QFile::exists(fixture.folder + "/quoril.qjs")) << "the import is saved again";
    EXPECT_FALSE(fixture.property->isDirty());
}
