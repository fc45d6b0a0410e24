#pragma once

// Plan rooms and the lidar outlines a scanner standing in them records, for the outline matching's
// tests and benchmark: walls are segments in millimetres (y down, as on a floor plan), a scan is
// the nearest wall along evenly spaced rays, with Gaussian range noise.

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace rooms {

struct Point {
    double x;
    double y;
};

struct Wall {
    Point a;
    Point b;
};

// The closed polygon's edges.
inline std::vector<Wall> polygonWalls(const std::vector<Point>& corners)
{
    std::vector<Wall> walls;
    for (size_t i = 0; i < corners.size(); ++i)
        walls.push_back({corners[i], corners[(i + 1) % corners.size()]});
    return walls;
}

// The L-shaped room of tests/support/make_ztm5_project.py: a rectangle with its top right corner
// cut away, and where that script's three scans stand in it.
inline std::vector<Point> lRoom()
{
    return {{-2600, -1900}, {1300, -1900}, {1300, -700}, {3100, -700}, {3100, 2300}, {-2600, 2300}};
}
inline std::vector<Point> lRoomScans()
{
    return {{-400, 300}, {500, 800}, {-1800, 1300}};
}

// Interleaved x, y of `rays` returns seen from `at`, the first ray at `startDeg`; rays that meet
// no wall leave no return.
inline std::vector<double> lidarOutline(const std::vector<Wall>& walls, Point at, int32_t rays, double startDeg,
                                        double noise, uint32_t seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss(0.0, noise);
    std::vector<double> xy;
    for (int32_t k = 0; k < rays; ++k) {
        const double angle = (startDeg + 360.0 * k / rays) * 3.14159265358979323846 / 180.0;
        const double dx = std::cos(angle), dy = std::sin(angle);
        double nearest = std::numeric_limits<double>::infinity();
        for (const Wall& w : walls) {
            const double ex = w.b.x - w.a.x, ey = w.b.y - w.a.y;
            const double denominator = dx * ey - dy * ex;
            if (std::abs(denominator) < 1e-12)
                continue;
            const double ax = w.a.x - at.x, ay = w.a.y - at.y;
            const double t = (ax * ey - ay * ex) / denominator;
            const double u = (ax * dy - ay * dx) / denominator;
            if (t > 0.0 && u >= 0.0 && u <= 1.0 && t < nearest)
                nearest = t;
        }
        if (!std::isfinite(nearest))
            continue;
        const double range = nearest + (noise > 0.0 ? gauss(random) : 0.0);
        xy.push_back(at.x + range * dx);
        xy.push_back(at.y + range * dy);
    }
    return xy;
}

// The points turned by `angle` about `pivot` and then moved by (tx, ty).
inline std::vector<double> placed(const std::vector<double>& xy, Point pivot, double angle, double tx, double ty)
{
    std::vector<double> out(xy.size());
    const double c = std::cos(angle), s = std::sin(angle);
    for (size_t k = 0; k + 1 < xy.size(); k += 2) {
        const double x = xy[k] - pivot.x, y = xy[k + 1] - pivot.y;
        out[k] = pivot.x + tx + c * x - s * y;
        out[k + 1] = pivot.y + ty + s * x + c * y;
    }
    return out;
}

// Twenty rooms in a block of five by four, each with a doorway in its lower wall, and a scanner
// off the middle of each: sizes differ, so that no room's outline fits another.
struct Block {
    std::vector<Wall> walls;
    std::vector<Point> scans;
};

inline Block twentyRooms()
{
    const double widths[5] = {3200, 4100, 3600, 4600, 3900};
    const double heights[4] = {3400, 4400, 3000, 3800};
    Block block;
    double y = 0.0;
    for (int32_t row = 0; row < 4; ++row) {
        double x = 0.0;
        for (int32_t column = 0; column < 5; ++column) {
            const double w = widths[column], h = heights[row];
            const double door = x + 600.0 + 150.0 * column;
            block.walls.push_back({{x, y}, {x + w, y}});
            block.walls.push_back({{x + w, y}, {x + w, y + h}});
            block.walls.push_back({{x + w, y + h}, {door + 900.0, y + h}});
            block.walls.push_back({{door, y + h}, {x, y + h}});
            block.walls.push_back({{x, y + h}, {x, y}});
            block.scans.push_back({x + w * (0.4 + 0.05 * column), y + h * (0.45 + 0.04 * row)});
            x += w;
        }
        y += heights[row];
    }
    return block;
}

} // namespace rooms
