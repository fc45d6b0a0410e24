#include "support/model_fixture.h"

#include "model/panorama.h"

#include <QDir>
#include <QJsonObject>
#include <QPainter>

#include <cstdlib>

namespace testsupport {

std::atomic<int> TestItem::alive{0};

TestItem::TestItem(const QString& type, QGraphicsItem* parent)
    : DraftGraphicItem(parent, 0), m_type(type)
{
    setFlag(ItemIsMovable, true);
    ++alive;
}

TestItem::~TestItem()
{
    --alive;
}

ProjectFixture::ProjectFixture() : property(std::make_unique<Property>())
{
    property->setFolder(dir.path());
}

QString ProjectFixture::path(const QString& relative) const
{
    return relative.isEmpty() ? dir.path() : dir.filePath(relative);
}

Building* ProjectFixture::addBuilding(const QString& name)
{
    auto* building = new Building(property.get());
    building->setName(name);
    return building;
}

Floor* ProjectFixture::addFloor(Building* building, const QString& name)
{
    auto* floor = new Floor(building);
    floor->setName(name);
    return floor;
}

QString ProjectFixture::makeUserScanFolder(Floor* floor, const QString& name, int width, int height)
{
    const QString folder = floor->folderPath() + "/" + name;
    QDir().mkpath(folder);
    plantedSkyImage(width, height).save(folder + "/u.jpg", "JPG", 95);
    return folder;
}

Panorama* ProjectFixture::addUserScan(Floor* floor, const QString& name)
{
    makeUserScanFolder(floor, name);
    return Panorama::createFromFolder(QJsonObject(), name, floor);
}

QImage plantedSkyImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    QPainter painter(&image);
    painter.fillRect(0, 0, width, height / 2, QColor(60, 140, 240));
    painter.fillRect(0, height / 2, width, height - height / 2, QColor(120, 80, 30));
    painter.fillRect(0, 0, std::max(1, width / 20), std::max(1, height / 10), QColor(230, 20, 20));
    return image;
}

bool isSkyColour(QRgb pixel)
{
    return std::abs(qRed(pixel) - 60) < 30 && std::abs(qGreen(pixel) - 140) < 30 && std::abs(qBlue(pixel) - 240) < 30;
}

bool isGroundColour(QRgb pixel)
{
    return std::abs(qRed(pixel) - 120) < 30 && std::abs(qGreen(pixel) - 80) < 30 && std::abs(qBlue(pixel) - 30) < 30;
}

QList<Panorama*> scansOf(const Property& property)
{
    QList<Panorama*> scans;
    for (Building* building : property.buildings())
        for (Floor* floor : building->floors())
            scans += floor->panos();
    return scans;
}

} // namespace testsupport
