#include "base/progress.h"
#include "camera/cam_params_ztm5.h"
#include "camera/lidar_rotation_search.h"
#include "model/building.h"
#include "model/floor.h"
#include "model/lidar_calibration.h"
#include "model/panorama.h"
#include "model/property.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/scan_placement.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"
#include "support/ztm5_project.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;

namespace {

// A project of the one-lens lidar camera with three scans, loaded; the lidar carries the error
// of grid offset (4, -3) unless told otherwise.
struct LoadedLidarProject {
    QTemporaryDir root;
    QString folder = root.filePath("Elm Row");
    Property property;

    explicit LoadedLidarProject(bool planted = true)
    {
        QStringList options{"--scans", "3"};
        if (planted)
            options << "--calib-azimuth" << QString::number(std::atan2(3.0, 4.0), 'g', 17) << "--calib-tilt"
                    << QString::number(std::atan2(5.0, 1000.0), 'g', 17);
        makeZtm5Project(folder, options);
        ScriptedPrompt prompt;
        if (!property.load(folder) || !runPostedJobs())
            throw std::runtime_error("the generated project does not load");
    }
    QList<Panorama*> scans()
    {
        QList<Panorama*> out;
        for (Building* building : property.buildings())
            for (Floor* floor : building->floors())
                out += floor->panos();
        return out;
    }
    QList<QList<QPoint>> outlines()
    {
        QList<QList<QPoint>> out;
        for (Panorama* pano : scans())
            out << pano->outline();
        return out;
    }
    const CamParamsZTM5& camera() const { return dynamic_cast<const CamParamsZTM5&>(*property.camParams()); }
};

// Takes the lidar files away once the search has started: whatever it finds after that came
// from what it read before.
class FileRemovingProgress : public HeadlessProgress {
public:
    explicit FileRemovingProgress(QStringList files) : HeadlessProgress({}), m_files(std::move(files)) {}
    void setRange(int minimum, int maximum) override
    {
        HeadlessProgress::setRange(minimum, maximum);
        for (const QString& file : std::as_const(m_files))
            removed += QFile::remove(file);
    }
    int removed = 0;

private:
    QStringList m_files;
};

} // namespace

TEST(LidarCalibration, TheSearchOverScansReadsTheirLidarOnceAndFindsWhatTheCameraSearchFinds)
{
    LoadedLidarProject project;
    const QList<Panorama*> scans = project.scans();
    ASSERT_EQ(scans.size(), 3);
    std::vector<LidarScanSweeps> sweeps;
    QStringList lidarFiles;
    for (Panorama* pano : scans) {
        sweeps.push_back(project.camera().readLidarScan(pano->folder(), pano->imageParams()));
        for (const char* name : {"pts1.dat", "pts2.dat", "pts3.dat"})
            lidarFiles << pano->folder() + "/" + name;
    }
    RotationSearchResult expected;
    ASSERT_TRUE(findBestRotation(project.camera(), sweeps, expected));
    ASSERT_GT(expected.tilt, 0.0f) << "the planted error shows";
    // The score of one trial, the scans' lidar files read for it.
    EXPECT_EQ(float(rotationCost(scans, expected.azimuth, expected.tilt)), expected.cost);

    FileRemovingProgress progress(lidarFiles);
    float azimuth = 0, tilt = 0, cost = 0;
    findBestRotation(scans, azimuth, tilt, cost, &progress);
    EXPECT_EQ(progress.removed, 9);
    EXPECT_FALSE(progress.wasCancelled());
    EXPECT_EQ(azimuth, expected.azimuth);
    EXPECT_EQ(tilt, expected.tilt);
    EXPECT_EQ(cost, expected.cost);
    EXPECT_EQ(progress.request().maximum, 441);
    EXPECT_EQ(progress.value(), 441);
}

TEST(LidarCalibration, ACancelledSearchFindsNothingAndScansOfOtherCamerasFindNothingEither)
{
    LoadedLidarProject project;
    HeadlessProgress progress({});
    QTimer::singleShot(0, [&] { progress.cancel(); });
    float azimuth = 0, tilt = 0, cost = 0;
    findBestRotation(project.scans(), azimuth, tilt, cost, &progress);
    EXPECT_TRUE(progress.wasCancelled());
    EXPECT_LT(progress.value(), 441);
    EXPECT_EQ(QList<float>({azimuth, tilt, cost}), QList<float>({-1, -1, 10000}));

    ProjectFixture f;
    Floor* floor = f.addFloor(f.addBuilding("House"), "Ground");
    Panorama* scan = placeScan(floor, "s1", PanoType::Full, {0, 0}, 0, {{1000, 0}, {1010, 1}});
    findBestRotation({scan}, azimuth, tilt, cost);
    EXPECT_EQ(QList<float>({azimuth, tilt, cost}), QList<float>({-1, -1, 10000}));
    findBestRotation({}, azimuth, tilt, cost);
    EXPECT_EQ(cost, 10000.0f);
}

// Below the grid's tilts a trial scores the outlines the scans hold, without their lidar files.
TEST(LidarCalibration, ATrialBelowTheGridScoresTheOutlinesAsTheyStand)
{
    ProjectFixture f;
    Floor* floor = f.addFloor(f.addBuilding("House"), "Ground");
    // Spreads of 6 and of 300 (capped at 200) in one sector each; the third scan has none.
    Panorama* first = placeScan(floor, "s1", PanoType::Full, {0, 0}, 0, {{1000, 0}, {1006, 0}});
    Panorama* second = placeScan(floor, "s2", PanoType::Full, {0, 0}, 0, {{0, -700}, {0, -1000}});
    Panorama* empty = placeScan(floor, "s3", PanoType::Full, {0, 0}, 0, {{0, -700}});
    EXPECT_DOUBLE_EQ(rotationCost({first, second, empty}, 0.0f, -0.1f), (6.0 + 200.0) / 2);
    EXPECT_EQ(rotationCost({empty}, 0.0f, -1.0f), -1.0);
    // Above it, the scans' lidar files count, and these scans have none.
    EXPECT_EQ(rotationCost({first, second}, 0.0f, 0.0f), -1.0);
}

// A trial shows on every full scan's outline; the camera's own calibration brings back exactly the
// outlines the load read. A scan without the camera's files (as an export archive brings it) keeps
// its outline throughout instead of taking an empty one.
TEST(LidarCalibration, TrialAndRestoreChangeOnlyScansWithLidarFilesAndRestoreThemExactly)
{
    LoadedLidarProject project;
    const QList<Panorama*> scans = project.scans();
    Panorama* exported = scans[1];
    for (const QString& name : QDir(exported->folder()).entryList({"*.jpg", "pts*.dat"}, QDir::Files))
        ASSERT_TRUE(QFile::remove(exported->folder() + "/" + name));
    const QList<QList<QPoint>> loaded = project.outlines();

    project.property.applyCalibrationRotation(std::atan2(3.0f, 4.0f), 0.005f, 0.0f);
    EXPECT_TRUE(project.property.trialCalibrationApplied());
    const QList<QList<QPoint>> trial = project.outlines();
    EXPECT_NE(trial[0], loaded[0]);
    EXPECT_NE(trial[2], loaded[2]);
    EXPECT_EQ(trial[1], loaded[1]);

    project.property.applyCalibrationRotation(0.0f, -1.0f, 0.0f);
    EXPECT_FALSE(project.property.trialCalibrationApplied());
    EXPECT_EQ(project.outlines(), loaded);
}
