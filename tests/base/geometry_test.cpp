#include "base/geometry.h"
#include <QThread>
#include <gtest/gtest.h>
#include <memory>
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
    for (qsizetype i = 1; i + 1 < points.size(); ++i)
        if (const double d = pointToLineDistance(points[i], points.first(), points.last()); d > dmax)
            dmax = d, index = i;
    out = {points.first(), points.last()};
    if (dmax > tolerance) {
        QList<QPoint> left, right;
        recursiveReference(points.mid(0, index + 1), tolerance, left);
        recursiveReference(points.mid(index), tolerance, right);
        out = left.mid(0, left.size() - 1) + right;
    }
}

} // namespace

TEST(Geometry, AnglesFlipTheScreenYAxisAndEdgeCasesHold)
{
    EXPECT_DOUBLE_EQ(angleBetweenPointsDeg(QPointF(5, 5), QPointF(5, 15)), -90);
    EXPECT_EQ(vectorAngleDeg360(QPointF(1, 1e-14)), 0.0); // a hair below 360 reads as 0
    EXPECT_DOUBLE_EQ(distanceToSegment(QPointF(0, 0), QPointF(10, 0), QPointF(15, 5), false), 5);
    EXPECT_NEAR(distanceToSegment(QPointF(0, 0), QPointF(10, 0), QPointF(15, 5), true), 7.0710678, 1e-6);
    EXPECT_DOUBLE_EQ(pointToLineDistance(QPoint(0, 2000000000), QPoint(-2000000000, 0), QPoint(2000000000, 0)), 2e9);
    EXPECT_EQ(nextPowerOfTwo(0x80000001u), 0);
    EXPECT_EQ(closestPointOnLine(QPointF(100, 100), QPointF(90, 109)), QPointF(90.5, 109.5));
}

TEST(SimplifyPolyline, MatchesTheRecursiveFormAndRefusesTooFewPoints)
{
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> coordinate(-50, 50), length(2, 60);
    for (int trial = 0; trial < 400; ++trial) {
        QList<QPoint> points;
        for (int i = length(random); i > 0; --i)
            points.append(QPoint(coordinate(random), coordinate(random)));
        if (trial % 5 == 0)
            points.last() = points.first(); // closed outlines measure from the first point
        for (double tolerance : {0.0, 0.5, 1.0, 3.0, 10.0, 40.0}) {
            QList<QPoint> expected, actual;
            recursiveReference(points, tolerance, expected);
            simplifyPolyline(points, tolerance, actual);
            ASSERT_EQ(actual, expected) << "trial " << trial << " tolerance " << tolerance;
        }
    }
    QList<QPoint> out{{7, 7}};
    EXPECT_THROW(simplifyPolyline({{1, 1}}, 1, out), std::invalid_argument);
    EXPECT_EQ(out, (QList<QPoint>{{7, 7}})) << "untouched on failure";
    // A negative tolerance splits even a bare segment, reaching a one-point range.
    EXPECT_THROW(simplifyPolyline({{0, 0}, {5, 0}}, -1, out), std::invalid_argument);
}

// A square spiral closing in on the origin peels off one point per split (a recursive form would nest
// once per point), then a long stretch lies within the tolerance.
TEST(SimplifyPolyline, DeepSplitChainOfAHundredThousandPointsRunsOnASmallStack)
{
    const int turns = 2500;
    const QPoint directions[] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    QList<QPoint> points;
    for (int k = 0; k < turns; ++k)
        points.append(directions[k % 4] * (turns + 1 - k));
    while (points.size() < 100000 - 1)
        points.append(QPoint(points.size() % 2, 0));
    points.append(QPoint(0, 0));
    QList<QPoint> out;
    std::unique_ptr<QThread> worker(QThread::create([&] { simplifyPolyline(points, 1.0, out); }));
    worker->setStackSize(128 * 1024);
    worker->start();
    ASSERT_TRUE(worker->wait(QDeadlineTimer(300000)));
    EXPECT_EQ(out, (points.mid(0, turns) + QList<QPoint>{{0, 0}}));
}
