#pragma once

#include <QList>
#include <QPoint>
#include <QPointF>

#include <cstdint>

// Plane geometry on scene coordinates, where y points down: angles are measured with y flipped,
// so a vector pointing up on the screen has angle +90 degrees. Stateless and thread-safe.

double vectorLength(const QPointF& v);
double squaredLength(const QPointF& v);
double squaredDistance(const QPointF& a, const QPointF& b);

// atan2(-v.y, v.x), radians in (-pi, pi].
double vectorAngleRad(const QPointF& v);
// Degrees in [0, 360); a direction a hair below 360 reads as 0.
double vectorAngleDeg360(const QPointF& v);
// Direction from a to b in degrees, (-180, 180].
double angleBetweenPointsDeg(const QPointF& a, const QPointF& b);

// Distance from p to the line through a and b, or to the segment a-b when clampToSegment is set.
// Computed in single precision (the callers' outlines are drawn in float).
double distanceToSegment(const QPointF& a, const QPointF& b, const QPointF& p, bool clampToSegment);

// Distance from p to the infinite line through a and b; the distance to a when a equals b.
double pointToLineDistance(const QPoint& p, const QPoint& a, const QPoint& b);

// b snapped to the nearest of the horizontal, vertical and 45-degree lines through anchor a.
QPointF closestPointOnLine(const QPointF& a, const QPointF& b);

// Ramer-Douglas-Peucker simplification; replaces `out` with the kept points.
// Throws std::invalid_argument for fewer than two points (also for any sub-range that ends up
// that short, as a negative tolerance causes) and std::runtime_error if assembly fails.
void simplifyPolyline(QList<QPoint> points, double tolerance, QList<QPoint>& out);

// Smallest power of two not below n; 0 gives 0, values above 2^31 wrap to 0.
int32_t nextPowerOfTwo(uint32_t n);
