#pragma once

#include <QList>

class Panorama;
class Progress;

// The lidar rotation calibration over scans of a project whose camera is the one-lens lidar
// camera (CamParamsZTM5); for scans of any other camera nothing is found.

// The grid search over the scans: azimuth, tilt and cost start at -1, -1 and 10000 and take the
// best trial's values. The scans' lidar files are read once, before the trials run. With a
// progress the trials run on another thread while it waits, showing how many are done; a cancel
// there stops them and leaves the start values (the caller asks the progress whether it was).
void findBestRotation(const QList<Panorama*>& scans, float& azimuth, float& tilt, float& cost,
                      Progress* progress = nullptr);

// The score of one trial over the scans (the mean of their spread scores, -1.0 when none has one),
// each scan's lidar files read for it. A tilt of -0.1 or below scores the scans' outlines as they
// stand instead.
double rotationCost(QList<Panorama*> scans, float azimuth, float tilt);
