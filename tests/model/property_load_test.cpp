#include "app/custom_file_dialog.h"
#include "base/cipher.h"
#include "base/notification.h"
#include "model/constants.h"
#include "model/panorama.h"
#include "model/project_chooser.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/project_file_reader.h"
#include "support/project_generator.h"
#include "support/scripted_prompt.h"
#include "support/system_cfg_fixture.h"
#include "support/test_support.h"
#include "support/thread_pool_size.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// Options of the generator for a project whose scans load without a camera model of their own.
const QStringList userScansOnly{"--scans-per-floor", "0", "--user-scans", "2", "--lens-height", "64"};

struct LoadFixture {
    QTemporaryDir root;
    QString folder = root.filePath("Maple Street");
    std::unique_ptr<Property> property = std::make_unique<Property>();
    LogCapture log;

    void generate(const QStringList& options = userScansOnly) { makeProject(folder, options); }
    void generateVariant(const char* variant) { generate(userScansOnly + QStringList{"--variant", variant}); }
    bool load(const QString& path = {}) { return property->load(path.isEmpty() ? folder : path); }
    QList<Panorama*> scans() const
    {
        QList<Panorama*> all;
        for (Building* building : property->buildings())
            for (Floor* floor : building->floors())
                all += floor->panos();
        return all;
    }
    Panorama* scanIn(const QString& floorName, const QString& dir) const
    {
        for (Panorama* pano : scans())
            if (pano->floor()->ownName() == floorName && pano->dir() == dir)
                return pano;
        return nullptr;
    }
    // Warnings of the load itself, without the offscreen platform's own notes.
    QStringList warnings() const
    {
        QStringList warnings = log.texts(QtWarningMsg);
        warnings.removeIf([](const QString& text) { return text.startsWith("This plugin does not support"); });
        return warnings;
    }
};

void writeProjectFile(const QString& path, const QJsonObject& project)
{
    QByteArray data = QJsonDocument(project).toJson(QJsonDocument::Compact);
    encipherBytes(data, CipherKind::Data);
    writeFile(path, data);
}

void makeUserScan(const QString& folder)
{
    QDir().mkpath(folder);
    plantedSkyImage(64, 32).save(folder + "/u.jpg");
}

QJsonObject savedTree(Property& property)
{
    QJsonObject json = property.toJson(false);
    json.remove("quorilPlatform");
    return json;
}

} // namespace

TEST(ProjectLoad, RawFolderLoadsIsSavedAndLoadsAgainIntoTheSameTree)
{
    LoadFixture fixture;
    fixture.generate();
    ASSERT_TRUE(fixture.load());
    Property& property = *fixture.property;
    EXPECT_FALSE(property.isDirty() || property.signalsBlocked());
    EXPECT_TRUE(property.autoBackupTimer()->isActive());
    EXPECT_EQ(Notification::logFilePath(), fixture.folder + "/quorillog.txt");
    EXPECT_EQ(property.cameraSerialNumber(), "MX0123456789");
    EXPECT_EQ(property.nomivoVersion(), "3.8.1") << "from project.json";
    ASSERT_EQ(property.buildings().size(), 1);
    EXPECT_TRUE(property.buildings()[0]->isMainBuilding());
    EXPECT_EQ(property.buildings()[0]->extWallThickness(), 250);
    QStringList floors;
    for (Floor* floor : property.buildings()[0]->floors())
        floors << floor->ownName();
    EXPECT_EQ(floors, (QStringList{"Ground", "1st Floor", "Basement", "Pictures"})) << "sorted by the floor table";
    EXPECT_EQ(fixture.scans().size(), 3 * 2 + 2);
    EXPECT_TRUE(QFile::exists(fixture.folder + "/Ground/User Pano_Ground 1/t.pic")) << "scans were reloaded";
    ASSERT_TRUE(QFile::exists(fixture.folder + "/quoril.qjs")) << "a raw import is saved at once";
    Property again;
    ASSERT_TRUE(again.load(fixture.folder));
    EXPECT_EQ(QJsonDocument(savedTree(again)).toJson(), QJsonDocument(savedTree(property)).toJson());

    // "Re-import" reads the raw data again through the load, and saves it.
    property.setName("Renamed");
    ASSERT_TRUE(QFile::remove(fixture.folder + "/quoril.qjs"));
    QMenu menu;
    property.contextMenuActions(&menu);
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Yes);
    for (QAction* action : menu.actions())
        if (action->text() == "Re-import")
            property.onContextAction(action);
    EXPECT_EQ(property.ownName(), "Maple Street");
    EXPECT_EQ(fixture.scans().size(), 8);
    EXPECT_TRUE(QFile::exists(fixture.folder + "/quoril.qjs"));
    EXPECT_FALSE(property.isDirty());
}

// Loading a saved project copies each project asset a tag names into its scan's "assets" folder;
// what now lies there byte for byte leaves the project's "_Assets" folder. Every other file there
// (one no tag names, one whose scan holds other bytes under its name) stays, and the load says
// once which.
TEST(ProjectLoad, OnlyAssetsCopiedToTheirScansLeaveTheProjectsAssetsFolder)
{
    LoadFixture f;
    f.generate();
    const QString assets = f.folder + "/_Assets";
    const QByteArray plan = readFile(assets + "/plan.pdf");
    ASSERT_FALSE(plan.isEmpty()) << "the generator's asset that no tag names";
    writeFile(assets + "/meter.jpg", "meter picture");
    writeFile(assets + "/notes.txt", "notes of the field application");
    ASSERT_TRUE(f.load());
    Panorama* scan = f.scanIn("Ground", "User Pano_Ground 1");
    ASSERT_NE(scan, nullptr);
    Tag tag;
    tag.title = "Meter";
    tag.content = "See meter.jpg and notes.txt";
    scan->appendTag(tag);
    const QString scanAssets = scan->folder() + "/assets";
    writeFile(scanAssets + "/notes.txt", "the scan's own notes");
    ASSERT_TRUE(f.property->save());
    EXPECT_EQ(listTree(assets), QStringList({"meter.jpg", "notes.txt", "plan.pdf"})) << "the raw import leaves them";
    f.property->setDirty(false);

    f.log.clear();
    auto again = std::make_unique<Property>();
    ASSERT_TRUE(again->load(f.folder));
    EXPECT_EQ(readFile(scanAssets + "/meter.jpg"), "meter picture");
    EXPECT_EQ(listTree(assets), QStringList({"notes.txt", "plan.pdf"}));
    EXPECT_EQ(readFile(assets + "/plan.pdf"), plan);
    EXPECT_EQ(f.log.texts(QtInfoMsg).filter("_Assets"),
              QStringList{"Kept in _Assets, as no scan holds a copy: notes.txt, plan.pdf"});
    again->setDirty(false);

    // Once every file has its copy, the folder goes.
    writeFile(scanAssets + "/notes.txt", "notes of the field application");
    ASSERT_TRUE(QFile::remove(assets + "/plan.pdf"));
    f.log.clear();
    again = std::make_unique<Property>();
    ASSERT_TRUE(again->load(f.folder));
    EXPECT_FALSE(QFileInfo::exists(assets));
    EXPECT_TRUE(f.log.texts(QtInfoMsg).filter("_Assets").isEmpty());
    again->setDirty(false);
}

TEST(ProjectLoad, RawImportNumbersScansByFolderNameOrder)
{
    LoadFixture fixture;
    for (const char* scan : {"b/s2", "b/s1", "A/s2", "A/s1"})
        makeUserScan(fixture.folder + "/" + scan);
    makeSystemCfg(fixture.folder + "/system.cfg");
    ASSERT_TRUE(fixture.load());
    EXPECT_EQ(fixture.scanIn("A", "s1")->uniqueId(), 1u);
    EXPECT_EQ(fixture.scanIn("A", "s2")->uniqueId(), 2u);
    EXPECT_EQ(fixture.scanIn("b", "s1")->uniqueId(), 10001u);
    EXPECT_EQ(fixture.scanIn("b", "s2")->uniqueId(), 10002u);
}

TEST(ProjectLoad, RecoveredAutosaveStaysDirtyUntilASaveAndAMissingSerialComesFromTheSystemFile)
{
    for (const QMessageBox::StandardButton answer : {QMessageBox::Yes, QMessageBox::No}) {
        LoadFixture fixture;
        fixture.generateVariant("autosave");
        const QString project = fixture.folder + "/quoril.qjs", autosave = fixture.folder + "/~quoril.qjs";
        // The project file without the camera serial: it comes from "system.cfg".
        QJsonObject stored = readProjectFile(project);
        stored.remove("cameraSerialNumber");
        writeProjectFile(project, stored);
        ScriptedPrompt prompt;
        prompt.answerQuestion(answer);
        ASSERT_TRUE(fixture.load());
        EXPECT_EQ(prompt.asked()[0].title, "Autosaved file found");
        EXPECT_TRUE(prompt.asked()[0].text.startsWith("Do you want to recover the version saved at: "));
        EXPECT_EQ(fixture.property->cameraSerialNumber(), "MX0123456789");
        EXPECT_EQ(fixture.property->ownName(), answer == QMessageBox::Yes ? "Maple Street (autosaved)" : "Maple Street");
        EXPECT_EQ(fixture.property->isDirty(), answer == QMessageBox::Yes) << "recovered edits are not saved yet";
        EXPECT_TRUE(QFile::exists(autosave));
        ASSERT_TRUE(fixture.property->save());
        EXPECT_FALSE(QFile::exists(autosave));
        EXPECT_EQ(readProjectFile(project)["name"].toString(), fixture.property->ownName());
    }
}

TEST(ProjectLoad, NewerFormatQuestionLeadsWhereTheAnswerSays)
{
    for (int answer : {-1, 0, 1}) { // cancel, open as-is, re-import
        SCOPED_TRACE(answer);
        LoadFixture fixture;
        fixture.generateVariant("newer-format");
        writeFile(fixture.folder + "/~quoril.qjs", "old autosave");
        ScriptedPrompt prompt;
        prompt.answerQuestion(QMessageBox::No).answerChoice(answer);
        EXPECT_EQ(fixture.load(), answer != -1);
        EXPECT_EQ(prompt.asked().last().title, "Newer project format");
        EXPECT_FALSE(fixture.property->signalsBlocked() || fixture.property->isDirty());
        EXPECT_EQ(fixture.scans().size(), answer == -1 ? 0 : 8);
        EXPECT_EQ(fixture.property->folder().isEmpty(), answer == -1) << "no folder after a cancel: no save";
        EXPECT_EQ(fixture.property->comments(), answer == 0 ? "Generated sample" : "") << "read only as-is";
        EXPECT_EQ(QFile::exists(fixture.folder + "/~quoril.qjs"), answer != 1) << "a re-import clears the caches";
        EXPECT_EQ(fixture.log.contains(QtInfoMsg, "Re-importing project at user request..."), answer == 1);
    }
}

TEST(ProjectLoad, DraftIsReadWithoutAQuestionAndSavedAsTheProjectFile)
{
    LoadFixture fixture;
    fixture.generateVariant("draft");
    ASSERT_TRUE(fixture.load());
    EXPECT_EQ(fixture.property->comments(), "Generated sample");
    EXPECT_EQ(fixture.property->initialPano(), fixture.scanIn("Ground", "User Pano_Ground 1"));
    EXPECT_EQ(readProjectFile(fixture.folder + "/quoril.qjs")["formatVersion"].toInt(), 52);
}

TEST(ProjectLoad, DamagedProjectFileIsKeptAsideAndTheReimportSaysWhatItCannotBringBack)
{
    LoadFixture fixture;
    fixture.generateVariant("corrupt");
    const QByteArray damaged = readFile(fixture.folder + "/quoril.qjs");
    ASSERT_TRUE(fixture.load());
    EXPECT_EQ(fixture.warnings(),
              QStringList{"Could not load Quoril project (" + fixture.folder + "). Reason: Could not parse: "
                          + fixture.folder + "/quoril.qjs\n\nQuoril will try to re-import...\nThe project file was "
                          "kept as: quoril.qjs.damaged\n\nThe re-import cannot bring back what only the project file "
                          "held: the property's name and comments, its buildings and which floors they hold, the "
                          "floors' names, grade levels, wall thicknesses, ceiling heights and portal visibility, the "
                          "notes, reference lines and tags, and the initial pano."});
    EXPECT_EQ(fixture.scans().size(), 8) << "re-imported";
    ASSERT_TRUE(fixture.property->save());
    EXPECT_EQ(readFile(fixture.folder + "/quoril.qjs.damaged"), damaged) << "a save never destroys it";
}

// The project file and its autosave copy stand in for each other: whichever of them is damaged,
// the other is read (and the damaged one kept aside) before anything is re-imported.
TEST(ProjectLoad, ADamagedSavedCopyIsReplacedByTheOtherOneBeforeAnyReimport)
{
    for (const bool projectFileDamaged : {true, false}) {
        SCOPED_TRACE(projectFileDamaged ? "project file damaged" : "autosave copy damaged");
        LoadFixture fixture;
        fixture.generateVariant("autosave");
        const QString damagedName = projectFileDamaged ? "quoril.qjs" : "~quoril.qjs";
        const QByteArray damaged = "\x01 a disk error " + QByteArray(300, 'x');
        writeFile(fixture.folder + "/" + damagedName, damaged);
        ScriptedPrompt prompt;
        // Asked to recover, the user declines when the project file is the damaged one, and accepts
        // when the autosave copy is: each time the copy chosen is the one that cannot be read.
        prompt.answerQuestion(projectFileDamaged ? QMessageBox::No : QMessageBox::Yes);
        ASSERT_TRUE(fixture.load());
        EXPECT_EQ(fixture.property->ownName(), projectFileDamaged ? "Maple Street (autosaved)" : "Maple Street");
        EXPECT_EQ(fixture.property->comments(), "Generated sample") << "not re-imported";
        EXPECT_EQ(fixture.scans().size(), 8);
        const QStringList warnings = fixture.warnings();
        ASSERT_EQ(warnings.size(), 1);
        EXPECT_TRUE(warnings[0].startsWith("Could not read " + fixture.folder + "/" + damagedName + ": Could not parse"))
            << warnings[0].toStdString();
        EXPECT_TRUE(warnings[0].contains(projectFileDamaged ? "(~quoril.qjs) was opened instead. Save the project"
                                                            : "(quoril.qjs) was opened instead."));
        EXPECT_TRUE(warnings[0].endsWith("The damaged file was kept as: " + damagedName + ".damaged"));
        EXPECT_EQ(readFile(fixture.folder + "/" + damagedName + ".damaged"), damaged);
        EXPECT_EQ(fixture.property->isDirty(), projectFileDamaged) << "the autosaved edits are not saved yet";
        ASSERT_TRUE(fixture.property->save());
        EXPECT_EQ(readProjectFile(fixture.folder + "/quoril.qjs")["name"].toString(), fixture.property->ownName());
    }
}

TEST(ProjectLoad, FolderWithoutCameraDataFailsWithItsSignalsWorking)
{
    LoadFixture fixture;
    makeUserScan(fixture.folder + "/Ground/User Pano_1");
    EXPECT_EQ(thrownMessage([&] { fixture.load(); }),
              "Required camera system data is missing. Make sure the project folder is not missing any file.");
    EXPECT_TRUE(fixture.log.contains(QtWarningMsg, "Could not load property (" + fixture.folder + ") completely."));
    EXPECT_TRUE(fixture.log.contains(QtWarningMsg, "does not seem to contain data from ZTM camera systems"));
    EXPECT_FALSE(fixture.property->signalsBlocked()) << "a failed load leaves a property that reports its changes";
    const QString nowhere = fixture.root.filePath("nowhere");
    EXPECT_EQ(thrownMessage([&] { fixture.load(nowhere); }), "Could not find: " + nowhere);
}

TEST(ProjectLoad, FailedScansLeaveTheirFloorsWithinTheLoadAndMapScansAreNotReloaded)
{
    LoadFixture fixture;
    fixture.generate();
    const QString broken = fixture.folder + "/Ground/User Pano_Ground 1";
    writeFile(broken + "/u.jpg", "not a picture");
    writeFile(fixture.folder + "/1st Floor/User Pano_1st Floor 1/u.jpg", "not a picture");
    // A user scan whose picture is gone: its own record still says what it is.
    const QString gone = fixture.folder + "/Basement/User Pano_Basement 2";
    writeProjectFile(gone + "/pano.dat", QJsonObject{{"type", "user"}});
    QFile::remove(gone + "/u.jpg");
    const QString map = fixture.folder + "/Ground/User Pano_Ground 2";
    writeProjectFile(map + "/pano.dat", QJsonObject{{"type", "map"}});
    EXPECT_FALSE(fixture.load()) << "a scan failed to reload";
    EXPECT_EQ(fixture.scans().size(), 8 - 3) << "gone before the load returns";
    EXPECT_EQ(fixture.scanIn("Ground", "User Pano_Ground 1"), nullptr);
    EXPECT_EQ(fixture.scanIn("Basement", "User Pano_Basement 2"), nullptr);
    EXPECT_TRUE(QDir(broken).exists() && QDir(gone).exists());
    const QStringList warnings = fixture.warnings();
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].contains("Could not process pano " + broken + ". "));
    EXPECT_FALSE(warnings[0].contains("Main image is missing")) << "a missing main image is silent";
    ASSERT_NE(fixture.scanIn("Ground", "User Pano_Ground 2"), nullptr);
    EXPECT_EQ(fixture.scanIn("Ground", "User Pano_Ground 2")->panoType(), PanoType::Map);
    EXPECT_FALSE(QFile::exists(map + "/t.pic"));
    ASSERT_TRUE(runPostedJobs());
    EXPECT_FALSE(fixture.property->isDirty());
    EXPECT_EQ(fixture.scans().size(), 8 - 3);
}

// A scan whose main image is missing leaves the tree silently. The project the load saves is the
// tree it shows, placed where the camera data put the scans; the dropped scan's folder is left as
// it was; nothing of this counts as a change of the user's.
TEST(ProjectLoad, ADroppedScanIsNeitherSavedNorWrittenToAndTheLoadedProjectIsUnchanged)
{
    LoadFixture fixture;
    fixture.generate({"--scans-per-floor", "2", "--user-scans", "0", "--lens-height", "64", "--no-pictures"});
    const QString dropped = fixture.folder + "/Basement/002";
    const QStringList droppedFiles = listTree(dropped);
    ASSERT_TRUE(fixture.load()) << fixture.warnings().join("\n").toStdString();
    EXPECT_EQ(fixture.scans().size(), 3 * 2 - 1);
    EXPECT_EQ(fixture.scanIn("Basement", "002"), nullptr);
    EXPECT_EQ(listTree(dropped), droppedFiles) << "no pano.dat or anything else written there";
    QJsonObject saved = readProjectFile(fixture.folder + "/quoril.qjs");
    saved.remove("quorilPlatform");
    const QJsonObject savedScan = readProjectFile(fixture.folder + "/Ground/001/pano.dat");
    ASSERT_TRUE(runPostedJobs());
    EXPECT_FALSE(fixture.property->isDirty());
    EXPECT_EQ(QJsonDocument(saved).toJson(), QJsonDocument(savedTree(*fixture.property)).toJson())
        << "the file saved holds what is shown";
    Panorama* placed = fixture.scanIn("Ground", "001");
    ASSERT_NE(placed, nullptr);
    EXPECT_NE(placed->pos(), QPointF()) << "placed from the camera data";
    EXPECT_EQ(savedScan["pos"].toArray(), (QJsonArray{placed->pos().x(), placed->pos().y()}));
}

TEST(ProjectLoad, CancelEndsEmptyWithoutFolderAndIsReportedAsACancel)
{
    GlobalPoolSize pool(1);
    LoadFixture fixture;
    fixture.generate({"--scans-per-floor", "0", "--user-scans", "12", "--lens-height", "400", "--floors", "2"});
    QTimer poll;
    bool clicked = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        if (!clicked && dialog && dialog->maximum() == 2 * 12 + 2 && dialog->value() >= 1) {
            clicked = true;
            dialog->findChild<QPushButton*>()->click();
        }
    });
    poll.start(2);
    EXPECT_FALSE(fixture.load());
    ASSERT_TRUE(clicked) << "the reload runs behind the modal progress dialog";
    EXPECT_TRUE(fixture.log.contains(QtWarningMsg, "Could not load property (" + fixture.folder + ") completely."));
    EXPECT_TRUE(fixture.log.contains(QtWarningMsg, "Canceled by the user"));
    EXPECT_TRUE(fixture.property->buildings().isEmpty());
    EXPECT_TRUE(fixture.property->folder().isEmpty()) << "no folder, so no save can reach the root";
    EXPECT_FALSE(fixture.property->signalsBlocked() || fixture.property->save());
}

TEST(ProjectLoad, ExportArchiveLoadsIntoTheFolderItsNameAsksFor)
{
    LoadFixture fixture;
    const QString exports = fixture.root.filePath("exports");
    const QJsonObject made = makeProject(exports, userScansOnly + QStringList{"--variant", "archive"});
    ASSERT_TRUE(fixture.load(made["archive"].toString()));
    EXPECT_EQ(fixture.property->folder(), exports + "/Job");
    EXPECT_FALSE(QFile::exists(exports + "/job_export"));
    EXPECT_EQ(fixture.property->ownName(), "Job");
    EXPECT_EQ(fixture.scans().size(), 6) << "the export leaves the Pictures floor out of its project";
    EXPECT_FALSE(QFile::exists(exports + "/Job/quoril.qjs")) << "an export copy is not saved";
    writeFile(fixture.root.filePath("broken.tar"), QByteArray(100, 'x'));
    EXPECT_FALSE(fixture.load(fixture.root.filePath("broken.tar")));
    EXPECT_TRUE(fixture.log.contains(QtCriticalMsg, "Could not process tar file:"));
}

TEST(ProjectLoad, WallThicknessOutsideTheUsualRangeWarns)
{
    for (const auto& [text, warns] :
         {std::pair{"9.9", true}, {"35.1", true}, {"10.0", false}, {"35.0", false}, {"0", false}}) {
        SCOPED_TRACE(text);
        LoadFixture fixture;
        fixture.generate();
        writeFile(fixture.folder + "/1st Floor/wall.txt", QByteArray(text) + "\n");
        ScriptedPrompt prompt;
        if (warns)
            prompt.answerQuestion(QMessageBox::Ok);
        EXPECT_TRUE(fixture.load());
        EXPECT_EQ(prompt.asked().size(), warns ? 1 : 0);
        EXPECT_EQ(prompt.asked().value(0).title, warns ? "Warning" : "");
    }
}

TEST(CustomFileDialog, TakesAFolderItselfAndAFileAsAFile)
{
    QTemporaryDir root;
    const QString project = root.filePath("Project A"), archive = root.filePath("Job-export-data.tar");
    QDir().mkpath(project + "/Ground");
    writeFile(archive, QByteArray(1024, '\0'));
    for (const QString& entry : {project, archive}) {
        CustomFileDialog dialog;
        EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
        dialog.setDirectory(root.path());
        dialog.selectFile(entry);
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << "a folder is accepted, not opened";
        EXPECT_EQ(dialog.selectedFiles(), QStringList{entry});
        EXPECT_EQ(dialog.directory().absolutePath(), QDir(root.path()).absolutePath());
    }
}

TEST(ChooseProjectFolders, AnswersThroughTheSeamAndRemembersTheDirectoryShownAtAccept)
{
    QTemporaryDir root;
    const QString shown = QDir(root.path()).absolutePath(), project = shown + "/Project A";
    QDir().mkpath(project);
    QSettings().setValue("DefaultDir", shown);
    ScriptedPrompt prompt;
    prompt.answerProjectFolders({project}, shown).answerProjectFolders({shown}, shown);
    prompt.answerProjectFolders({project}, project);
    EXPECT_EQ(Property::chooseProjectFolders(nullptr), QStringList{project});
    EXPECT_EQ(prompt.asked().last().text, shown) << "opens in the stored directory";
    EXPECT_EQ(Property::chooseProjectFolders(nullptr), QStringList{shown}) << "accepted with nothing selected";
    EXPECT_EQ(Property::chooseProjectFolders(nullptr), QStringList{project});
    EXPECT_EQ(QSettings().value("DefaultDir").toString(), project);

    // A cancel keeps the stored directory; a stale one falls back to the documents folder.
    QSettings().setValue("DefaultDir", root.filePath("gone"));
    prompt.cancelProjectFolders();
    EXPECT_TRUE(Property::chooseProjectFolders(nullptr).isEmpty());
    EXPECT_EQ(QSettings().value("DefaultDir").toString(), root.filePath("gone"));
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    EXPECT_EQ(prompt.asked().last().text, QDir(documents).exists() ? documents : QString());
}
