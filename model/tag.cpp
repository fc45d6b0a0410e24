#include "model/tag.h"

#include "base/geometry.h"

#include <cmath>

namespace {
constexpr double kPi = 3.141592653589793;
}

QPointF Tag::itemPoint() const
{
    const double radians = 360.0 * u * kPi / 180.0;
    return {d * std::cos(radians), d * std::sin(radians)};
}

double Tag::height() const
{
    return kCameraHeight - std::tan(v * kPi - kPi / 2) * static_cast<double>(static_cast<float>(d));
}

void Tag::setFromPlanPosition(const QPointF& point, double z)
{
    u = 1 - vectorAngleDeg360(point) / 360;
    d = vectorLength(point);
    v = 0.5 - std::atan2(z - kCameraHeight, d) / kPi;
}
