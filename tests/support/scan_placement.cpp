#include "support/scan_placement.h"

#include "model/floor.h"
#include "model/panorama.h"

#include <QDir>
#include <QJsonObject>

#include <stdexcept>

namespace testsupport {

Panorama* placeScan(Floor* floor, const QString& name, PanoType type, const QPointF& pos, double rotation,
                    const QList<QPoint>& outline)
{
    QDir().mkpath(floor->folderPath() + "/" + name);
    Panorama* pano = Panorama::createFromFolder(QJsonObject(), name, floor);
    if (!pano)
        throw std::runtime_error("test fixture: no scan from folder " + name.toStdString());
    pano->setPanoType(type);
    pano->setPos(pos);
    pano->setRotation(rotation);
    pano->setOutline(outline);
    return pano;
}

} // namespace testsupport
