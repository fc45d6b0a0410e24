// The lidar rotation calibration search of the one-lens lidar camera: all 441 trials over three
// scans of 20 000 lidar points each (three files of 6 667 records), the lidar files read once,
// on one thread and on every core; beside it the search as first written, every scan's lidar
// files read again for each trial, on one thread.
#include "camera/cam_params_ztm5.h"
#include "camera/lidar_rotation_search.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <omp.h>

#include <array>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

namespace {
constexpr int kScans = 3;
constexpr int kRecordsPerFile = 6667;
constexpr double kPi = 3.14159265358979323846;
constexpr double kPivot = 26.0;
// The lidar's planted calibration error: grid offset (4, -3).
const double kPlantedAzimuth = std::atan2(3.0, 4.0);
const double kPlantedTilt = std::atan2(5.0, 1000.0);

// An L-shaped room (mm, y down) seen from `at`: distance to its walls along angle a (atan2(-y, x)).
double roomDistance(double a, double atX, double atY)
{
    static const double room[][2] = {{-2600, -1900}, {1300, -1900}, {1300, -700}, {3100, -700}, {3100, 2300}, {-2600, 2300}};
    const double dx = std::cos(a), dy = -std::sin(a);
    double best = 1e9;
    for (int i = 0; i < 6; ++i) {
        const double ax = room[i][0] - atX, ay = room[i][1] - atY;
        const double ex = room[(i + 1) % 6][0] - room[i][0], ey = room[(i + 1) % 6][1] - room[i][1];
        const double denom = dx * ey - dy * ex;
        if (std::fabs(denom) < 1e-12)
            continue;
        const double t = (ax * ey - ay * ex) / denom, u = (ax * dy - ay * dx) / denom;
        if (t > 0 && u >= 0 && u <= 1)
            best = std::min(best, t);
    }
    return best;
}

// One lidar file: records (x, y up) of the room, turned by `turn` degrees, recorded through the
// planted calibration error.
QByteArray lidarFile(double atX, double atY, double turn, double start, std::mt19937& random)
{
    std::normal_distribution<double> noise(0.0, 1.0);
    QByteArray bytes;
    const float heading = 0.3f;
    bytes.append(reinterpret_cast<const char*>(&heading), 4);
    for (int i = 0; i < kRecordsPerFile; ++i) {
        const double own = (i + start) * 360.0 / kRecordsPerFile;
        const double d = roomDistance((own + turn) * kPi / 180.0, atX, atY) + noise(random);
        const double qx = d * std::cos(own * kPi / 180.0), qy = d * std::sin(own * kPi / 180.0) + kPivot;
        const double r = std::hypot(qx, qy), truth = std::atan2(qy, qx);
        double a = truth;
        for (int k = 0; k < 30; ++k)
            a = truth - kPlantedTilt * std::sin(a + kPlantedAzimuth);
        const float xy[2] = {float(r * std::cos(a)), float(r * std::sin(a) - kPivot)};
        bytes.append(reinterpret_cast<const char*>(xy), 8);
    }
    return bytes;
}

struct Scans {
    QTemporaryDir dir;
    QStringList folders;
    std::vector<ImageParams> params;
    CamParamsZTM5 model;

    Scans()
    {
        const double at[kScans][2] = {{-400, 300}, {500, 800}, {-1800, 1300}};
        const double yaw3[kScans] = {1.6, -3.1, 4.45}, yaw2[kScans] = {-2.35, 0.9, -0.55};
        std::mt19937 random(5);
        for (int s = 0; s < kScans; ++s) {
            const QString folder = dir.filePath(QString::number(s));
            QDir().mkpath(folder);
            const double turns[3] = {0.0, 240.0 + yaw3[s], 120.0 + yaw2[s]};
            for (int k = 0; k < 3; ++k) {
                QFile file(QString("%1/pts%2.dat").arg(folder).arg(k + 1));
                if (!file.open(QIODevice::WriteOnly))
                    std::abort();
                file.write(lidarFile(at[s][0], at[s][1], turns[k], 0.13 + 0.29 * k, random));
            }
            ImageParams p;
            p[ImageParams::YAW_3] = float(yaw3[s] * kPi / 180);
            p[ImageParams::YAW_2] = float(yaw2[s] * kPi / 180);
            folders << folder;
            params.push_back(p);
        }
    }
};

Scans& scans()
{
    static Scans s;
    return s;
}

void BM_FindBestRotation(benchmark::State& state)
{
    Scans& s = scans();
    omp_set_num_threads(static_cast<int>(state.range(0)));
    qsizetype points = 0;
    for (auto _ : state) {
        std::vector<LidarScanSweeps> sweeps;
        for (int k = 0; k < kScans; ++k)
            sweeps.push_back(s.model.readLidarScan(s.folders[k], s.params[size_t(k)]));
        RotationSearchResult found;
        findBestRotation(s.model, sweeps, found);
        benchmark::DoNotOptimize(found);
        state.counters["tilt_mrad"] = found.tilt * 1000.0;
        points = 0;
        for (const LidarScanSweeps& scan : sweeps)
            for (const LidarSweep& sweep : scan.sweeps)
                points += qsizetype(sweep.returns.size());
    }
    state.counters["points"] = double(points);
}

// Every trial reads every scan's lidar files again, one trial after another.
void BM_FindBestRotationReadingPerTrial(benchmark::State& state)
{
    Scans& s = scans();
    omp_set_num_threads(1);
    for (auto _ : state) {
        std::vector<double> costs;
        for (int t = 0; t < lidarcalibration::kTrialCount; ++t) {
            const RotationTrial trial = rotationTrial(t);
            double sum = 0;
            int collected = 0;
            for (int k = 0; k < kScans; ++k) {
                QList<QPoint> points;
                s.model.rotatePointCloud(points, s.folders[k], s.params[size_t(k)], trial.azimuth, trial.tilt);
                QList<double> profile(lidarcalibration::kProfileSectors, -1.0);
                const double cost = profileCost(points, lidarcalibration::kSpreadCap, profile);
                if (cost >= 0) {
                    sum += cost;
                    ++collected;
                }
            }
            costs.push_back(collected ? sum / collected : -1.0);
        }
        const RotationSearchResult found = chooseRotationTrial(costs);
        benchmark::DoNotOptimize(found);
    }
}
} // namespace

BENCHMARK(BM_FindBestRotation)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(static_cast<int>(std::thread::hardware_concurrency()))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_FindBestRotationReadingPerTrial)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK_MAIN();
