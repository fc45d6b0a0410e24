#pragma once

#include <QString>

// Lengths are held in millimetres. Texts use the C locale (a point as decimal separator).

// Display styles: 0 feet and inches, 1 inches, 2 inches below ten feet else feet and inches,
// 3 centimetres, 4 metres from 1000 mm up else centimetres, 5 metres. Other styles give "".
QString formatLength(double mm, bool spaceBeforeUnit, int style);

// Feet and inches (5'11"), or inches alone (3.9") below feetThreshold feet; keeps the sign.
QString formatFeetInches(double mm, int feetThreshold);

// Millimetres from a typed length: any text with an "m" is read as a metric quantity (m, cm, mm;
// a decimal comma counts as a point), a bare number as centimetres when metric is set, anything
// else as feet and inches (a bare number as inches). Unreadable or non-finite text gives 0.
double parseNumber(const QString& text, bool metric);

// METRES from feet and inches such as 5' 3", 5ft 3in, 5' or 12.5; 0 when the text does not match.
double parseFeetInches(QString text);
