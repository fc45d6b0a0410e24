#include "camera/lidar_rotation_search.h"

#include "base/geometry.h"
#include "camera/system_cfg_backup.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

using namespace lidarcalibration;

namespace {
constexpr double kLeastAcceptedCost = -0.1;
// The grid's offsets are thousandths: tilt = atan(offset length / 1000).
constexpr double kGridScale = 1000.0;

// The sector of a direction as trunc(angle in degrees x sectors / 360). Neighbouring points of a
// sweep fall in the same or the next sector, which their cross products with the sector's edges
// settle; only a point near an edge, or far from the last one, needs its angle.
class SectorFinder {
public:
    explicit SectorFinder(int sectors) : m_sectors(sectors)
    {
        if (sectors != kProfileSectors)
            return;
        m_edges.resize(size_t(sectors) + 1);
        for (int k = 0; k <= sectors; ++k) {
            const double angle = 6.283185307179586 * k / sectors;
            m_edges[size_t(k)] = {std::cos(angle), std::sin(angle)};
        }
    }

    int sectorOf(const QPoint& point)
    {
        if (!m_edges.empty()) {
            // y up, so that angles grow counter-clockwise.
            const double x = point.x(), y = -double(point.y());
            const double margin = kEdgeMargin * (std::fabs(x) + std::fabs(y));
            for (const int step : {0, 1, -1}) {
                const int sector = (m_last + step + m_sectors) % m_sectors;
                if (inside(sector, x, y, margin))
                    return m_last = sector;
            }
        }
        return m_last = byAngle(point);
    }

private:
    // Well inside the sector's edges: beyond any rounding of the angle the sector is taken from.
    static constexpr double kEdgeMargin = 1e-9;

    bool inside(int sector, double x, double y, double margin) const
    {
        const Edge& from = m_edges[size_t(sector)];
        const Edge& to = m_edges[size_t(sector) + 1];
        return margin > 0.0 && from.cos * x + from.sin * y > 0.0 && from.cos * y - from.sin * x > margin
            && to.cos * y - to.sin * x < -margin;
    }

    int byAngle(const QPoint& point) const
    {
        // Below 360 degrees by construction; kept in range against the last rounding all the same.
        return std::min(int(vectorAngleDeg360(QPointF(point)) * m_sectors / 360), m_sectors - 1);
    }

    struct Edge {
        double cos = 1.0;
        double sin = 0.0;
    };
    const int m_sectors;
    std::vector<Edge> m_edges;
    int m_last = 0;
};

// The per-sector extremes of one scoring, sized once and reused for every trial a thread scores.
class ProfileWorkspace {
public:
    double score(const QPoint* points, qsizetype count, double cap, double* profile, int sectors)
    {
        if (sectors <= 0)
            return -1.0;
        if (!m_finder || m_finderSectors != sectors) {
            m_finder = std::make_unique<SectorFinder>(sectors);
            m_finderSectors = sectors;
        }
        m_least.assign(size_t(sectors), std::numeric_limits<int64_t>::max());
        m_most.assign(size_t(sectors), std::numeric_limits<int64_t>::min());
        m_count.assign(size_t(sectors), 0);
        for (qsizetype k = 0; k < count; ++k) {
            const int sector = m_finder->sectorOf(points[k]);
            // Points are integers, so their length is finite and fits 64 bits.
            const auto distance = int64_t(vectorLength(QPointF(points[k])));
            m_least[size_t(sector)] = std::min(m_least[size_t(sector)], distance);
            m_most[size_t(sector)] = std::max(m_most[size_t(sector)], distance);
            ++m_count[size_t(sector)];
        }
        double sum = 0.0;
        int counted = 0;
        for (int s = 0; s < sectors; ++s) {
            if (m_count[size_t(s)] < 2) {
                profile[s] = -1.0;
                continue;
            }
            const double value = std::min(cap, double(m_most[size_t(s)] - m_least[size_t(s)]));
            profile[s] = value;
            sum += value * value;
            ++counted;
        }
        return counted > 0 ? std::sqrt(sum / counted) : -1.0;
    }

private:
    std::unique_ptr<SectorFinder> m_finder;
    int m_finderSectors = 0;
    std::vector<int64_t> m_least;
    std::vector<int64_t> m_most;
    std::vector<int> m_count;
};

// What one thread needs to score trials: the scan's points and the profile, kept between trials.
struct TrialWorkspace {
    QList<QPoint> points;
    std::vector<double> profile = std::vector<double>(size_t(kProfileSectors));
    ProfileWorkspace sectors;
};

double scoreTrial(const CamParamsZTM5& model, const std::vector<LidarScanSweeps>& scans, float azimuth, float tilt,
                  TrialWorkspace& work)
{
    double sum = 0.0;
    int collected = 0;
    for (const LidarScanSweeps& scan : scans) {
        model.rotatePointCloud(work.points, scan, azimuth, tilt);
        const double cost = work.sectors.score(work.points.constData(), work.points.size(), kSpreadCap,
                                               work.profile.data(), kProfileSectors);
        if (cost >= 0) {
            sum += cost;
            ++collected;
        }
    }
    return collected > 0 ? sum / collected : -1.0;
}
} // namespace

double profileCost(const QList<QPoint>& points, double cap, QList<double>& profile)
{
    ProfileWorkspace work;
    return work.score(points.constData(), points.size(), cap, profile.data(), int(profile.size()));
}

RotationTrial rotationTrial(int index)
{
    const int i = index / (2 * kGridRadius + 1) - kGridRadius;
    const int j = index % (2 * kGridRadius + 1) - kGridRadius;
    const QPointF offset(j, i);
    return {float(vectorAngleRad(offset)), float(std::atan2(vectorLength(offset), kGridScale))};
}

RotationSearchResult chooseRotationTrial(const std::vector<double>& costs)
{
    RotationSearchResult best;
    for (size_t k = 0; k < costs.size(); ++k) {
        const double c = costs[k];
        if (std::isfinite(c) && c <= best.cost && c >= kLeastAcceptedCost) {
            const RotationTrial trial = rotationTrial(int(k));
            best = {trial.azimuth, trial.tilt, float(c)};
        }
    }
    return best;
}

double rotationCost(const CamParamsZTM5& model, const std::vector<LidarScanSweeps>& scans, float azimuth,
                    float tilt)
{
    TrialWorkspace work;
    return scoreTrial(model, scans, azimuth, tilt, work);
}

bool findBestRotation(const CamParamsZTM5& model, const std::vector<LidarScanSweeps>& scans,
                      RotationSearchResult& result, RotationSearchControl* control)
{
    // Each trial's cost depends on the trial alone; choosing over them in order afterwards gives
    // what the serial search gives, ties included.
    std::vector<double> costs(size_t(kTrialCount), -1.0);
#pragma omp parallel
    {
        TrialWorkspace work;
#pragma omp for schedule(dynamic, 1)
        for (int k = 0; k < kTrialCount; ++k) {
            if (control && control->cancel.load(std::memory_order_relaxed))
                continue;
            const RotationTrial trial = rotationTrial(k);
            costs[size_t(k)] = scoreTrial(model, scans, trial.azimuth, trial.tilt, work);
            if (control)
                control->trialsDone.fetch_add(1, std::memory_order_relaxed);
        }
    }
    if (control && control->cancel.load())
        return false;
    result = chooseRotationTrial(costs);
    return true;
}

void composeCalibrationRotation(float& vc0, float& vc1, float azimuth, float tilt)
{
    // The calibration takes VC1 sin(a + VC0) off each angle, a trial adds tilt sin(a + azimuth):
    // to first order both are one sinusoid, the difference of the two phasors.
    const double x = double(vc1) * std::cos(double(vc0)) - double(tilt) * std::cos(double(azimuth));
    const double y = double(vc1) * std::sin(double(vc0)) - double(tilt) * std::sin(double(azimuth));
    const double size = std::hypot(x, y);
    vc1 = float(size);
    vc0 = size > 0.0 ? float(std::atan2(y, x)) : 0.0f;
}

void acceptCalibrationTrial(CamParamsZTM5& model, const QString& systemCfgPath, float azimuth, float tilt)
{
    float vc0 = 0.0f, vc1 = 0.0f, vc2 = 0.0f;
    model.calibRotation(vc0, vc1, vc2);
    float newVc0 = vc0, newVc1 = vc1;
    composeCalibrationRotation(newVc0, newVc1, azimuth, tilt);
    model.setCalibRotation(newVc0, newVc1, vc2);
    try {
        saveSystemCfgWithBackup(model, systemCfgPath);
    } catch (...) {
        // The model describes the file on disk, which still holds the old rotation.
        model.setCalibRotation(vc0, vc1, vc2);
        throw;
    }
}
