#pragma once

#include <QList>
#include <QPoint>

#include <array>

// How far the second and third lidar sweeps of a one-lens scan are turned against the first,
// found by matching their range profiles (one bin per quarter degree).
//
// headings[1] belongs to pointLists[1] and headings[2] to pointLists[2], both in radians against
// pointLists[0]; headings[0] is neither read nor written. Each is searched within 25 degrees of
// its nominal turn (240 degrees for index 1, 120 for index 2). mode 0 leaves the headings alone;
// mode 1 takes a match only when it is clearly better than the nominal turn, and the nominal turn
// otherwise; mode 2 or more always takes the best match. A sweep that overlaps the first at no
// turn at all gives no evidence: its heading keeps the value it came with in every mode.
void estimateLidarHeading(const std::array<QList<QPoint>, 3>& pointLists, std::array<float, 3>& headings, int mode);
