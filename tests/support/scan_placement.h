#pragma once

#include "model/pano_type.h"

#include <QList>
#include <QPoint>
#include <QPointF>
#include <QString>

class Floor;
class Panorama;

namespace testsupport {

// A scan of any kind standing at a scene position, made from a new empty folder of the floor
// (the floor needs a folder in a project folder). Not processed.
Panorama* placeScan(Floor* floor, const QString& name, PanoType type, const QPointF& pos,
                    double rotation = 0, const QList<QPoint>& outline = {});

} // namespace testsupport
