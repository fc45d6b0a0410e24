#include "app/main_window.h"
#include "app/message_presenter.h"
#include "camera/cam_params_ztm5.h"
#include "model/panorama.h"
#include "model/property.h"
#include "support/log_capture.h"
#include "support/project_generator.h"
#include "support/room_scene.h"
#include "support/scripted_prompt.h"
#include "support/system_cfg_fixture.h"
#include "support/test_support.h"
#include "support/ztm5_project.h"
#include "viewers/align_dialog.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {
constexpr int kSide = 600;

// A project of the one-lens lidar camera with one scan of the room, whose shots were taken through
// a lens centre 6 px right of where "system.cfg" has it; and a window that has loaded it and
// follows that scan.
struct Ztm5Window {
    QTemporaryDir root;
    QString folder = root.filePath("Lens");
    MainWindow window;

    explicit Ztm5Window(bool textured = true)
    {
        MessagePresenter::setBlockingBoxes(false);
        const QJsonObject description = makeZtm5Project(folder, {"--scans", "1", "--side", QString::number(kSide)});
        makeSystemCfg(folder + "/system.cfg",
                      {"--model", "ztm5", "--serial", description["serial"].toString(), "--width",
                       QString::number(kSide), "--height", QString::number(kSide), "--set", "F=185.8", "--set",
                       "U0=300", "--set", "V0=300", "--set", "RCA=1", "--set", "BCA=1"});
        CamParamsZTM5 real;
        if (!real.loadSystemFile(folder + "/system.cfg"))
            throw std::runtime_error("the calibration file did not load");
        CamParamsOneLens::LensCentre centre = real.lensCentre();
        centre.u += 6.0f, centre.uDouble += 6.0;
        real.setLensCentre(centre);
        writeRoomShots(real, ImageParams{}, RoomScene{textured},
                       folder + "/" + description["scans"].toArray().at(0).toObject().value("dir").toString());

        window.show();
        ScriptedPrompt prompt;
        prompt.answerProjectFolders(QStringList{folder}, root.path());
        window.loadAction()->trigger();
        runPostedJobs();
        window.nextPanoAction()->trigger();
    }
    ~Ztm5Window()
    {
        if (window.currentProperty())
            window.currentProperty()->setDirty(false);
        MessagePresenter::setBlockingBoxes(true);
    }
    CamParamsZTM5* camera() const { return dynamic_cast<CamParamsZTM5*>(window.currentProperty()->camParams()); }
};
} // namespace

TEST(RepairSystemFile, FitsTheCentreOnTheFollowedScanSavesItAndProcessesTheScansAgain)
{
    Ztm5Window f;
    ASSERT_TRUE(f.camera());
    Panorama* pano = f.window.highlightedPano();
    ASSERT_TRUE(pano);
    ASSERT_TRUE(f.window.repairSystemFileAction()->isEnabled());
    const QByteArray old = readFile(f.folder + "/system.cfg");
    QFile::remove(pano->folder() + "/t.pic");

    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Yes).answerQuestion(QMessageBox::Ok);
    f.window.repairSystemFileAction()->trigger();
    runPostedJobs();
    ASSERT_EQ(prompt.asked().size(), 2);
    EXPECT_EQ(prompt.asked()[0].title, "Repair system file");
    EXPECT_TRUE(prompt.asked()[1].text.startsWith("The lens centre is now at")) << prompt.asked()[1].text.toStdString();

    EXPECT_EQ(readFile(f.folder + "/system.orig"), old);
    CamParamsZTM5 saved;
    ASSERT_TRUE(saved.loadSystemFile(f.folder + "/system.cfg"));
    EXPECT_NEAR(saved.lensCentre().u, 306.0f, 1.0f);
    EXPECT_NEAR(saved.lensCentre().v, 300.0f, 1.0f);
    EXPECT_EQ(saved.lensCentre().u, f.camera()->lensCentre().u) << "the project's camera holds what was saved";
    EXPECT_EQ(saved.lensCentre().v, f.camera()->lensCentre().v);
    EXPECT_EQ(saved.timestamp(), QDateTime::currentDateTimeUtc().date().toString("yyyyMMdd").toInt());
    EXPECT_TRUE(QFile::exists(pano->folder() + "/t.pic")) << "the scans were processed again";
}

TEST(RepairSystemFile, ShotsWithoutTextureChangeNothingAndSaySo)
{
    Ztm5Window f(false);
    ASSERT_TRUE(f.camera());
    const CamParamsOneLens::LensCentre before = f.camera()->lensCentre();
    const QByteArray old = readFile(f.folder + "/system.cfg");
    LogCapture log;
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Yes);
    f.window.repairSystemFileAction()->trigger();
    runPostedJobs();
    EXPECT_TRUE(log.contains(QtWarningMsg, "Initial image alignment failed: Not enough texture"));
    EXPECT_EQ(f.camera()->lensCentre(), before);
    EXPECT_EQ(readFile(f.folder + "/system.cfg"), old);
    EXPECT_FALSE(QFile::exists(f.folder + "/system.orig"));
}

// A file that cannot be written leaves the camera as the file on disk has it.
TEST(RepairSystemFile, AFailedSaveKeepsTheCameraAsTheFileHasIt)
{
    Ztm5Window f;
    ASSERT_TRUE(f.camera());
    const CamParamsOneLens::LensCentre before = f.camera()->lensCentre();
    const int stamp = f.camera()->timestamp();
    // No backup can be copied from a folder.
    ASSERT_TRUE(QFile::remove(f.folder + "/system.cfg"));
    ASSERT_TRUE(QDir().mkpath(f.folder + "/system.cfg"));
    LogCapture log;
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Yes);
    f.window.repairSystemFileAction()->trigger();
    runPostedJobs();
    EXPECT_TRUE(log.contains(QtWarningMsg, "Failed to rename system.cfg to system.orig"));
    EXPECT_EQ(f.camera()->lensCentre(), before);
    EXPECT_EQ(f.camera()->timestamp(), stamp);
}

TEST(RepairSystemFile, AnsweringNoChangesNothing)
{
    Ztm5Window f;
    const QByteArray old = readFile(f.folder + "/system.cfg");
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::No);
    f.window.repairSystemFileAction()->trigger();
    EXPECT_EQ(readFile(f.folder + "/system.cfg"), old);
    EXPECT_FALSE(QFile::exists(f.folder + "/system.orig"));
}

// A camera without a lens centre to fit (here the two-lens camera) has no repair to offer.
TEST(RepairSystemFile, IsOnlyOfferedForTheOneLensLidarCamera)
{
    QTemporaryDir root;
    const QString folder = root.filePath("Two lenses");
    makeProject(folder, {"--floors", "1", "--scans-per-floor", "1", "--user-scans", "0", "--lens-height", "64",
                         "--no-pictures", "--no-missing-main-image"});
    MessagePresenter::setBlockingBoxes(false);
    MainWindow window;
    ScriptedPrompt prompt;
    prompt.answerProjectFolders(QStringList{folder}, root.path());
    window.loadAction()->trigger();
    runPostedJobs();
    window.nextPanoAction()->trigger();
    ASSERT_TRUE(window.highlightedPano());
    EXPECT_FALSE(window.repairSystemFileAction()->isEnabled());
    EXPECT_TRUE(window.adjustPanoAction()->isEnabled());
    window.currentProperty()->setDirty(false);
    MessagePresenter::setBlockingBoxes(true);
}

TEST(AdjustPano, KeyAOpensTheAlignDialogOnTheFollowedScan)
{
    Ztm5Window f;
    ASSERT_TRUE(f.window.highlightedPano());
    EXPECT_EQ(f.window.adjustPanoAction()->shortcut(), QKeySequence(Qt::Key_A));
    ScriptedPrompt prompt;
    bool shown = false;
    prompt.answerDialog([&shown](QDialog* dialog) {
        auto* align = qobject_cast<AlignDialog*>(dialog);
        shown = align && !align->preview().isNull() && align->autoVerticalsButton()->isEnabled();
        return int(QDialog::Rejected);
    });
    f.window.adjustPanoAction()->trigger();
    EXPECT_TRUE(shown);
}
