#pragma once

#include <QJsonObject>
#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>

namespace testsupport {

// Writes a raw project folder of the laser-line camera with tests/support/laser_line_project.py
// (Debian's python3 with numpy and PIL; "system.cfg" through make_system_cfg.py) and returns the
// script's description: per floor its "room" (polygon, y down) and "scans", each laser scan with
// its raw folder ("raw", at the top of the project), its folder after the import ("dir"), the
// "position" and "heading" (degrees) it must be placed at, the "compass" angles written, the
// room's "outline" in the scan's frame and the wall "points" each shot's centroids show. The
// options are the script's own (--floors N, --side S, --no-shots, --yaw2 R, ...).
QJsonObject makeLaserLineProject(const QString& folder, const QStringList& options = {});

// The wall points of one scan's three shots, in shot order.
QList<QPointF> laserWallPoints(const QJsonObject& scan);

} // namespace testsupport
