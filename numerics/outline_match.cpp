#include "numerics/outline_match.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDistinct = 100.0;
constexpr int32_t kMinimaPerTurn = 3;
constexpr int32_t kSeedsPerPlacement = 3;
constexpr int32_t kLeastTurns = 8;
constexpr int32_t kMostTurns = 720;
constexpr int32_t kMostCellsPerSide = 4096;
constexpr int32_t kMostClimbSteps = 64;
constexpr int32_t kSubCellHalvings = 5;
constexpr size_t kParallelCells = size_t(1) << 16;

struct Point {
    double x;
    double y;
};

struct Box {
    double minX;
    double minY;
    double maxX;
    double maxY;
};

struct Pose {
    double x; // where the pivot goes
    double y;
    double angle;
};

size_t at(int32_t x, int32_t y, int32_t w)
{
    return size_t(y) * size_t(w) + size_t(x);
}

// For every cell, the nearest reference point (that of the nearest occupied cell, by an exact
// transform over the cell centres, each occupied cell standing for the mean of its points) and
// its distance from the cell centre, at most cap. A point's distance is read from its cell's
// nearest point, so that a wall draws points onto itself, not onto the row of centres nearest to
// it as an interpolation of the centres' distances would; outside the grid it reads cap.
class DistanceGrid {
public:
    DistanceGrid(const std::vector<Point>& reference, const Box& box, double margin, double cell, double cap)
        : m_cell(cell)
        , m_cap(cap)
        , m_x0(box.minX - margin)
        , m_y0(box.minY - margin)
        , m_w(int32_t(std::ceil((box.maxX + margin - m_x0) / cell)) + 1)
        , m_h(int32_t(std::ceil((box.maxY + margin - m_y0) / cell)) + 1)
        , m_d(size_t(m_w) * size_t(m_h))
        , m_nearest(m_d.size())
    {
        std::vector<int32_t> occupant(m_d.size(), -1);
        std::vector<Point> sums;
        std::vector<int32_t> counts;
        for (const Point& p : reference) {
            const int32_t i = std::clamp(int32_t(std::lround((p.x - m_x0) / cell)), 0, m_w - 1);
            const int32_t j = std::clamp(int32_t(std::lround((p.y - m_y0) / cell)), 0, m_h - 1);
            int32_t& k = occupant[at(i, j, m_w)];
            if (k < 0) {
                k = int32_t(sums.size());
                sums.push_back({0.0, 0.0});
                counts.push_back(0);
            }
            sums[size_t(k)].x += p.x;
            sums[size_t(k)].y += p.y;
            ++counts[size_t(k)];
        }
        for (size_t k = 0; k < sums.size(); ++k)
            sums[k] = {sums[k].x / counts[k], sums[k].y / counts[k]};
        transform(occupant, sums);
    }

    double cell() const { return m_cell; }
    double cap() const { return m_cap; }
    double x0() const { return m_x0; }
    double y0() const { return m_y0; }
    int32_t width() const { return m_w; }
    const float* values() const { return m_d.data(); }

    double read(double x, double y) const
    {
        const double fx = (x - m_x0) / m_cell + 0.5;
        const double fy = (y - m_y0) / m_cell + 0.5;
        // Written so that a NaN reads as outside.
        if (!(fx >= 0.0 && fy >= 0.0 && fx < double(m_w) && fy < double(m_h)))
            return m_cap;
        const Nearest& p = m_nearest[at(int32_t(fx), int32_t(fy), m_w)];
        const double squared = (x - p.x) * (x - p.x) + (y - p.y) * (y - p.y);
        return squared < m_cap * m_cap ? std::sqrt(squared) : m_cap;
    }

private:
    // Felzenszwalb and Huttenlocher's two passes, carrying the nearest occupied cell along.
    void transform(const std::vector<int32_t>& occupant, const std::vector<Point>& means)
    {
        const int32_t w = m_w;
        const int32_t h = m_h;
        // Pass 1: per row, the column of the nearest occupied cell in that row (-1: none).
        std::vector<int32_t> nearest(m_d.size(), -1);
        // Small grids are not worth waking the threads for.
        const bool parallel = m_d.size() >= kParallelCells;
#pragma omp parallel for schedule(static) if (parallel)
        for (int32_t j = 0; j < h; ++j) {
            int32_t* row = nearest.data() + at(0, j, w);
            const int32_t* occupied = occupant.data() + at(0, j, w);
            int32_t last = -1;
            for (int32_t i = 0; i < w; ++i) {
                if (occupied[i] >= 0)
                    last = i;
                row[i] = last;
            }
            last = -1;
            for (int32_t i = w - 1; i >= 0; --i) {
                if (occupied[i] >= 0)
                    last = i;
                if (last >= 0 && (row[i] < 0 || last - i < i - row[i]))
                    row[i] = last;
            }
        }
        // Pass 2: per column, the lower envelope of the rows' parabolas.
#pragma omp parallel if (parallel)
        {
            std::vector<int32_t> v(size_t(h) + 1);
            std::vector<double> z(size_t(h) + 2);
            std::vector<double> f(static_cast<size_t>(h));
#pragma omp for schedule(static)
            for (int32_t i = 0; i < w; ++i) {
                int32_t k = -1;
                for (int32_t q = 0; q < h; ++q) {
                    const int32_t column = nearest[at(i, q, w)];
                    if (column < 0)
                        continue;
                    f[size_t(q)] = double(i - column) * double(i - column);
                    if (k < 0) {
                        k = 0;
                        v[0] = q;
                        z[0] = -std::numeric_limits<double>::infinity();
                        z[1] = std::numeric_limits<double>::infinity();
                        continue;
                    }
                    double s = 0.0;
                    for (;;) {
                        const int32_t p = v[size_t(k)];
                        s = ((f[size_t(q)] + double(q) * q) - (f[size_t(p)] + double(p) * p)) / (2.0 * (q - p));
                        if (s > z[size_t(k)])
                            break;
                        --k;
                    }
                    ++k;
                    v[size_t(k)] = q;
                    z[size_t(k)] = s;
                    z[size_t(k) + 1] = std::numeric_limits<double>::infinity();
                }
                if (k < 0) {
                    for (int32_t j = 0; j < h; ++j)
                        m_d[at(i, j, w)] = float(m_cap);
                    continue;
                }
                k = 0;
                const double cx = m_x0 + i * m_cell;
                for (int32_t j = 0; j < h; ++j) {
                    while (z[size_t(k) + 1] < j)
                        ++k;
                    const int32_t q = v[size_t(k)];
                    const double cy = m_y0 + j * m_cell;
                    const Point& mean = means[size_t(occupant[at(nearest[at(i, q, w)], q, w)])];
                    const double distance = std::sqrt((cx - mean.x) * (cx - mean.x) + (cy - mean.y) * (cy - mean.y));
                    m_d[at(i, j, w)] = float(std::min(distance, m_cap));
                    m_nearest[at(i, j, w)] = {mean.x, mean.y};
                }
            }
        }
    }

    double m_cell;
    double m_cap;
    double m_x0;
    double m_y0;
    struct Nearest {
        // Out of reach when the grid holds no reference point at all.
        double x = std::numeric_limits<double>::infinity();
        double y = 0.0;
    };

    int32_t m_w;
    int32_t m_h;
    std::vector<float> m_d;
    std::vector<Nearest> m_nearest;
};

// The mean of the points in each cell of a lattice of the given size: what a grid of that cell
// can tell apart, each place counted once however densely the lidar sampled it.
std::vector<Point> cellMeans(const std::vector<Point>& points, double cell)
{
    struct Keyed {
        int64_t x;
        int64_t y;
        size_t index;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(points.size());
    for (size_t k = 0; k < points.size(); ++k)
        keyed.push_back({int64_t(std::floor(points[k].x / cell)), int64_t(std::floor(points[k].y / cell)), k});
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        return a.x != b.x ? a.x < b.x : a.y != b.y ? a.y < b.y : a.index < b.index;
    });
    std::vector<Point> means;
    for (size_t k = 0; k < keyed.size();) {
        size_t end = k;
        Point sum{0.0, 0.0};
        while (end < keyed.size() && keyed[end].x == keyed[k].x && keyed[end].y == keyed[k].y) {
            sum.x += points[keyed[end].index].x;
            sum.y += points[keyed[end].index].y;
            ++end;
        }
        means.push_back({sum.x / double(end - k), sum.y / double(end - k)});
        k = end;
    }
    return means;
}

// One grid of the pyramid with the moving points as it sees them (relative to the pivot).
struct Level {
    DistanceGrid grid;
    std::vector<Point> moving;
    double turnStep;
};

double meanDistance(const Level& level, const Pose& pose)
{
    const double c = std::cos(pose.angle);
    const double s = std::sin(pose.angle);
    double sum = 0.0;
    for (const Point& p : level.moving)
        sum += level.grid.read(pose.x + c * p.x - s * p.y, pose.y + s * p.x + c * p.y);
    return sum / double(level.moving.size());
}

// Steepest descent over the 26 neighbours of the pose at these steps.
double climb(const Level& level, Pose& pose, double step, double turnStep)
{
    double best = meanDistance(level, pose);
    for (int32_t n = 0; n < kMostClimbSteps; ++n) {
        Pose chosen = pose;
        double chosenCost = best;
        for (int32_t a = -1; a <= 1; ++a)
            for (int32_t dy = -1; dy <= 1; ++dy)
                for (int32_t dx = -1; dx <= 1; ++dx) {
                    if (a == 0 && dy == 0 && dx == 0)
                        continue;
                    const Pose trial{pose.x + dx * step, pose.y + dy * step, pose.angle + a * turnStep};
                    const double cost = meanDistance(level, trial);
                    if (cost < chosenCost) {
                        chosenCost = cost;
                        chosen = trial;
                    }
                }
        if (!(chosenCost < best))
            break;
        best = chosenCost;
        pose = chosen;
    }
    return best;
}

double wrapAngle(double a)
{
    a = std::remainder(a, 2.0 * kPi);
    return a <= -kPi ? a + 2.0 * kPi : a;
}

// How far apart two poses put the points.
double separation(const std::vector<Point>& points, const Pose& a, const Pose& b)
{
    const double ca = std::cos(a.angle), sa = std::sin(a.angle);
    const double cb = std::cos(b.angle), sb = std::sin(b.angle);
    double most = std::hypot(a.x - b.x, a.y - b.y);
    for (const Point& p : points)
        most = std::max(most, std::hypot((a.x + ca * p.x - sa * p.y) - (b.x + cb * p.x - sb * p.y),
                                         (a.y + sa * p.x + ca * p.y) - (b.y + sb * p.x + cb * p.y)));
    return most;
}

struct Seed {
    Pose pose;
    double cost;
    int32_t turn;
    int32_t cell;
};

bool cancelled(const OutlineMatchControl* control)
{
    return control && control->cancel.load(std::memory_order_relaxed);
}

void countDone(OutlineMatchControl* control)
{
    if (control)
        control->done.fetch_add(1, std::memory_order_relaxed);
}

// The best few local minima of one turn's map of mean distances over the shifts.
void turnMinima(const std::vector<float>& map, int32_t nx, int32_t ny, std::vector<std::pair<float, int32_t>>& out)
{
    out.clear();
    for (int32_t y = 0; y < ny; ++y)
        for (int32_t x = 0; x < nx; ++x) {
            const float v = map[at(x, y, nx)];
            bool lowest = true;
            for (int32_t dy = -1; dy <= 1 && lowest; ++dy)
                for (int32_t dx = -1; dx <= 1 && lowest; ++dx) {
                    const int32_t u = x + dx, w = y + dy;
                    if ((dx || dy) && u >= 0 && w >= 0 && u < nx && w < ny && map[at(u, w, nx)] < v)
                        lowest = false;
                }
            if (!lowest)
                continue;
            out.emplace_back(v, int32_t(at(x, y, nx)));
        }
    const size_t keep = std::min(out.size(), size_t(kMinimaPerTurn));
    std::partial_sort(out.begin(), out.begin() + std::ptrdiff_t(keep), out.end());
    out.resize(keep);
}

bool usable(const OutlineMatchOptions& o)
{
    return std::isfinite(o.finestCell) && o.finestCell > 0.0 && o.levels >= 1 && o.levels <= 16
        && std::isfinite(o.errorCap) && o.errorCap > 0.0 && o.maxPlacements >= 1;
}

std::vector<Point> finitePoints(const double* xy, int64_t count)
{
    std::vector<Point> points;
    if (!xy || count <= 0)
        return points;
    points.reserve(size_t(count));
    for (int64_t k = 0; k < count; ++k)
        if (std::isfinite(xy[2 * k]) && std::isfinite(xy[2 * k + 1]))
            points.push_back({xy[2 * k], xy[2 * k + 1]});
    return points;
}

} // namespace

bool matchOutline(const double* referenceXy, int64_t referenceCount, const double* movingXy, int64_t movingCount,
                  double pivotX, double pivotY, const OutlineMatchOptions& options,
                  std::vector<OutlinePlacement>& placements, OutlineMatchControl* control)
{
    placements.clear();
    const std::vector<Point> reference = finitePoints(referenceXy, referenceCount);
    std::vector<Point> moving = finitePoints(movingXy, movingCount);
    if (reference.empty() || moving.empty() || !usable(options) || !std::isfinite(pivotX) || !std::isfinite(pivotY))
        return false;
    for (Point& p : moving)
        p = {p.x - pivotX, p.y - pivotY};

    Box box{reference[0].x, reference[0].y, reference[0].x, reference[0].y};
    for (const Point& p : reference)
        box = {std::min(box.minX, p.x), std::min(box.minY, p.y), std::max(box.maxX, p.x), std::max(box.maxY, p.y)};
    double movingReach = 0.0, meanReach = 0.0;
    for (const Point& p : moving) {
        const double r = std::hypot(p.x, p.y);
        movingReach = std::max(movingReach, r);
        meanReach += r;
    }
    meanReach /= double(moving.size());

    const int32_t levelCount = options.levels;
    // A floor too large for the finest cell is matched on coarser cells throughout.
    double finest = options.finestCell;
    const double span = std::max(box.maxX - box.minX, box.maxY - box.minY) + 2.0 * options.errorCap;
    while (span / finest > kMostCellsPerSide - 4)
        finest *= 2.0;
    const double coarsest = std::ldexp(finest, levelCount - 1);
    const int32_t turns = std::clamp(int32_t(std::ceil(2.0 * kPi * std::max(movingReach, coarsest) / coarsest)),
                                     kLeastTurns, kMostTurns);
    const double topTurnStep = 2.0 * kPi / turns;
    const int32_t mostSeeds = kSeedsPerPlacement * options.maxPlacements;
    if (control) {
        control->total.store(turns + mostSeeds);
        control->done.store(0);
    }

    // The pyramid, finest first; the coarsest reaches far enough that every shift tried below reads
    // inside it.
    std::vector<Level> levels;
    levels.reserve(size_t(levelCount));
    for (int32_t l = 0; l < levelCount; ++l) {
        const double cell = std::ldexp(finest, l);
        // The finest grid scores with the cap asked for; coarser ones see farther, so that a pose a
        // cell or two off still reads how far off it is.
        const double cap = l == 0 ? options.errorCap : std::max(options.errorCap, 2.0 * cell);
        const double margin = l == levelCount - 1 ? meanReach + movingReach + 2.0 * cell : cap + 2.0 * cell;
        levels.push_back({DistanceGrid(reference, box, margin, cell, cap), cellMeans(moving, cell),
                          std::ldexp(topTurnStep, l - (levelCount - 1))});
        if (cancelled(control))
            return false;
    }

    // Every turn and shift on the coarsest grid: the pivot goes to every cell within the moving
    // points' mean reach of the reference.
    const Level& top = levels.back();
    const DistanceGrid& topGrid = top.grid;
    const double qx0 = box.minX - meanReach;
    const double qy0 = box.minY - meanReach;
    const int32_t nx = int32_t(std::floor((box.maxX + meanReach - qx0) / coarsest)) + 1;
    const int32_t ny = int32_t(std::floor((box.maxY + meanReach - qy0) / coarsest)) + 1;
    std::vector<Seed> minima;
#pragma omp parallel
    {
        std::vector<float> map(size_t(nx) * size_t(ny));
        std::vector<std::pair<float, int32_t>> found;
#pragma omp for schedule(dynamic)
        for (int32_t t = 0; t < turns; ++t) {
            if (cancelled(control))
                continue;
            const double angle = t * topTurnStep;
            const double c = std::cos(angle), s = std::sin(angle);
            std::fill(map.begin(), map.end(), 0.0f);
            // Shifts move whole cells, so each point keeps its place between the cell centres.
            for (const Point& p : top.moving) {
                const double fx = (qx0 + c * p.x - s * p.y - topGrid.x0()) / coarsest;
                const double fy = (qy0 + s * p.x + c * p.y - topGrid.y0()) / coarsest;
                const int32_t ix = int32_t(std::floor(fx)), iy = int32_t(std::floor(fy));
                const float ax = float(fx - ix), ay = float(fy - iy);
                const float w00 = (1.0f - ax) * (1.0f - ay), w10 = ax * (1.0f - ay);
                const float w01 = (1.0f - ax) * ay, w11 = ax * ay;
                const int32_t w = topGrid.width();
                for (int32_t y = 0; y < ny; ++y) {
                    const float* __restrict p0 = topGrid.values() + at(ix, iy + y, w);
                    const float* __restrict p1 = p0 + w;
                    float* __restrict out = map.data() + at(0, y, nx);
                    for (int32_t x = 0; x < nx; ++x)
                        out[x] += w00 * p0[x] + w10 * p0[x + 1] + w01 * p1[x] + w11 * p1[x + 1];
                }
            }
            turnMinima(map, nx, ny, found);
#pragma omp critical(outline_match_minima)
            for (const auto& [cost, cell] : found)
                minima.push_back({{qx0 + (cell % nx) * coarsest, qy0 + (cell / nx) * coarsest, angle},
                                  cost / float(top.moving.size()), t, cell});
            countDone(control);
        }
    }
    if (cancelled(control))
        return false;

    // The best minima that are not near a better one, in a fixed order whatever the threads did.
    std::sort(minima.begin(), minima.end(), [](const Seed& a, const Seed& b) {
        return a.cost != b.cost ? a.cost < b.cost : a.turn != b.turn ? a.turn < b.turn : a.cell < b.cell;
    });
    std::vector<Seed> seeds;
    for (const Seed& m : minima) {
        if (int32_t(seeds.size()) == mostSeeds)
            break;
        const bool near = std::any_of(seeds.begin(), seeds.end(), [&](const Seed& s) {
            const int32_t turnGap = std::abs(s.turn - m.turn);
            return std::min(turnGap, turns - turnGap) <= 2 && std::abs(s.pose.x - m.pose.x) <= 2.0 * coarsest
                && std::abs(s.pose.y - m.pose.y) <= 2.0 * coarsest;
        });
        if (!near)
            seeds.push_back(m);
    }
    if (control)
        control->total.store(turns + int32_t(seeds.size()));

    // Each seed refined grid by grid, then below the finest cell.
    std::vector<double> errors(seeds.size());
#pragma omp parallel for schedule(dynamic)
    for (int32_t k = 0; k < int32_t(seeds.size()); ++k) {
        if (cancelled(control))
            continue;
        Pose& pose = seeds[size_t(k)].pose;
        for (int32_t l = levelCount - 2; l >= 0; --l)
            climb(levels[size_t(l)], pose, levels[size_t(l)].grid.cell(), levels[size_t(l)].turnStep);
        const Level& base = levels.front();
        double error = 0.0;
        for (int32_t h = 1; h <= kSubCellHalvings; ++h)
            error = climb(base, pose, std::ldexp(base.grid.cell(), -h), std::ldexp(base.turnStep, -h));
        errors[size_t(k)] = error;
        pose.angle = wrapAngle(pose.angle);
        countDone(control);
    }
    if (cancelled(control))
        return false;

    std::vector<size_t> order(seeds.size());
    for (size_t k = 0; k < order.size(); ++k)
        order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return errors[a] < errors[b]; });
    std::vector<Pose> kept;
    for (size_t k : order) {
        if (int32_t(placements.size()) == options.maxPlacements)
            break;
        const Pose& pose = seeds[k].pose;
        if (std::any_of(kept.begin(), kept.end(),
                        [&](const Pose& other) { return separation(top.moving, pose, other) < kDistinct; }))
            continue;
        kept.push_back(pose);
        placements.push_back({pose.x - pivotX, pose.y - pivotY, pose.angle, errors[k]});
    }
    return true;
}
