#pragma once

#include "camera/cam_params_ztm5.h"

#include <QList>
#include <QPoint>

#include <atomic>
#include <vector>

// The search for the small calibration rotation of the one-lens camera's lidar under which the
// sweeps of several scans agree best: a grid of 21 x 21 small tilts in every direction, each
// scored by how far the points' distances spread within quarter-degree sectors.
namespace lidarcalibration {
constexpr int kGridRadius = 10;
constexpr int kTrialCount = (2 * kGridRadius + 1) * (2 * kGridRadius + 1);
constexpr int kProfileSectors = 1440;
// Millimetres: a sector spreading further than this is a corner or an opening, not a wall.
constexpr double kSpreadCap = 200.0;
} // namespace lidarcalibration

// The spread score of one scan's points. profile.size() sectors divide the circle (1440 in the
// search); every entry is written: the sector's spread of distances capped at `cap`, or -1.0 for
// a sector with fewer than two points. The result is the root mean square of the written spreads,
// or -1.0 when no sector has two points.
double profileCost(const QList<QPoint>& points, double cap, QList<double>& profile);

// One trial of the grid: the tilt's direction (phase) and size (amplitude), radians.
struct RotationTrial {
    float azimuth = 0.0f;
    float tilt = 0.0f;
};

// Trial `index` in search order: the offset (j, i) in thousandths, i the outer and j the inner
// loop, each from -10 to 10.
RotationTrial rotationTrial(int index);

// What a search found; the start values (-1, -1, 10000) when no trial was accepted.
struct RotationSearchResult {
    float azimuth = -1.0f;
    float tilt = -1.0f;
    float cost = 10000.0f;
};

// The choice over all trials' costs in search order, as a serial search makes it: a finite cost
// of at least -0.1 that is no greater than the best so far replaces it, so a tie goes to the later
// trial and a trial without data (-1.0) never wins.
RotationSearchResult chooseRotationTrial(const std::vector<double>& costs);

// The mean of the scans' spread scores under one trial, -1.0 when no scan has one.
double rotationCost(const CamParamsZTM5& model, const std::vector<LidarScanSweeps>& scans, float azimuth,
                    float tilt);

// A running search as another thread sees it, and how that thread stops it.
struct RotationSearchControl {
    std::atomic<int> trialsDone{0};
    std::atomic<bool> cancel{false};
};

// Scores every trial, in parallel, and chooses as chooseRotationTrial does. False, with `result`
// untouched, when the control's cancel was set before the last trial ended.
bool findBestRotation(const CamParamsZTM5& model, const std::vector<LidarScanSweeps>& scans,
                      RotationSearchResult& result, RotationSearchControl* control = nullptr);

// The calibration rotation (vc0, vc1) that, read without a trial, turns the returns as the old one
// did with the trial (azimuth, tilt) on top; the turn's offset VC2 is unchanged by a trial.
void composeCalibrationRotation(float& vc0, float& vc1, float azimuth, float tilt);

// Takes an accepted trial into the model's calibration rotation and writes the calibration file
// at `systemCfgPath` (keeping its one-time original copy). When the file cannot be written the
// model keeps the rotation it had, and the failure is thrown with its text for the user.
void acceptCalibrationTrial(CamParamsZTM5& model, const QString& systemCfgPath, float azimuth, float tilt);
