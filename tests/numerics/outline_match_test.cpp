#include "numerics/outline_match.h"
#include "outline_rooms.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>

using rooms::Point;

namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;

// Two scans of the L room for reference, the third as it should stand.
struct LRoomScans {
    std::vector<double> reference;
    std::vector<double> third;
    Point pivot = rooms::lRoomScans()[2];

    LRoomScans()
    {
        const std::vector<rooms::Wall> walls = rooms::polygonWalls(rooms::lRoom());
        for (int32_t k = 0; k < 2; ++k) {
            const std::vector<double> scan =
                rooms::lidarOutline(walls, rooms::lRoomScans()[size_t(k)], 1800, 0.13 * k, 1.0, 7 + k);
            reference.insert(reference.end(), scan.begin(), scan.end());
        }
        third = rooms::lidarOutline(walls, pivot, 1800, 0.37, 1.0, 11);
    }
};

std::vector<OutlinePlacement> match(const std::vector<double>& reference, const std::vector<double>& moving,
                                    Point pivot, OutlineMatchControl* control = nullptr)
{
    std::vector<OutlinePlacement> found;
    EXPECT_TRUE(matchOutline(reference.data(), int64_t(reference.size() / 2), moving.data(),
                             int64_t(moving.size() / 2), pivot.x, pivot.y, OutlineMatchOptions(), found, control));
    return found;
}

// Mean distance from each point to its nearest reference point, at most cap, by brute force.
double nearestMean(const std::vector<double>& reference, const std::vector<double>& points, double cap)
{
    double sum = 0.0;
    for (size_t i = 0; i < points.size(); i += 2) {
        double best = cap * cap;
        for (size_t j = 0; j < reference.size(); j += 2) {
            const double dx = points[i] - reference[j], dy = points[i + 1] - reference[j + 1];
            best = std::min(best, dx * dx + dy * dy);
        }
        sum += std::sqrt(best);
    }
    return sum / double(points.size() / 2);
}

double angleGap(double a, double b)
{
    return std::abs(std::remainder(a - b, 2.0 * 3.14159265358979323846));
}

} // namespace

// A scan moved up to 1.5 m and turned up to 30 degrees away from where it stood comes back: the
// best placement undoes the displacement, and its error is the mean nearest-point distance.
TEST(OutlineMatch, AScanMovedAndTurnedAwayInTheLRoomComesBack)
{
    const LRoomScans room;
    const struct {
        double angleDeg, tx, ty;
    } displacements[] = {{30.0, 1500.0, 0.0}, {-30.0, -1060.0, 1060.0}, {12.5, 400.0, -900.0}, {-4.0, 0.0, 0.0}};
    for (const auto& d : displacements) {
        SCOPED_TRACE(d.angleDeg);
        const Point moved{room.pivot.x + d.tx, room.pivot.y + d.ty};
        const std::vector<double> moving = rooms::placed(room.third, room.pivot, d.angleDeg * kDegree, d.tx, d.ty);
        const std::vector<OutlinePlacement> found = match(room.reference, moving, moved);
        ASSERT_FALSE(found.empty());
        const OutlinePlacement& best = found[0];
        EXPECT_LT(angleGap(best.angle, -d.angleDeg * kDegree), 0.1 * kDegree);
        // Where the placement puts the pivot: back where the scan stood.
        EXPECT_NEAR(moved.x + best.tx, room.pivot.x, 5.0);
        EXPECT_NEAR(moved.y + best.ty, room.pivot.y, 5.0);
        const std::vector<double> back = rooms::placed(moving, moved, best.angle, best.tx, best.ty);
        EXPECT_NEAR(best.error, nearestMean(room.reference, back, OutlineMatchOptions().errorCap), 4.0);
        EXPECT_LT(best.error, 15.0);
    }
}

// A rectangular room looks the same turned half round: both placements are found, as distinct
// candidates, best first, and every candidate is at least 100 mm from every other.
TEST(OutlineMatch, ASymmetricRoomGivesBothPlacementsAndTheListIsDistinctAndOrdered)
{
    const std::vector<rooms::Wall> walls =
        rooms::polygonWalls({{-2500, -2000}, {2500, -2000}, {2500, 2000}, {-2500, 2000}});
    const std::vector<double> reference = rooms::lidarOutline(walls, {600, 300}, 3600, 0.0, 1.0, 3);
    const Point at{-900, -400};
    const std::vector<double> moving =
        rooms::placed(rooms::lidarOutline(walls, at, 3600, 0.05, 1.0, 4), at, 20 * kDegree, 300, 200);
    const Point moved{at.x + 300, at.y + 200};
    const std::vector<OutlinePlacement> found = match(reference, moving, moved);
    ASSERT_GE(found.size(), 2u);
    ASSERT_LE(found.size(), size_t(OutlineMatchOptions().maxPlacements));
    for (size_t k = 1; k < found.size(); ++k)
        EXPECT_LE(found[k - 1].error, found[k].error) << k;
    EXPECT_LT(found[1].error, 15.0) << "the half turn fits as well";
    EXPECT_LT(angleGap(found[0].angle, found[1].angle + 3.14159265358979323846), 0.2 * kDegree);
    // Each one puts the scan at its true place or at its mirror through the room's middle.
    for (size_t k = 0; k < 2; ++k) {
        const double x = moved.x + found[k].tx, y = moved.y + found[k].ty;
        EXPECT_LT(std::min(std::hypot(x - at.x, y - at.y), std::hypot(x + at.x, y + at.y)), 5.0) << k;
    }
    for (size_t a = 0; a < found.size(); ++a)
        for (size_t b = a + 1; b < found.size(); ++b) {
            const std::vector<double> pa = rooms::placed(moving, moved, found[a].angle, found[a].tx, found[a].ty);
            const std::vector<double> pb = rooms::placed(moving, moved, found[b].angle, found[b].tx, found[b].ty);
            double most = 0.0;
            for (size_t i = 0; i < pa.size(); i += 2)
                most = std::max(most, std::hypot(pa[i] - pb[i], pa[i + 1] - pb[i + 1]));
            EXPECT_GE(most, 100.0) << a << " " << b;
        }
}

// A round room fits no wall of the L room: the best error says so.
TEST(OutlineMatch, ARoomWithNoOverlapScoresFarFromEveryPlacement)
{
    const LRoomScans room;
    std::vector<Point> circle;
    for (int32_t k = 0; k < 72; ++k)
        circle.push_back({1800.0 * std::cos(k * 5 * kDegree), 1800.0 * std::sin(k * 5 * kDegree)});
    const std::vector<double> moving = rooms::lidarOutline(rooms::polygonWalls(circle), {200, 100}, 1800, 0.0, 1.0, 5);
    const std::vector<OutlinePlacement> found = match(room.reference, moving, {200, 100});
    ASSERT_FALSE(found.empty());
    EXPECT_GT(found[0].error, 100.0);
}

// The threads share only the list of minima, which is put in order before it is used.
TEST(OutlineMatch, OneThreadAndManyFindTheSamePlacements)
{
    const LRoomScans room;
    const std::vector<double> moving = rooms::placed(room.third, room.pivot, 17 * kDegree, -700, 350);
    const Point moved{room.pivot.x - 700, room.pivot.y + 350};
    const int32_t threads = omp_get_max_threads();
    omp_set_num_threads(1);
    const std::vector<OutlinePlacement> one = match(room.reference, moving, moved);
    omp_set_num_threads(std::max(threads, 4));
    const std::vector<OutlinePlacement> many = match(room.reference, moving, moved);
    omp_set_num_threads(threads);
    ASSERT_EQ(one.size(), many.size());
    for (size_t k = 0; k < one.size(); ++k) {
        EXPECT_EQ(one[k].tx, many[k].tx) << k;
        EXPECT_EQ(one[k].ty, many[k].ty) << k;
        EXPECT_EQ(one[k].angle, many[k].angle) << k;
        EXPECT_EQ(one[k].error, many[k].error) << k;
    }
}

// The control counts the work to its end; a cancelled search and unusable input find nothing.
TEST(OutlineMatch, CountsItsWorkStopsWhenCancelledAndRefusesUnusableInput)
{
    const LRoomScans room;
    OutlineMatchControl control;
    const std::vector<OutlinePlacement> found = match(room.reference, room.third, room.pivot, &control);
    EXPECT_FALSE(found.empty());
    EXPECT_GT(control.total.load(), 8);
    EXPECT_EQ(control.done.load(), control.total.load());

    std::vector<OutlinePlacement> out{OutlinePlacement{}};
    OutlineMatchControl stop;
    stop.cancel = true;
    EXPECT_FALSE(matchOutline(room.reference.data(), int64_t(room.reference.size() / 2), room.third.data(),
                              int64_t(room.third.size() / 2), room.pivot.x, room.pivot.y, OutlineMatchOptions(), out,
                              &stop));
    EXPECT_TRUE(out.empty());

    const double nan = std::nan("");
    const std::vector<double> unusable{nan, 0.0, 1.0, nan};
    EXPECT_FALSE(matchOutline(room.reference.data(), int64_t(room.reference.size() / 2), unusable.data(), 2, 0.0, 0.0,
                              OutlineMatchOptions(), out));
    EXPECT_FALSE(matchOutline(room.reference.data(), 0, room.third.data(), int64_t(room.third.size() / 2), 0.0, 0.0,
                              OutlineMatchOptions(), out));
    OutlineMatchOptions noCell;
    noCell.finestCell = 0.0;
    EXPECT_FALSE(matchOutline(room.reference.data(), int64_t(room.reference.size() / 2), room.third.data(),
                              int64_t(room.third.size() / 2), room.pivot.x, room.pivot.y, noCell, out));
    EXPECT_FALSE(matchOutline(room.reference.data(), int64_t(room.reference.size() / 2), room.third.data(),
                              int64_t(room.third.size() / 2), nan, room.pivot.y, OutlineMatchOptions(), out));
}
