#pragma once

#include <QJsonArray>
#include <QJsonValue>
#include <QPointF>

#include <cstdint>

// Readers of single values from untrusted JSON records. Each gives its fallback for a missing value,
// a value of another type or one that does not fit, so no caller converts a non-finite or
// out-of-range number.

// A finite number.
double jsonFinite(const QJsonValue& value, double fallback = 0);
// True for a finite number that a float holds: beyond float range the conversion would give
// infinity (or, out of a double, be undefined), which no writer of a record can store again.
bool fitsFloat(double value);
// An angle stored as radians with the sign flipped (angles.h), in degrees; the fallback for a
// value that is no number or whose degrees no double holds (written again, they would be null).
double jsonAngle(const QJsonValue& value, double fallback = 0);
// A whole-degree view angle stored that way, as degrees in a float; the fallback also for one
// beyond a billion degrees, which no int holds once rounded.
float jsonViewAngle(const QJsonValue& value, float fallback = 0.0f);
// A number rounded half away from zero that fits an int (non-integral numbers included, which
// QJsonValue::toInt would turn into the fallback).
int jsonRounded(const QJsonValue& value, int fallback = 0);
// An id: a whole number from 1 to kMaxUniqueId; 0 for anything else.
uint32_t jsonId(const QJsonValue& value);
// [x, y] as a point; a missing or unusable coordinate is 0.
QPointF jsonPoint(const QJsonValue& value);
// True when the value is an array holding at least two finite numbers first.
bool isJsonPoint(const QJsonValue& value);
