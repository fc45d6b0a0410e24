#include "model/lidar_calibration.h"

#include "base/progress.h"
#include "camera/lidar_rotation_search.h"
#include "model/panorama.h"
#include "model/property.h"

#include <QFutureWatcher>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <memory>
#include <vector>

namespace {
constexpr float kLeastTrialTilt = -0.1f;
constexpr int kProgressIntervalMs = 100;

const CamParamsZTM5* lidarCamera(const QList<Panorama*>& scans)
{
    for (const Panorama* pano : scans)
        if (const Property* property = pano ? pano->idRegistry() : nullptr)
            return dynamic_cast<const CamParamsZTM5*>(property->camParams());
    return nullptr;
}

// The trials on a thread of their own, so that the waiting progress keeps answering its Cancel.
bool searchBehindProgress(const CamParamsZTM5& model, const std::vector<LidarScanSweeps>& sweeps,
                          RotationSearchResult& result, Progress& progress)
{
    // Shared with the cancel handler, which the progress may keep after this returns.
    const auto control = std::make_shared<RotationSearchControl>();
    progress.setRange(0, lidarcalibration::kTrialCount);
    progress.setCancelHandler([control] { control->cancel = true; });
    QTimer ticker;
    ticker.setInterval(kProgressIntervalMs);
    QObject::connect(&ticker, &QTimer::timeout, [&progress, control] { progress.setValue(control->trialsDone); });
    QThreadPool pool;
    pool.setMaxThreadCount(1);
    QFutureWatcher<bool> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, [&progress] { progress.finish(); });
    RotationSearchResult found;
    watcher.setFuture(QtConcurrent::run(&pool, [&model, &sweeps, &found, control] {
        return findBestRotation(model, sweeps, found, control.get());
    }));
    ticker.start();
    progress.waitUntilFinished();
    ticker.stop();
    if (progress.wasCancelled())
        control->cancel = true;
    watcher.waitForFinished();
    watcher.disconnect();
    progress.setValue(control->trialsDone);
    if (!watcher.result())
        return false;
    result = found;
    return true;
}
} // namespace

void findBestRotation(const QList<Panorama*>& scans, float& azimuth, float& tilt, float& cost, Progress* progress)
{
    azimuth = -1.0f;
    tilt = -1.0f;
    cost = 10000.0f;
    const CamParamsZTM5* model = lidarCamera(scans);
    if (!model)
        return;
    std::vector<LidarScanSweeps> sweeps;
    sweeps.reserve(size_t(scans.size()));
    for (const Panorama* pano : scans)
        sweeps.push_back(model->readLidarScan(pano->folder(), pano->imageParams()));
    RotationSearchResult result;
    const bool searched = progress ? searchBehindProgress(*model, sweeps, result, *progress)
                                   : findBestRotation(*model, sweeps, result);
    if (!searched)
        return;
    azimuth = result.azimuth;
    tilt = result.tilt;
    cost = result.cost;
}

double rotationCost(QList<Panorama*> scans, float azimuth, float tilt)
{
    const CamParamsZTM5* model = lidarCamera(scans);
    double sum = 0.0;
    int collected = 0;
    for (const Panorama* pano : std::as_const(scans)) {
        QList<QPoint> points = pano->outline();
        if (tilt > kLeastTrialTilt) {
            if (!model)
                continue;
            model->rotatePointCloud(points, pano->folder(), pano->imageParams(), azimuth, tilt);
        }
        QList<double> profile(lidarcalibration::kProfileSectors, -1.0);
        const double scanCost = profileCost(points, lidarcalibration::kSpreadCap, profile);
        if (scanCost >= 0) {
            sum += scanCost;
            ++collected;
        }
    }
    return collected > 0 ? sum / collected : -1.0;
}
