#include "camera/cam_params_ztm5.h"
#include "camera/lidar_jump.h"
#include "camera/lidar_rotation_search.h"
#include "support/system_cfg_fixture.h"
#include "support/test_support.h"
#include "support/two_lens_scan_fixture.h"
#include "support/ztm5_project.h"

#include <QDir>
#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <QQuaternion>
#include <QVector3D>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <tuple>
#include <vector>

using namespace testsupport;

namespace {
constexpr double kPi = 3.14159265358979323846;
const double kNan = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// The grid offset (j, i) in thousandths a search result stands for.
QPoint gridOffset(const RotationSearchResult& found)
{
    const double length = std::tan(double(found.tilt)) * 1000.0;
    return QPoint(int(std::lround(length * std::cos(found.azimuth))), int(std::lround(-length * std::sin(found.azimuth))));
}

// The lidar error the generator plants for grid offset (j, i).
QStringList plantedAt(int j, int i)
{
    const double azimuth = std::atan2(-double(i), double(j));
    const double tilt = std::atan2(std::hypot(double(j), double(i)), 1000.0);
    return {"--calib-azimuth", QString::number(azimuth, 'g', 17), "--calib-tilt", QString::number(tilt, 'g', 17)};
}

// Three scans of the L-shaped room.
struct CalibrationScans {
    QTemporaryDir dir;
    CamParamsZTM5 model;
    QStringList folders;
    std::vector<ImageParams> params;

    explicit CalibrationScans(const QStringList& options)
    {
        const QJsonObject project = makeZtm5Project(dir.path(), QStringList{"--scans", "3"} + options);
        if (!model.loadSystemFile(dir.filePath("system.cfg")))
            throw std::runtime_error("the generated system.cfg does not load");
        for (const QJsonValue& scan : project["scans"].toArray()) {
            folders << dir.filePath(scan["dir"].toString());
            // The shots' true turns: the lidar heading estimate is good to its quarter-degree bins,
            // which is as much as the planted errors themselves.
            ImageParams p;
            p[ImageParams::YAW_3] = float(scan["yaw3"].toDouble());
            p[ImageParams::YAW_2] = float(scan["yaw2"].toDouble());
            params.push_back(p);
        }
    }
    std::vector<LidarScanSweeps> sweeps() const
    {
        std::vector<LidarScanSweeps> out;
        for (qsizetype k = 0; k < folders.size(); ++k)
            out.push_back(model.readLidarScan(folders[k], params[size_t(k)]));
        return out;
    }
    RotationSearchResult search() const
    {
        RotationSearchResult found;
        EXPECT_TRUE(findBestRotation(model, sweeps(), found));
        return found;
    }
};

// One lidar file's points under a trial, as the reader is written out step by step: the angles
// of the jump filter from atan2 for every point.
QList<QPoint> literalLidarShot(const CamParamsZTM5& model, const QString& folder, int shot, float phase,
                               float amplitude)
{
    QList<QPoint> points;
    const QByteArray bytes = readFile(QString("%1/pts%2.dat").arg(folder).arg(shot + 1));
    if (bytes.size() < 4)
        return points;
    float vc0 = 0, vc1 = 0, vc2 = 0;
    model.calibRotation(vc0, vc1, vc2);
    const qsizetype records = std::min<qsizetype>((bytes.size() - 4) / 8, 10000);
    bool havePrevious = false;
    QPoint previous;
    for (qsizetype k = 0; k < records; ++k) {
        float x = 0, y = 0;
        std::memcpy(&x, bytes.constData() + 4 + 8 * k, 4);
        std::memcpy(&y, bytes.constData() + 8 + 8 * k, 4);
        QPoint p(int(std::round(x)), int(std::round(-y)));
        if (std::abs(p.x()) + std::abs(p.y()) == 0 || std::abs(p.x()) + std::abs(p.y()) > 99999)
            continue;
        if (amplitude >= -0.00001f) {
            const QPointF d(double(x), double(-y) - 26.0);
            const double r = std::hypot(d.x(), d.y());
            float a = float(std::atan2(-d.y(), d.x()) - double(vc2));
            a = a - vc1 * std::sin(a + vc0) / (vc1 * std::cos(a + vc0) + 1.0f);
            a = a + std::sin(a + phase) * amplitude + vc2;
            p = QPoint(int(std::round(r * double(std::cos(a)))), int(std::round(26.0 - r * double(std::sin(a)))));
        }
        if (havePrevious) {
            const auto degrees = [](const QPoint& q) {
                double d = std::atan2(-double(q.y()), double(q.x())) * 360 / 6.283185307179586;
                if (d < 0)
                    d += 360;
                return qFuzzyCompare(d, 360.0) ? 0.0 : d;
            };
            const double dist = std::hypot(double(p.x() - previous.x()), double(p.y() - previous.y()));
            const double range = std::hypot(double(p.x()), double(p.y()));
            const double dAng = std::fabs(degrees(p) - degrees(previous)) * 4.0;
            const double ratio = dist / dAng / range;
            if (dAng > 2.0 || ratio > 0.0425) {
                if (dAng < 1.5 && !points.isEmpty())
                    points.removeLast();
                havePrevious = false;
                continue;
            }
        }
        points.append(p);
        previous = p;
        havePrevious = true;
    }
    return points;
}

QList<QPoint> literalPointCloud(const CamParamsZTM5& model, const QString& folder, const ImageParams& params,
                                float phase, float amplitude)
{
    const QQuaternion turns[3] = {
        QQuaternion(), QQuaternion::fromEulerAngles(0, 0, 120.0f - 57.29578f * params[ImageParams::YAW_3]),
        QQuaternion::fromEulerAngles(0, 0, 240.0f - 57.29578f * params[ImageParams::YAW_2])};
    QList<QPoint> out;
    for (int k = 0; k < 3; ++k)
        for (const QPoint& p : literalLidarShot(model, folder, k, phase, amplitude)) {
            const QVector3D v = turns[k].rotatedVector(QVector3D(float(p.x()), float(p.y()), 0.0f));
            out.append(QPoint(int(std::round(v.x())), int(std::round(v.y()))));
        }
    return out;
}

// The spread score with a list of distances per sector, each sector from the point's angle.
double literalProfileCost(const QList<QPoint>& points, double cap, QList<double>& profile)
{
    const int sectors = int(profile.size());
    std::map<int, std::vector<int64_t>> lists;
    for (const QPoint& p : points) {
        double d = std::atan2(-double(p.y()), double(p.x())) * 360 / 6.283185307179586;
        if (d < 0)
            d += 360;
        if (qFuzzyCompare(d, 360.0))
            d = 0;
        lists[int(d * sectors / 360)].push_back(int64_t(std::hypot(double(p.x()), double(p.y()))));
    }
    double sum = 0;
    int counted = 0;
    for (int s = 0; s < sectors; ++s) {
        const std::vector<int64_t>& list = lists[s];
        if (list.size() < 2) {
            profile[s] = -1.0;
            continue;
        }
        const auto [least, most] = std::minmax_element(list.begin(), list.end());
        const double value = std::min(cap, double(*most - *least));
        profile[s] = value;
        sum += value * value;
        ++counted;
    }
    return counted ? std::sqrt(sum / counted) : -1.0;
}

// The search as written out trial by trial, one after another, each scan's lidar files read
// again for every trial: the order the parallel search must agree with.
struct SerialSearch {
    RotationSearchResult result;
    std::vector<double> costs;
};

SerialSearch serialSearch(const CalibrationScans& scans)
{
    SerialSearch serial;
    for (int i = -10; i <= 10; ++i)
        for (int j = -10; j <= 10; ++j) {
            const float azimuth = float(std::atan2(-double(i), double(j)));
            const float tilt = float(std::atan2(std::hypot(double(j), double(i)), 1000.0));
            double sum = 0;
            int collected = 0;
            for (qsizetype k = 0; k < scans.folders.size(); ++k) {
                const QList<QPoint> points =
                    literalPointCloud(scans.model, scans.folders[k], scans.params[size_t(k)], azimuth, tilt);
                QList<double> profile(1440, -1.0);
                const double cost = literalProfileCost(points, 200.0, profile);
                if (cost >= 0) {
                    sum += cost;
                    ++collected;
                }
            }
            const double c = collected ? sum / collected : -1.0;
            serial.costs.push_back(c);
            if (c <= serial.result.cost && c >= -0.1)
                serial.result = {azimuth, tilt, float(c)};
        }
    return serial;
}
} // namespace

TEST(LidarProfileCost, SpreadsPerQuarterDegreeCappedAndOnlyWhereTwoPointsMeet)
{
    // Sector 0 (0 to 0.25 degrees): 1000, 1004 and 1300 mm; sector 720 (180 degrees): 2000 and
    // 2007; sector 1439: one point only; sector 360 (90 degrees, y up is negative y): one point.
    const QList<QPoint> points = {{1000, 0}, {3000, -2}, {1004, -1}, {1300, -2}, {-2000, 0}, {-2007, 0},
                                  {0, -1500}, {4000, 2}};
    QList<double> profile(1440, 7.0);
    const double cost = profileCost(points, 200.0, profile);
    // Sector 0 also holds (3000, -2): spread 3000 - 1000, capped.
    EXPECT_EQ(profile[0], 200.0);
    EXPECT_EQ(profile[720], 7.0);
    EXPECT_EQ(profile[1439], -1.0) << "one point is no spread";
    EXPECT_EQ(profile[360], -1.0);
    int written = 0;
    for (double entry : std::as_const(profile))
        written += entry != -1.0;
    EXPECT_EQ(written, 2) << "every other sector is written as -1";
    EXPECT_DOUBLE_EQ(cost, std::sqrt((200.0 * 200.0 + 7.0 * 7.0) / 2));

    QList<double> none(1440, 3.0);
    EXPECT_EQ(profileCost({{10, 0}, {0, 10}}, 200.0, none), -1.0);
    EXPECT_EQ(none, QList<double>(1440, -1.0));
    // Points as far out as integers go neither overflow the distances nor leave the sectors.
    QList<double> far(1440, -1.0);
    EXPECT_EQ(profileCost({{INT_MAX, 0}, {INT_MAX - 150, 0}, {INT_MIN, 0}, {INT_MIN, 1}}, 200.0, far),
              std::sqrt(150.0 * 150.0 / 2));
    EXPECT_EQ(far[0], 150.0);
    EXPECT_EQ(far[720], 0.0);
}

// The jump filter and the sectors are settled from cross products where that is beyond doubt; they
// must decide exactly as the angles do, also next to every threshold, edge and the turn through 0.
TEST(LidarFastPaths, JumpsAndSectorsAreDecidedAsTheAnglesDecideThem)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto polarPoint = [](double degrees, double range) {
        return QPoint(int(std::lround(range * std::cos(degrees * kPi / 180))),
                      int(std::lround(-range * std::sin(degrees * kPi / 180))));
    };
    int pairs = 0, rejected = 0, dropped = 0;
    const auto check = [&](const QPoint& a, const QPoint& b) {
        const LidarJump fast = lidarJump(a, b), exact = lidarJumpByAngles(a, b);
        ASSERT_EQ(fast.reject, exact.reject) << a.x() << "," << a.y() << " -> " << b.x() << "," << b.y();
        ASSERT_EQ(fast.dropPrevious, exact.dropPrevious) << a.x() << "," << a.y() << " -> " << b.x() << "," << b.y();
        ++pairs;
        rejected += exact.reject;
        dropped += exact.dropPrevious;
    };
    for (int n = 0; n < 200000; ++n) {
        const double at = unit(random) * 360, range = 200 + unit(random) * 15000;
        // Steps around the thresholds: 4 x degrees near 1.5 and 2, ranges near the ratio's limit.
        const double step = (n % 3 == 0 ? 0.375 : n % 3 == 1 ? 0.5 : unit(random) * 0.6) * (0.98 + 0.04 * unit(random));
        const double jump = range * step * 4 * 0.0425 * (unit(random) * 2);
        const QPoint a = polarPoint(at, range), b = polarPoint(at + (n % 2 ? step : -step), range + jump);
        check(a, b);
    }
    for (double at : {0.0, 0.1, 359.9, 90.0, 180.0, 270.0, 45.0})
        for (double step : {-0.3, -0.1, 0.0, 0.1, 0.3, 0.6, 100.0, 180.0})
            for (double range : {150.0, 3000.0, 99000.0})
                check(polarPoint(at, range), polarPoint(at + step, range * 1.01));
    check({1000, 0}, {1000, 1});
    check({1000, 1}, {1000, 0});
    check({1000, -1}, {1000, 1});
    check({0, 0}, {5, 5});
    check({5, 5}, {0, 0});
    check({7, 7}, {7, 7});
    check({3, -1}, {6, -2});
    EXPECT_GT(rejected, pairs / 10);
    EXPECT_GT(dropped, pairs / 20);
    EXPECT_GT(pairs - rejected, pairs / 10);

    // Sweeps as the reader gives them, in order, and points on sector edges and axes.
    QList<QPoint> points;
    for (int sweep = 0; sweep < 3; ++sweep) {
        const double start = unit(random) * 360, range = 1000 + 4000 * unit(random);
        for (double a = 0; a < 360; a += 0.05 + 0.3 * unit(random))
            points << polarPoint(start + a, range + 300 * std::sin(a));
    }
    for (int k = 0; k < 1440; k += 7)
        points << polarPoint(k * 0.25, 2000) << polarPoint(k * 0.25, 99999);
    // Integer points closest to the edges: the continued fractions of each edge's slope.
    for (int k = 1; k < 1440; ++k) {
        if (k % 360 == 0)
            continue;
        const long double angle = (long double)(k) * 3.14159265358979323846264338L / 720;
        long double value = std::fabs(std::tan(angle));
        int64_t p0 = 1, q0 = 0, p1 = int64_t(value), q1 = 1;
        for (int term = 0; term < 30 && q1 < 2000000000 && p1 < 2000000000; ++term) {
            const int sx = std::cos(angle) < 0 ? -1 : 1, sy = std::sin(angle) < 0 ? 1 : -1;
            points << QPoint(int(sx * q1), int(sy * p1));
            const long double rest = value - std::floor(value);
            if (rest < 1e-18L)
                break;
            value = 1 / rest;
            const auto a = int64_t(value);
            std::tie(p0, p1) = std::pair(p1, a * p1 + p0);
            std::tie(q0, q1) = std::pair(q1, a * q1 + q0);
        }
    }
    points << QPoint(1000, 0) << QPoint(-1000, 0) << QPoint(0, 1000) << QPoint(0, -1000) << QPoint(700, -700)
           << QPoint(700, 700) << QPoint(1000, 1) << QPoint(0, 0) << QPoint(1000000000, 1);
    QList<double> fast(1440, -1.0), literal(1440, -1.0);
    EXPECT_EQ(profileCost(points, 200.0, fast), literalProfileCost(points, 200.0, literal));
    EXPECT_EQ(fast, literal);
}

TEST(LidarRotationTrials, TheGridRunsRowByRowAndTheLatestOfEqualCostsWinsWhileNoDataNeverDoes)
{
    EXPECT_EQ(rotationTrial(220).azimuth, 0.0f);
    EXPECT_EQ(rotationTrial(220).tilt, 0.0f) << "the middle of the grid is no turn at all";
    EXPECT_FLOAT_EQ(rotationTrial(0).azimuth, float(3 * kPi / 4)) << "offset (-10, -10) first";
    EXPECT_FLOAT_EQ(rotationTrial(0).tilt, float(std::atan2(std::sqrt(200.0), 1000.0)));
    EXPECT_FLOAT_EQ(rotationTrial(1).azimuth, float(std::atan2(10.0, -9.0))) << "j moves fastest";
    EXPECT_FLOAT_EQ(rotationTrial(440).azimuth, float(-kPi / 4));

    std::vector<double> costs(441, -1.0);
    RotationSearchResult none = chooseRotationTrial(costs);
    EXPECT_EQ(none.azimuth, -1.0f);
    EXPECT_EQ(none.tilt, -1.0f);
    EXPECT_EQ(none.cost, 10000.0f);

    costs[3] = 12.5;
    costs[100] = 12.5;
    costs[50] = 13.0;
    costs[200] = kNan;
    costs[201] = -kInf;
    costs[202] = -0.2;
    costs[400] = kInf;
    costs[401] = 1e30; // finite, but above the start value 10000
    RotationSearchResult found = chooseRotationTrial(costs);
    EXPECT_EQ(found.azimuth, rotationTrial(100).azimuth) << "the later of two equal costs";
    EXPECT_EQ(found.tilt, rotationTrial(100).tilt);
    EXPECT_EQ(found.cost, 12.5f);

    // The best so far is held as the float it is reported in: a later cost above the best but not
    // above its float still wins, as in a search that keeps it so.
    costs[300] = 12.49999999;
    costs[301] = 12.499999995;
    found = chooseRotationTrial(costs);
    EXPECT_EQ(found.azimuth, rotationTrial(301).azimuth);
    EXPECT_EQ(found.cost, 12.5f);
}

// A planted calibration error is found, and the parallel search chooses what the serial one does,
// trial by trial, reading the lidar files once instead of for every trial.
TEST(LidarRotationSearch, FindsAPlantedErrorExactlyAsTheSerialSearchDoes)
{
    const CalibrationScans scans(plantedAt(4, -3));
    const std::vector<LidarScanSweeps> sweeps = scans.sweeps();
    RotationSearchControl control;
    RotationSearchResult found;
    ASSERT_TRUE(findBestRotation(scans.model, sweeps, found, &control));
    EXPECT_EQ(control.trialsDone.load(), 441);
    const QPoint offset = gridOffset(found);
    EXPECT_LE(std::abs(offset.x() - 4), 1) << offset.x() << ", " << offset.y();
    EXPECT_LE(std::abs(offset.y() + 3), 1) << offset.x() << ", " << offset.y();

    const SerialSearch serial = serialSearch(scans);
    EXPECT_EQ(found.azimuth, serial.result.azimuth);
    EXPECT_EQ(found.tilt, serial.result.tilt);
    EXPECT_EQ(found.cost, serial.result.cost);
    for (int k = 0; k < 441; ++k) {
        const RotationTrial trial = rotationTrial(k);
        ASSERT_EQ(rotationCost(scans.model, sweeps, trial.azimuth, trial.tilt), serial.costs[size_t(k)]) << k;
    }
    // The error shows: the identity spreads the sweeps more than the found turn does.
    EXPECT_GT(serial.costs[220], double(found.cost) * 1.05);
}

TEST(LidarRotationSearch, WithoutAnErrorTheIdentityIsKept)
{
    const CalibrationScans scans({});
    const RotationSearchResult found = scans.search();
    EXPECT_EQ(found.azimuth, 0.0f);
    EXPECT_EQ(found.tilt, 0.0f);
    EXPECT_GT(found.cost, 0.0f);
}

// Accepting a found trial into the calibration rotation turns the returns as the trial did: read
// again under the new calibration, the scans need no further turn.
TEST(LidarRotationSearch, AnAcceptedTrialBecomesTheCalibrationAndTheNextSearchFindsNothingMore)
{
    CalibrationScans scans(plantedAt(-5, 6));
    const RotationSearchResult found = scans.search();
    float vc0 = 0, vc1 = 0, vc2 = 0;
    scans.model.calibRotation(vc0, vc1, vc2);
    const std::vector<LidarScanSweeps> before = scans.sweeps();
    composeCalibrationRotation(vc0, vc1, found.azimuth, found.tilt);
    EXPECT_NEAR(vc1, found.tilt, 1e-7);
    scans.model.setCalibRotation(vc0, vc1, vc2);
    const std::vector<LidarScanSweeps> after = scans.sweeps();
    for (size_t k = 0; k < before.size(); ++k) {
        QList<QPoint> trial, calibrated;
        scans.model.rotatePointCloud(trial, before[k], found.azimuth, found.tilt);
        scans.model.rotatePointCloud(calibrated, after[k], 0.0f, 0.0f);
        // The jump filter may decide a borderline return the other way: points are matched among
        // their neighbours in the list, and a few may have none.
        ASSERT_NEAR(double(trial.size()), double(calibrated.size()), 8.0);
        int unmatched = 0;
        for (qsizetype n = 0; n < calibrated.size(); ++n) {
            int nearest = INT_MAX;
            for (qsizetype m = std::max<qsizetype>(0, n - 8); m < std::min(trial.size(), n + 9); ++m)
                nearest = std::min(nearest, (trial[m] - calibrated[n]).manhattanLength());
            unmatched += nearest > 2;
        }
        EXPECT_LE(unmatched, calibrated.size() / 500) << k;
    }
    const QPoint offset = gridOffset(scans.search());
    EXPECT_LE(std::abs(offset.x()), 1);
    EXPECT_LE(std::abs(offset.y()), 1);

    // Composing a second trial onto the first adds the two turns' phasors.
    float c0 = 0.3f, c1 = 0.004f;
    composeCalibrationRotation(c0, c1, 0.3f + float(kPi), 0.002f);
    EXPECT_NEAR(c1, 0.006, 1e-7);
    EXPECT_NEAR(c0, 0.3, 1e-6);
    composeCalibrationRotation(c0, c1, 0.3f, 0.006f);
    EXPECT_NEAR(c1, 0.0, 1e-7);
}

// Two circles seen by two sweeps spread 500 mm in every sector under every trial: all trials cost
// the capped 200, and the last one wins. Scans without lidar data never win.
TEST(LidarRotationSearch, EqualCostsEverywhereGoToTheLastTrialAndNoDataFindsNothing)
{
    QTemporaryDir dir;
    const auto circle = [](double radius, double from) {
        std::vector<std::pair<float, float>> points;
        for (double a = from; a < 360; a += 0.45)
            points.emplace_back(float(radius * std::cos(a * kPi / 180)), float(radius * std::sin(a * kPi / 180)));
        return points;
    };
    writeFile(dir.filePath("pts1.dat"), lidarFile(0, circle(1000, 0.1)));
    writeFile(dir.filePath("pts2.dat"), lidarFile(0, circle(1500, 0.2)));
    CamParamsZTM5 model;
    ImageParams params;
    params[ImageParams::YAW_3] = float(-240 * kPi / 180); // no turn of sweep 2 against sweep 1
    std::vector<LidarScanSweeps> scans{model.readLidarScan(dir.path(), params)};
    RotationSearchResult found;
    ASSERT_TRUE(findBestRotation(model, scans, found));
    EXPECT_EQ(found.cost, 200.0f);
    EXPECT_EQ(found.azimuth, rotationTrial(440).azimuth);
    EXPECT_EQ(found.tilt, rotationTrial(440).tilt);

    QTemporaryDir empty;
    scans = {model.readLidarScan(empty.path(), params), model.readLidarScan(empty.path(), params)};
    RotationSearchResult nothing;
    ASSERT_TRUE(findBestRotation(model, scans, nothing));
    EXPECT_EQ(nothing.azimuth, -1.0f);
    EXPECT_EQ(nothing.tilt, -1.0f);
    EXPECT_EQ(nothing.cost, 10000.0f);
    ASSERT_TRUE(findBestRotation(model, {}, nothing));
    EXPECT_EQ(nothing.cost, 10000.0f);

    // A search told to stop runs no further trial and leaves the result alone.
    RotationSearchControl control;
    control.cancel = true;
    RotationSearchResult untouched{1, 2, 3};
    EXPECT_FALSE(findBestRotation(model, {model.readLidarScan(dir.path(), params)}, untouched, &control));
    EXPECT_EQ(control.trialsDone.load(), 0);
    EXPECT_EQ(untouched.cost, 3.0f);
}

// An accepted trial is written through the calibration file's backup: the file then loads with
// the new rotation beside the untouched original; a file that cannot be written leaves the model
// with the rotation the file still holds.
TEST(LidarCalibrationAccept, WritesTheNewRotationKeepsTheOriginalAndKeepsTheModelOnFailure)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("system.cfg");
    makeSystemCfg(path, {"--model", "ztm5", "--set", "VC0=0.5", "--set", "VC1=0.002", "--set", "VC2=0.01"});
    const QByteArray original = readFile(path);
    CamParamsZTM5 model;
    ASSERT_TRUE(model.loadSystemFile(path));
    acceptCalibrationTrial(model, path, 0.5f + float(kPi), 0.003f);
    EXPECT_EQ(readFile(dir.filePath("system.orig")), original);
    CamParamsZTM5 reread;
    ASSERT_TRUE(reread.loadSystemFile(path));
    float vc0 = 0, vc1 = 0, vc2 = 0, held0 = 0, held1 = 0, held2 = 0;
    reread.calibRotation(vc0, vc1, vc2);
    model.calibRotation(held0, held1, held2);
    EXPECT_EQ(QList<float>({vc0, vc1, vc2}), QList<float>({held0, held1, held2})) << "the file holds what the model does";
    EXPECT_NEAR(vc0, 0.5, 1e-6);
    EXPECT_NEAR(vc1, 0.005, 1e-8);
    EXPECT_EQ(vc2, 0.01f) << "a trial leaves the offset alone";

    // A second calibration keeps the first original.
    acceptCalibrationTrial(model, path, 0.5f, 0.001f);
    EXPECT_EQ(readFile(dir.filePath("system.orig")), original);
    ASSERT_TRUE(reread.loadSystemFile(path));
    reread.calibRotation(vc0, vc1, vc2);
    EXPECT_NEAR(vc1, 0.004, 1e-8);

    // Where the calibration file should be there is a folder: nothing can be written.
    QTemporaryDir other;
    const QString blocked = other.filePath("system.cfg");
    ASSERT_TRUE(QDir().mkpath(blocked));
    const QString before = calibrationState(model);
    EXPECT_EQ(thrownMessage([&] { acceptCalibrationTrial(model, blocked, 0.2f, 0.004f); }),
              "Failed to rename system.cfg to system.orig");
    EXPECT_EQ(calibrationState(model), before);
}
