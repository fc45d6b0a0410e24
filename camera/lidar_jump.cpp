#include "camera/lidar_jump.h"

#include "base/geometry.h"

#include <cmath>
#include <cstdint>

namespace {
constexpr double kMostAngle = 2.0;     // 4 x degrees
constexpr double kCloseAngle = 1.5;    // 4 x degrees
constexpr double kMostRatio = 0.0425;
constexpr double kQuarterDegreesPerRadian = 4.0 * 360.0 / 6.283185307179586;
// Beyond this sine the points are more than a degree apart: a jump whatever the rounding.
constexpr double kLargeSine = 0.02;
// The angles' difference taken from two rounded directions is good to about 1e-12 (4 x degrees);
// decisions closer than these to a threshold are left to the angles themselves.
constexpr double kAngleMargin = 1e-7;
constexpr double kLeastSettledAngle = 1e-6;
constexpr double kRatioMargin = 1e-6;

LidarJump decide(double dAng, double ratio)
{
    const bool reject = dAng > kMostAngle || ratio > kMostRatio;
    return {reject, reject && dAng < kCloseAngle};
}

int64_t squaredLength(const QPoint& p)
{
    return int64_t(p.x()) * p.x() + int64_t(p.y()) * p.y();
}
} // namespace

LidarJump lidarJumpByAngles(const QPoint& previous, const QPoint& current)
{
    const double dist = vectorLength(QPointF(current - previous));
    const double range = vectorLength(QPointF(current));
    const double dAng = std::fabs(vectorAngleDeg360(QPointF(current)) - vectorAngleDeg360(QPointF(previous))) * 4.0;
    return decide(dAng, dist / dAng / range);
}

LidarJump lidarJump(const QPoint& previous, const QPoint& current)
{
    // The same point again: no distance, no angle, and 0 / 0 is no jump.
    if (current == previous)
        return {};
    if (previous.isNull() || current.isNull())
        return lidarJumpByAngles(previous, current);
    const int64_t cross = int64_t(previous.x()) * current.y() - int64_t(previous.y()) * current.x();
    const int64_t dot = int64_t(previous.x()) * current.x() + int64_t(previous.y()) * current.y();
    // A quarter turn or more apart, with or without the turn through 0 degrees: a jump, and not close.
    if (dot <= 0)
        return {true, false};
    // Squares throughout: the thresholds are compared without a root.
    const double range2 = double(squaredLength(current));
    const double sine2 = double(cross) * double(cross) / (double(squaredLength(previous)) * range2);
    if (sine2 > kLargeSine * kLargeSine)
        return {true, false};
    // Directions are measured from 0 to 360 degrees: two points on either side of the +x axis are
    // almost a full turn apart (a point on the axis counts as 0 degrees).
    if (previous.x() > 0 && current.x() > 0 && (previous.y() > 0) != (current.y() > 0))
        return {true, false};
    const double asinOverSine = 1.0 + sine2 * (1.0 / 6.0 + sine2 * (3.0 / 40.0)); // to 1e-12 here
    const double dAng2 = sine2 * asinOverSine * asinOverSine * kQuarterDegreesPerRadian * kQuarterDegreesPerRadian;
    if (dAng2 < kLeastSettledAngle * kLeastSettledAngle
        || std::fabs(dAng2 - kMostAngle * kMostAngle) < 2 * kMostAngle * kAngleMargin
        || std::fabs(dAng2 - kCloseAngle * kCloseAngle) < 2 * kCloseAngle * kAngleMargin)
        return lidarJumpByAngles(previous, current);
    const double dx = double(int64_t(current.x()) - previous.x()), dy = double(int64_t(current.y()) - previous.y());
    // ratio^2 = dist^2 / (dAng^2 range^2), compared against its limit without the division.
    const double dist2 = dx * dx + dy * dy;
    const double limit2 = kMostRatio * kMostRatio * dAng2 * range2;
    if (std::fabs(dist2 - limit2) < 2 * kRatioMargin * limit2)
        return lidarJumpByAngles(previous, current);
    const bool reject = dAng2 > kMostAngle * kMostAngle || dist2 > limit2;
    return {reject, reject && dAng2 < kCloseAngle * kCloseAngle};
}
