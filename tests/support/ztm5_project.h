#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QPointF>
#include <QString>
#include <QStringList>

namespace testsupport {

// Writes a project folder of the one-lens lidar camera with tests/support/make_ztm5_project.py
// (Debian's python3 with numpy and PIL; "system.cfg" through make_system_cfg.py) and returns the
// script's description: per scan its folder ("dir", relative), the true turns "yaw3" and "yaw2"
// (radians), the room's "outline" in the first sweep's frame, the expected "lidarHeading"
// (degrees) and the "scanJson" written. The options are the script's own (--scans N, --side S,
// --exposures N, --exposure-width W, --step DEG, --noise MM, --plain-shots, --serial S, and
// --calib-azimuth RAD with --calib-tilt RAD for a lidar whose records carry that calibration
// error). Throws when the script fails.
QJsonObject makeZtm5Project(const QString& folder, const QStringList& options = {});

// Distance from p to the nearest edge of a closed polygon of [x, y] pairs.
double distanceToPolygon(const QJsonArray& polygon, const QPointF& p);

} // namespace testsupport
