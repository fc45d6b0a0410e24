#pragma once

#include <QString>
#include <QtGlobal>

#include "base/angles.h"

// Lengths in the unit system the user chose (AppSettings::metricSystem).
QString formatMetersOrFeet(double mm, bool spaceBeforeUnit);
QString formatCentimetersOrInches(double mm, bool spaceBeforeUnit);
// Whole millimetres, rounded half away from zero; 0 for text that cannot be read or whose value
// does not fit 32 bits.
qint32 parseLengthInUnits(const QString& text);
