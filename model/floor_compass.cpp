#include "model/floor.h"

#include "base/geometry.h"
#include "model/panorama.h"

#include <cmath>

// Each scan with compass data adds the unit vector at (scene angle - compass) degrees, in the
// plan's convention of angles (y pointing down, counter-clockwise on screen), so that the angle of
// the sum is the floor's compass rotation.
QPointF Floor::northVector()
{
    if (std::isnan(m_northVector.x())) {
        QPointF sum(0, 0);
        for (const Panorama* pano : std::as_const(m_panos)) {
            const float compass = pano->compass();
            if (std::isnan(compass))
                continue;
            const double radians = (pano->sceneAngle() - compass) * 3.141592653589793 / 180.0;
            sum += QPointF(std::cos(radians), -std::sin(radians));
        }
        m_northVector = sum;
        emit measurementsUpdated();
    }
    return m_northVector;
}

double Floor::compassRotation()
{
    if (!std::isnan(m_compassRotation))
        return m_compassRotation;
    const QPointF vector = northVector();
    if (vector.x() == 0 && vector.y() == 0)
        return qQNaN();
    return vectorAngleDeg360(vector);
}

bool Floor::hasCompassRotation() const
{
    return !std::isnan(m_compassRotation);
}

void Floor::invalidateCompass()
{
    m_northVector = QPointF(qQNaN(), qQNaN());
    markChanged();
}
