#include "app/main_window.h"
#include "app/message_presenter.h"
#include "camera/cam_params_ztm5.h"
#include "editor/editor.h"
#include "model/building.h"
#include "app/property_tree_model.h"
#include "model/floor.h"
#include "model/lidar_calibration.h"
#include "model/panorama.h"
#include "model/pointcloud_file.h"
#include "model/property.h"
#include "support/project_generator.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"
#include "support/window_fixture.h"
#include "support/ztm5_project.h"

#include <QAction>
#include <QApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

using namespace testsupport;

namespace {

constexpr double kPlantedAzimuth = 0.64350110879328437; // atan2(3, 4): grid offset (4, -3)
constexpr double kPlantedTilt = 0.0049999583339583; // atan2(5, 1000)

// What the floor showed while the calibration question was open.
class ObservingPrompt : public ScriptedPrompt {
public:
    explicit ObservingPrompt(MainWindow& window) : m_window(window) {}
    Button question(QWidget* parent, Icon icon, const QString& title, const QString& text, Buttons buttons,
                    Button defaultButton) override
    {
        if (buttons & Yes) {
            for (Panorama* pano : m_window.currentProperty()->buildings()[0]->floors()[0]->panos())
                outlinesAsked << pano->outline();
            trialAppliedAsked = m_window.currentProperty()->trialCalibrationApplied();
        }
        return ScriptedPrompt::question(parent, icon, title, text, buttons, defaultButton);
    }
    QList<QList<QPoint>> outlinesAsked;
    bool trialAppliedAsked = false;

private:
    MainWindow& m_window;
};

// A window holding a project of the one-lens lidar camera whose lidar is off by a planted turn.
struct CalibrationWindow {
    QTemporaryDir root;
    QString folder = root.filePath("Elm Row");
    MainWindow window;
    QByteArray systemCfg;
    QJsonObject project;

    explicit CalibrationWindow(bool planted = true)
    {
        MessagePresenter::setBlockingBoxes(false);
        // Shots with nothing to align by: the shots keep the lidar's turns, which the search starts from.
        QStringList options{"--scans", "3", "--plain-shots"};
        if (planted)
            options << "--calib-azimuth" << QString::number(kPlantedAzimuth, 'g', 17) << "--calib-tilt"
                    << QString::number(kPlantedTilt, 'g', 17);
        project = makeZtm5Project(folder, options);
        systemCfg = readFile(folder + "/system.cfg");
        window.show();
        load();
    }
    void load()
    {
        ScriptedPrompt prompt;
        prompt.answerProjectFolders({folder}, root.path());
        window.loadAction()->trigger();
        runPostedJobs();
    }
    ~CalibrationWindow()
    {
        if (window.currentProperty())
            window.currentProperty()->setDirty(false);
        MessagePresenter::setBlockingBoxes(true);
    }
    QList<Panorama*> scans() const { return window.currentProperty()->buildings()[0]->floors()[0]->panos(); }
    void selectScans()
    {
        for (Panorama* pano : scans())
            pano->setSelected(true);
    }
    QList<QList<QPoint>> outlines() const
    {
        QList<QList<QPoint>> out;
        for (Panorama* pano : scans())
            out << pano->outline();
        return out;
    }
    CamParamsZTM5& camera() const { return dynamic_cast<CamParamsZTM5&>(*window.currentProperty()->camParams()); }
};

// How many points of `outline` lie more than `tolerance` millimetres from every point of
// `reference` near the same place in its list (the jump filter may keep a borderline return in
// one and drop it in the other, so the lists need not pair up one to one).
int pointsApart(const QList<QPoint>& outline, const QList<QPoint>& reference, int tolerance)
{
    int apart = 0;
    for (qsizetype n = 0; n < outline.size(); ++n) {
        int nearest = INT_MAX;
        for (qsizetype m = std::max<qsizetype>(0, n - 8); m < std::min(reference.size(), n + 9); ++m)
            nearest = std::min(nearest, (reference[m] - outline[n]).manhattanLength());
        apart += nearest > tolerance;
    }
    return apart;
}

// A scan's first sweep: its outline up to the first repeated point. No turn of the scan's shots
// moves it, so it is the lidar's calibration alone that places it.
QList<QPoint> firstSweep(const QList<QPoint>& outline)
{
    qsizetype n = 1;
    while (n < outline.size() && outline[n] != outline[n - 1])
        ++n;
    return outline.mid(0, n);
}

// How far the points of a scan's first sweep lie from the room's walls on average, millimetres.
double firstSweepWallDistance(const QList<QPoint>& outline, const QJsonArray& room)
{
    const QList<QPoint> sweep = firstSweep(outline);
    double sum = 0.0;
    for (const QPoint& point : sweep)
        sum += distanceToPolygon(room, point);
    return sweep.isEmpty() ? 1e9 : sum / double(sweep.size());
}

QList<float> calibrationRotation(const CamParamsZTM5& model)
{
    float vc0 = 0, vc1 = 0, vc2 = 0;
    model.calibRotation(vc0, vc1, vc2);
    return {vc0, vc1, vc2};
}

} // namespace

// The person keeps the rotation found: it is written to "system.cfg" beside the original, and the
// floor, which showed the trial while they were asked, shows the camera's calibration, now the
// kept one.
TEST(LidarCalibrationCommand, AKeptRotationIsWrittenWithTheOriginalKept)
{
    CalibrationWindow w;
    ASSERT_EQ(w.scans().size(), 3);
    const QList<QList<QPoint>> loaded = w.outlines();
    w.selectScans();
    ASSERT_TRUE(w.window.calibRotAction()->isEnabled());
    {
        ObservingPrompt prompt(w.window);
        prompt.answerQuestion(QMessageBox::Yes);
        w.window.calibRotAction()->trigger();
        ASSERT_EQ(prompt.asked().size(), 1);
        EXPECT_EQ(prompt.asked()[0].title, "Lidar calibration");
        EXPECT_TRUE(prompt.trialAppliedAsked);
        ASSERT_EQ(prompt.outlinesAsked.size(), 3);
        for (int k = 0; k < 3; ++k)
            EXPECT_NE(prompt.outlinesAsked[k], loaded[k]) << "the trial shows on the floor";
    }
    EXPECT_FALSE(w.window.currentProperty()->trialCalibrationApplied());
    EXPECT_NE(w.outlines(), loaded);

    EXPECT_EQ(readFile(w.folder + "/system.orig"), w.systemCfg);
    CamParamsZTM5 written;
    ASSERT_TRUE(written.loadSystemFile(w.folder + "/system.cfg"));
    const QList<float> rotation = calibrationRotation(written);
    EXPECT_EQ(rotation, calibrationRotation(w.camera()));
    // The found turn lies within a grid step or two of the planted one (the shots' turns are the
    // lidar heading estimate's, good to a quarter degree); it is written as its opposite phasor.
    EXPECT_NEAR(rotation[1], kPlantedTilt, 0.0025);
    EXPECT_NEAR(std::remainder(double(rotation[0]) - kPlantedAzimuth - M_PI, 2 * M_PI), 0.0, 0.6);
    EXPECT_EQ(rotation[2], 0.0f);
}

// After Yes the floor shows the outlines under the kept calibration, those shown while the person
// was asked; the scans' point clouds hold them, and they come back after reopening and after
// "Re-import". A search run at once finds nothing more to turn than a grid step.
TEST(LidarCalibrationCommand, AKeptRotationShowsOnTheFloorAndStaysWithTheProject)
{
    CalibrationWindow w;
    const QList<QList<QPoint>> loaded = w.outlines();
    w.selectScans();
    QList<QList<QPoint>> asked;
    {
        ObservingPrompt prompt(w.window);
        prompt.answerQuestion(QMessageBox::Yes);
        w.window.calibRotAction()->trigger();
        asked = prompt.outlinesAsked;
    }
    ASSERT_EQ(asked.size(), 3);
    const QList<QList<QPoint>> kept = w.outlines();
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        EXPECT_NEAR(double(kept[k].size()), double(asked[k].size()), 8.0);
        EXPECT_LE(pointsApart(kept[k], asked[k], 2), kept[k].size() / 500) << "the trial's outline, kept";
        EXPECT_GT(pointsApart(kept[k], loaded[k], 2), kept[k].size() / 4) << "not the old calibration's";
        const QJsonArray room = w.project["scans"][k]["outline"].toArray();
        EXPECT_LT(firstSweepWallDistance(kept[k], room), 0.6 * firstSweepWallDistance(loaded[k], room));
        QList<QPoint> cloud;
        ASSERT_TRUE(readPointcloudFile(w.scans()[k]->existingFilePath(QLatin1String("pc.dat")), cloud));
        EXPECT_EQ(cloud, kept[k]);
    }

    float azimuth = 0, tilt = 0, cost = 0;
    findBestRotation(w.scans(), azimuth, tilt, cost);
    EXPECT_GE(tilt, 0.0f);
    EXPECT_LE(tilt, std::atan(std::sqrt(2.0f) / 1000.0f) * 1.0001f) << "the identity trial or a neighbour of it";

    // Reopened as saved.
    ASSERT_TRUE(w.window.currentProperty()->save());
    w.load();
    ASSERT_EQ(w.scans().size(), 3);
    EXPECT_EQ(w.outlines(), kept);

    // Re-imported from the camera's files: the scans' turns are estimated afresh, under the kept
    // calibration.
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Yes);
    treeMenu(*w.window.treeView(), w.window.treeModel()->index(0, 0), "Re-import");
    runPostedJobs();
    EXPECT_EQ(prompt.pending(), 0);
    ASSERT_EQ(w.scans().size(), 3);
    const QList<QList<QPoint>> reimported = w.outlines();
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(firstSweep(reimported[k]), firstSweep(kept[k]));
        const QJsonArray room = w.project["scans"][k]["outline"].toArray();
        EXPECT_LT(firstSweepWallDistance(reimported[k], room), 0.6 * firstSweepWallDistance(loaded[k], room))
            << "closer to the walls than under the old calibration";
    }
}

TEST(LidarCalibrationCommand, ARejectedOrCancelledSearchLeavesTheFileAndTheOutlines)
{
    CalibrationWindow w;
    const QList<QList<QPoint>> loaded = w.outlines();
    const QList<float> rotation = calibrationRotation(w.camera());
    w.selectScans();
    {
        ObservingPrompt prompt(w.window);
        prompt.answerQuestion(QMessageBox::No);
        w.window.calibRotAction()->trigger();
        EXPECT_EQ(prompt.pending(), 0);
        EXPECT_TRUE(prompt.trialAppliedAsked);
    }
    EXPECT_FALSE(w.window.currentProperty()->trialCalibrationApplied());
    EXPECT_EQ(w.outlines(), loaded);
    EXPECT_EQ(readFile(w.folder + "/system.cfg"), w.systemCfg);
    EXPECT_FALSE(QFileInfo::exists(w.folder + "/system.orig"));
    EXPECT_EQ(calibrationRotation(w.camera()), rotation);

    // Cancelled in the progress dialog: no question follows and nothing changes.
    bool clicked = false;
    QTimer clicker;
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QProgressDialog*>(widget);
                dialog && dialog->isVisible() && dialog->windowTitle() == "Lidar calibration" && !clicked) {
                dialog->findChild<QPushButton*>()->click();
                clicked = true;
            }
    });
    clicker.start(5);
    {
        ScriptedPrompt prompt; // any question would fail the test
        w.window.calibRotAction()->trigger();
    }
    clicker.stop();
    EXPECT_TRUE(clicked);
    EXPECT_FALSE(w.window.currentProperty()->trialCalibrationApplied());
    EXPECT_EQ(w.outlines(), loaded);
    EXPECT_EQ(readFile(w.folder + "/system.cfg"), w.systemCfg);
    EXPECT_FALSE(QFileInfo::exists(w.folder + "/system.orig"));
}

// A file that cannot be written is reported, and the model keeps the rotation the file holds.
TEST(LidarCalibrationCommand, AFailedWriteIsShownAndTheModelKeepsItsRotation)
{
    CalibrationWindow w;
    const QList<float> rotation = calibrationRotation(w.camera());
    ASSERT_TRUE(QFile::remove(w.folder + "/system.cfg"));
    ASSERT_TRUE(QDir().mkpath(w.folder + "/system.cfg"));
    w.selectScans();
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Yes).answerQuestion(QMessageBox::Ok);
    w.window.calibRotAction()->trigger();
    ASSERT_EQ(prompt.asked().size(), 2);
    EXPECT_EQ(prompt.asked()[1].text, "Failed to rename system.cfg to system.orig");
    EXPECT_EQ(calibrationRotation(w.camera()), rotation);
    EXPECT_FALSE(w.window.currentProperty()->trialCalibrationApplied());
}

TEST(LidarCalibrationCommand, WithoutAnErrorNothingIsOfferedAndNoSelectionIsTold)
{
    {
        CalibrationWindow w(false);
        const QList<QList<QPoint>> loaded = w.outlines();
        w.selectScans();
        ScriptedPrompt prompt;
        prompt.answerQuestion(QMessageBox::Ok);
        w.window.calibRotAction()->trigger();
        ASSERT_EQ(prompt.asked().size(), 1);
        EXPECT_TRUE(prompt.asked()[0].text.contains("needs no new calibration")) << prompt.asked()[0].text.toStdString();
        EXPECT_EQ(w.outlines(), loaded);
        EXPECT_EQ(readFile(w.folder + "/system.cfg"), w.systemCfg);

        // Nothing selected.
        for (Panorama* pano : w.scans())
            pano->setSelected(false);
        prompt.answerQuestion(QMessageBox::Ok);
        w.window.calibRotAction()->trigger();
        ASSERT_EQ(prompt.asked().size(), 2);
        EXPECT_EQ(prompt.asked()[1].text, "Select the scans to calibrate the lidar with on the floor first.");
    }

}

// As "Install camera update" is, "Calibrate lidar" is offered only for projects of the camera with
// the lidar: not without a project, nor for the two-lens or the laser-line camera.
TEST(LidarCalibrationCommand, OfferedOnlyForTheLidarCamerasProjects)
{
    QTemporaryDir root;
    ProjectWindow w;
    QAction* calibrate = w.window.calibRotAction();
    EXPECT_FALSE(calibrate->isEnabled()) << "no project";
    const QString lidar = root.filePath("Lidar");
    makeZtm5Project(lidar, {"--scans", "1", "--plain-shots"});
    w.load(lidar);
    ASSERT_NE(w.window.currentProperty(), nullptr);
    EXPECT_TRUE(calibrate->isEnabled());

    const QString twoLens = root.filePath("Two lenses");
    const QString laserLine = root.filePath("Laser lines");
    makeProject(twoLens, {"--scans-per-floor", "1", "--lens-height", "64"});
    makeProject(laserLine, {"--camera", "laser-line", "--floors", "1", "--scans-per-floor", "1", "--user-scans", "0",
                            "--lens-height", "64"});
    for (const QString& folder : {twoLens, laserLine}) {
        SCOPED_TRACE(folder.toStdString());
        w.window.currentProperty()->setDirty(false);
        w.load(folder);
        ASSERT_NE(w.window.currentProperty(), nullptr);
        ASSERT_FALSE(w.window.editor()->floor()->panos().isEmpty());
        EXPECT_FALSE(calibrate->isEnabled());
        for (Panorama* pano : w.window.editor()->floor()->panos())
            pano->setSelected(true);
        ScriptedPrompt nothingAsked;
        calibrate->trigger();
        EXPECT_FALSE(QFileInfo::exists(folder + "/system.orig"));
    }
}
