#pragma once

#include <QString>
#include <QtGlobal>

// Angles are stored in project files as radians with the sign flipped against the scene's degrees.
double degreesToJsonAngle(double degrees);
double jsonAngleToDegrees(double radians);

// Lengths in the unit system the user chose (AppSettings::metricSystem).
QString formatMetersOrFeet(double mm, bool spaceBeforeUnit);
QString formatCentimetersOrInches(double mm, bool spaceBeforeUnit);
// Whole millimetres, rounded half away from zero; 0 for text that cannot be read or whose value
// does not fit 32 bits.
qint32 parseLengthInUnits(const QString& text);
