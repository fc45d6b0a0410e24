#pragma once

#include <QJsonValue>

#include <gtest/gtest.h>

namespace testsupport {

// Parsed JSON equality in which numbers may differ by a relative tolerance (values that went
// through a unit conversion and back); the failure names the first differing path.
::testing::AssertionResult jsonNear(const QJsonValue& expected, const QJsonValue& actual, double tolerance = 1e-12);

} // namespace testsupport
