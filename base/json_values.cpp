#include "base/json_values.h"

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
