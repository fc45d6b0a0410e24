#include "base/geometry.h"

#include <QtGlobal>

#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

double vectorLength(const QPointF& v)
{
    return std::sqrt(v.x() * v.x() + v.y() * v.y());
}

double squaredLength(const QPointF& v)
{
    return v.x() * v.x() + v.y() * v.y();
}

double squaredDistance(const QPointF& a, const QPointF& b)
{
    const double dy = b.y() - a.y();
    const double dx = b.x() - a.x();
    return dy * dy + dx * dx;
}

double vectorAngleRad(const QPointF& v)
{
    return std::atan2(-v.y(), v.x());
}

double vectorAngleDeg360(const QPointF& v)
{
    const double a = std::atan2(-v.y(), v.x());
    double d = a * 360 / 6.283185307179586;
    if (d < 0)
        d += 360;
    if (qFuzzyCompare(d, 360.0))
        return 0;
    return d;
}

double angleBetweenPointsDeg(const QPointF& a, const QPointF& b)
{
    return std::atan2(a.y() - b.y(), b.x() - a.x()) * 57.29577951308232;
}

double distanceToSegment(const QPointF& a, const QPointF& b, const QPointF& p, bool clampToSegment)
{
    const QPointF d = b - a;
    const QPointF w = p - a;
    const double l2 = d.x() * d.x() + d.y() * d.y();
    const float px = float(p.x());
    const float py = float(p.y());
    if (l2 == 0)
        return std::hypot(float(a.x()) - px, float(a.y()) - py);
    double t = (d.x() * w.x() + d.y() * w.y()) / l2;
    if (clampToSegment) {
        if (t < 0)
            t = 0;
        else if (t > 1)
            t = 1;
    }
    const float fx = float(a.x() + t * d.x());
    const float fy = float(a.y() + t * d.y());
    return std::hypot(fx - px, fy - py);
}

namespace {

// The line through a and b as a point and a unit direction (the zero vector when a equals b),
// so that measuring many points against one line normalises only once.
struct UnitLine {
    double ax;
    double ay;
    double dx;
    double dy;
};

UnitLine unitLine(const QPoint& a, const QPoint& b)
{
    // Differences in double: integer subtraction of far-apart outline points could overflow.
    double dx = double(b.x()) - double(a.x());
    double dy = double(b.y()) - double(a.y());
    const double length = std::sqrt(dx * dx + dy * dy);
    if (length > 0) {
        dx /= length;
        dy /= length;
    }
    return {double(a.x()), double(a.y()), dx, dy};
}

double distanceFromLine(const UnitLine& line, const QPoint& p)
{
    const double vx = double(p.x()) - line.ax;
    const double vy = double(p.y()) - line.ay;
    const double s = vx * line.dx + vy * line.dy;
    const double ex = vx - s * line.dx;
    const double ey = vy - s * line.dy;
    return std::sqrt(ex * ex + ey * ey);
}

} // namespace

double pointToLineDistance(const QPoint& p, const QPoint& a, const QPoint& b)
{
    return distanceFromLine(unitLine(a, b), p);
}

QPointF closestPointOnLine(const QPointF& a, const QPointF& b)
{
    const QPointF d = b - a;
    const double q = d.x() * d.y();
    const QPointF u(q, std::abs(q));
    const double uu = u.x() * u.x() + u.y() * u.y();
    QPointF diagonal = a;
    if (uu != 0) {
        const double t = (u.x() * d.x() + u.y() * d.y()) / uu;
        diagonal = a + t * u;
    }
    const QPointF onVertical(a.x(), b.y());
    const QPointF onHorizontal(b.x(), a.y());
    const QPointF axis = squaredDistance(b, onVertical) > squaredDistance(b, onHorizontal) ? onHorizontal
                                                                                           : onVertical;
    return squaredDistance(b, axis) > squaredDistance(b, diagonal) ? diagonal : axis;
}

namespace {

struct FarthestPoint {
    double distance = 0;
    qsizetype index = 0; // relative to the range start; 0 when no inner point is strictly off the chord
};

FarthestPoint farthestFromChord(const QList<QPoint>& points, qsizetype first, qsizetype last)
{
    FarthestPoint best;
    const UnitLine chord = unitLine(points[first], points[last]);
    for (qsizetype i = first + 1; i < last; ++i) {
        const double d = distanceFromLine(chord, points[i]);
        if (d > best.distance) {
            best.distance = d;
            best.index = i - first;
        }
    }
    return best;
}

} // namespace

void simplifyPolyline(QList<QPoint> points, double tolerance, QList<QPoint>& out)
{
    // Depth-first over index ranges with an explicit stack: an outline's split chain can be as
    // long as the outline itself, far too deep for a thread's stack. Ranges are visited left part
    // first, so the kept points and the first failure are those of the recursive formulation.
    struct Range {
        qsizetype first;
        qsizetype last;
    };
    std::vector<Range> pending{{0, points.size() - 1}};
    QList<QPoint> kept;
    while (!pending.empty()) {
        const Range range = pending.back();
        pending.pop_back();
        if (range.last - range.first + 1 < 2)
            throw std::invalid_argument("Not enough points to simplify");
        const FarthestPoint split = farthestFromChord(points, range.first, range.last);
        if (split.distance > tolerance) {
            const qsizetype at = range.first + split.index;
            pending.push_back({at, range.last});
            pending.push_back({range.first, at});
        } else {
            // Leaves arrive left to right and share their end points, so each adds its last.
            if (kept.isEmpty())
                kept.append(points[range.first]);
            kept.append(points[range.last]);
        }
    }
    if (kept.size() < 2)
        throw std::runtime_error("Problem assembling output");
    out = std::move(kept);
}

int32_t nextPowerOfTwo(uint32_t n)
{
    uint32_t v = n - 1;
    v |= v >> 1;
    v |= v >> 2;
    v |= v >> 4;
    v |= v >> 8;
    v |= v >> 16;
    return int32_t(v + 1);
}
