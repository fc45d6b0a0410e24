#pragma once

#include "model/mixins.h"

#include <QPointF>
#include <QString>

// One tag on a scan, kept by value in its scan's list. Its direction from the scan is the azimuth
// fraction u (0..1 around) and the elevation fraction v (0 at the top, 1 at the bottom), d its
// distance in millimetres. originalU and originalV are the fractions as first read from a record,
// before any camera mapping; sceneX, sceneY, sceneZ the scene position the record carried.
class Tag final : public HasUniqueId {
public:
    // Height of the camera above the floor, in millimetres: the tag's z is measured from the floor.
    static constexpr double kCameraHeight = 1350;

    Property* idRegistry() const override { return m_registry; }
    QString typeName() const override { return QStringLiteral("tag"); }
    void setIdRegistry(Property* registry) { m_registry = registry; }

    // The tag's point on the plan in its scan's own coordinates.
    QPointF itemPoint() const;
    // Height above the floor; d is taken in single precision, as the portal reads it.
    double height() const;
    // u, v and d from a plan point in the scan's coordinates and a height; the inverse of
    // itemPoint and height.
    void setFromPlanPosition(const QPointF& itemPoint, double height);

    double u = 0;
    double v = 0;
    double d = 0;
    double originalU = 0;
    double originalV = 0;
    int sceneX = 0;
    int sceneY = 0;
    int sceneZ = 0;
    QString title;
    QString color;
    QString iconId;
    QString content;
    QString globalId;

private:
    Property* m_registry = nullptr;
};
