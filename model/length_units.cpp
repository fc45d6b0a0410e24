#include "model/length_units.h"

#include "base/length_text.h"
#include "model/app_settings.h"

#include <cmath>
#include <limits>

QString formatMetersOrFeet(double mm, bool spaceBeforeUnit)
{
    return formatLength(mm, spaceBeforeUnit, AppSettings::metricSystem ? 4 : 0);
}

QString formatCentimetersOrInches(double mm, bool spaceBeforeUnit)
{
    return formatLength(mm, spaceBeforeUnit, AppSettings::metricSystem ? 3 : 1);
}

qint32 parseLengthInUnits(const QString& text)
{
    const double rounded = std::round(parseNumber(text, AppSettings::metricSystem));
    // Checked before the conversion: an out-of-range double to int is undefined.
    if (!std::isfinite(rounded) || rounded < double(std::numeric_limits<qint32>::min())
        || rounded > double(std::numeric_limits<qint32>::max()))
        return 0;
    return qint32(rounded);
}
