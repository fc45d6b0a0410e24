#include "base/json_values.h"

#include "base/angles.h"
#include "base/unique_ids.h"

#include <cmath>
#include <limits>

double jsonFinite(const QJsonValue& value, double fallback)
{
    if (!value.isDouble())
        return fallback;
    const double number = value.toDouble();
    return std::isfinite(number) ? number : fallback;
}

bool fitsFloat(double value)
{
    return std::isfinite(value) && std::fabs(value) <= static_cast<double>(std::numeric_limits<float>::max());
}

double jsonAngle(const QJsonValue& value, double fallback)
{
    if (!value.isDouble())
        return fallback;
    const double degrees = jsonAngleToDegrees(value.toDouble());
    return std::isfinite(degrees) ? degrees : fallback;
}

float jsonViewAngle(const QJsonValue& value, float fallback)
{
    const double degrees = jsonAngle(value, fallback);
    return std::fabs(degrees) <= 1e9 ? static_cast<float>(degrees) : fallback;
}

int jsonRounded(const QJsonValue& value, int fallback)
{
    const double rounded = std::round(jsonFinite(value, fallback));
    if (rounded < std::numeric_limits<int>::min() || rounded > std::numeric_limits<int>::max())
        return fallback;
    return static_cast<int>(rounded);
}

uint32_t jsonId(const QJsonValue& value)
{
    const double number = jsonFinite(value, 0);
    if (number < 1 || number > kMaxUniqueId || number != std::floor(number))
        return 0;
    return static_cast<uint32_t>(number);
}

QPointF jsonPoint(const QJsonValue& value)
{
    const QJsonArray array = value.toArray();
    return {jsonFinite(array.at(0)), jsonFinite(array.at(1))};
}

bool isJsonPoint(const QJsonValue& value)
{
    const QJsonArray array = value.toArray();
    return array.size() >= 2 && array.at(0).isDouble() && array.at(1).isDouble()
        && std::isfinite(array.at(0).toDouble()) && std::isfinite(array.at(1).toDouble());
}
