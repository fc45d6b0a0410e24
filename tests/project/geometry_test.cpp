#include "project/geometry.h"

#include <QThread>

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>

namespace {

// Textbook recursive form, kept deliberately naive: the iterative implementation must agree.
void recursiveReference(const QList<QPoint>& points, double tolerance, QList<QPoint>& out)
{
    if (points.size() < 2)
        throw std::invalid_argument("Not enough points to simplify");
    double dmax = 0;
    qsizetype index = 0;
    for (qsizetype i = 1; i + 1 < points.size(); ++i) {
        const double d = pointToLineDistance(points[i], points.first(), points.last());
        if (d > dmax) {
            dmax = d;
            index = i;
        }
    }
    if (dmax > tolerance) {
        QList<QPoint> left;
        QList<QPoint> right;
        recursiveReference(points.mid(0, index + 1), tolerance, left);
        recursiveReference(points.mid(index), tolerance, right);
        out = left.mid(0, left.size() - 1) + right;
        if (out.size() < 2)
            throw std::runtime_error("Problem assembling output");
    } else {
        out = {points.first(), points.last()};
    }
}

// A square spiral closing in on the origin: every chord from a point to the last one lies on an
// axis, and the next point is the farthest from it, so each split peels off one point.
QList<QPoint> inwardSquareSpiral(int turns)
{
    QList<QPoint> points;
    const QPoint directions[] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    for (int k = 0; k < turns; ++k)
        points.append(directions[k % 4] * (turns + 1 - k));
    points.append(QPoint(0, 0));
    return points;
}

} // namespace

TEST(Geometry, AnglesFlipTheScreenYAxis)
{
    EXPECT_DOUBLE_EQ(vectorAngleDeg360(QPointF(1, 0)), 0);
    EXPECT_DOUBLE_EQ(vectorAngleDeg360(QPointF(0, -1)), 90);
    EXPECT_DOUBLE_EQ(vectorAngleDeg360(QPointF(-1, 0)), 180);
    EXPECT_DOUBLE_EQ(vectorAngleDeg360(QPointF(0, 1)), 270);
    EXPECT_EQ(vectorAngleDeg360(QPointF(1, 1e-14)), 0.0); // a hair below 360 reads as 0
    EXPECT_DOUBLE_EQ(vectorAngleRad(QPointF(0, -2)), M_PI / 2);
    EXPECT_DOUBLE_EQ(angleBetweenPointsDeg(QPointF(0, 0), QPointF(0, 10)), -90);
    EXPECT_DOUBLE_EQ(angleBetweenPointsDeg(QPointF(5, 5), QPointF(0, 5)), 180);
}

TEST(Geometry, DistancesToLinesAndSegments)
{
    EXPECT_NEAR(distanceToSegment(QPointF(0, 0), QPointF(10, 0), QPointF(15, 5), true), 7.0710678, 1e-6);
    EXPECT_DOUBLE_EQ(distanceToSegment(QPointF(0, 0), QPointF(10, 0), QPointF(15, 5), false), 5);
    EXPECT_DOUBLE_EQ(distanceToSegment(QPointF(2, 2), QPointF(2, 2), QPointF(5, 6), false), 5);
    // The result is a widened float: 0.1 is not representable the same way in both.
    EXPECT_EQ(distanceToSegment(QPointF(0, 0), QPointF(10, 0), QPointF(5, 0.1), false), double(0.1f));

    EXPECT_DOUBLE_EQ(pointToLineDistance(QPoint(3, 4), QPoint(0, 0), QPoint(0, 0)), 5);
    EXPECT_DOUBLE_EQ(pointToLineDistance(QPoint(5, 7), QPoint(0, 0), QPoint(10, 0)), 7);
    // Coordinates far apart: an integer difference would overflow.
    EXPECT_DOUBLE_EQ(pointToLineDistance(QPoint(0, 2000000000), QPoint(-2000000000, 0), QPoint(2000000000, 0)),
                     2e9);
}

TEST(Geometry, ClosestPointSnapsToAxesAndDiagonals)
{
    const struct {
        QPointF b;
        QPointF expected;
    } cases[] = {
        {{10, 1}, {10, 0}},     {{1, 10}, {0, 10}},   {{10, 9}, {9.5, 9.5}},   {{5, 5}, {5, 5}},
        {{-10, 9}, {-9.5, 9.5}}, {{0, 7}, {0, 7}}, {{-7, 0}, {-7, 0}}, {{4, -4}, {4, -4}},
        {{2, 2 + 1e-9}, {2 + 5e-10, 2 + 5e-10}},
    };
    for (const auto& c : cases) {
        const QPointF p = closestPointOnLine(QPointF(0, 0), c.b);
        EXPECT_NEAR(p.x(), c.expected.x(), 1e-12) << c.b.x() << "," << c.b.y();
        EXPECT_NEAR(p.y(), c.expected.y(), 1e-12) << c.b.x() << "," << c.b.y();
    }
    const QPointF anchored = closestPointOnLine(QPointF(100, 100), QPointF(110, 101));
    EXPECT_EQ(anchored, QPointF(110, 100));
}

TEST(Geometry, NextPowerOfTwo)
{
    const struct {
        uint32_t n;
        int32_t expected;
    } cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 4}, {1025, 2048}, {0x80000000u, INT32_MIN}, {0x80000001u, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(nextPowerOfTwo(c.n), c.expected) << c.n;
}

TEST(SimplifyPolyline, SmallCasesAndFailures)
{
    QList<QPoint> out{{9, 9}};
    simplifyPolyline({{0, 0}, {5, 1}, {10, 0}}, 2, out);
    EXPECT_EQ(out, (QList<QPoint>{{0, 0}, {10, 0}}));
    simplifyPolyline({{0, 0}, {5, 1}, {10, 0}}, 0.5, out);
    EXPECT_EQ(out, (QList<QPoint>{{0, 0}, {5, 1}, {10, 0}}));
    simplifyPolyline({{1, 2}, {3, 4}}, 0, out);
    EXPECT_EQ(out, (QList<QPoint>{{1, 2}, {3, 4}}));
    // First point reaching the largest distance is the one kept.
    simplifyPolyline({{0, 0}, {3, 2}, {6, 2}, {9, 0}}, 1, out);
    EXPECT_EQ(out, (QList<QPoint>{{0, 0}, {3, 2}, {9, 0}}));

    out = {{7, 7}};
    try {
        simplifyPolyline({{1, 1}}, 1, out);
        FAIL() << "a single point was accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Not enough points to simplify");
    }
    EXPECT_EQ(out, (QList<QPoint>{{7, 7}})); // untouched on failure
    // A negative tolerance splits even a bare segment, reaching a one-point range.
    EXPECT_THROW(simplifyPolyline({{0, 0}, {5, 0}}, -1, out), std::invalid_argument);
    EXPECT_THROW(recursiveReference({{0, 0}, {5, 0}}, -1, out), std::invalid_argument);
}

TEST(SimplifyPolyline, MatchesRecursiveFormOnRandomOutlines)
{
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> coordinate(-50, 50);
    std::uniform_int_distribution<int> length(2, 60);
    const double tolerances[] = {0, 0.5, 1, 3, 10, 40};
    for (int trial = 0; trial < 400; ++trial) {
        QList<QPoint> points;
        const int n = length(random);
        for (int i = 0; i < n; ++i)
            points.append(QPoint(coordinate(random), coordinate(random)));
        if (trial % 5 == 0)
            points.last() = points.first(); // closed outlines measure from the first point
        for (double tolerance : tolerances) {
            QList<QPoint> expected;
            QList<QPoint> actual;
            recursiveReference(points, tolerance, expected);
            simplifyPolyline(points, tolerance, actual);
            ASSERT_EQ(actual, expected) << "trial " << trial << " tolerance " << tolerance;
        }
    }
}

TEST(SimplifyPolyline, DeepSplitChainRunsOnASmallStack)
{
    // 100 000 points whose first few thousand splits each peel off one point, then a long stretch
    // within the tolerance of the origin. A recursive form would nest once per peeled point,
    // hundreds of kilobytes of stack.
    const int turns = 2500;
    QList<QPoint> points = inwardSquareSpiral(turns);
    points.removeLast();
    while (points.size() < 100000 - 1)
        points.append(QPoint(points.size() % 2, 0));
    points.append(QPoint(0, 0));
    ASSERT_EQ(points.size(), 100000);

    QList<QPoint> out;
    bool failed = false;
    QThread* worker = QThread::create([&] {
        try {
            simplifyPolyline(points, 1.0, out);
        } catch (...) {
            failed = true;
        }
    });
    worker->setStackSize(128 * 1024);
    worker->start();
    ASSERT_TRUE(worker->wait(QDeadlineTimer(300000)));
    delete worker;

    ASSERT_FALSE(failed);
    QList<QPoint> expected = points.mid(0, turns);
    expected.append(QPoint(0, 0));
    EXPECT_EQ(out, expected);
}
