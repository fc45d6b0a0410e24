#pragma once

#include <QPoint>

// The lidar reader's test of one return against the one kept before it: a jump of more than half
// a degree in direction (four times the angle in degrees above 2), or a jump in range too large for
// the angle between them (distance / (4 x angle in degrees) / range above 0.0425), is no wall; when
// the two are also close in direction (4 x angle below 1.5) the earlier one is dropped as well.
struct LidarJump {
    bool reject = false;
    bool dropPrevious = false;
};

// The test as written: with the directions of both points in degrees (0 to 360, y down).
LidarJump lidarJumpByAngles(const QPoint& previous, const QPoint& current);
// The same decision, taken from the points' cross and dot products where they settle it beyond
// doubt and from the angles otherwise; about three times as fast.
LidarJump lidarJump(const QPoint& previous, const QPoint& current);
