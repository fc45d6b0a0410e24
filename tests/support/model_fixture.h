#pragma once

#include "model/building.h"
#include "model/draft_item.h"
#include "model/floor.h"
#include "model/property.h"

#include <QImage>
#include <QTemporaryDir>

#include <atomic>
#include <memory>

namespace testsupport {

// A plain draft item with a type word of the test's choosing; counts its live instances so that
// tests can see every item freed exactly once.
class TestItem : public DraftGraphicItem {
public:
    explicit TestItem(const QString& type = QStringLiteral("note"), QGraphicsItem* parent = nullptr);
    ~TestItem() override;
    QString typeName() const override { return m_type; }
    QRectF boundingRect() const override { return {-5, -5, 10, 10}; }
    static std::atomic<int> alive;

private:
    QString m_type;
};

class TestRotatingItem : public DraftGraphicRotatingItem {
public:
    TestRotatingItem() : DraftGraphicRotatingItem(nullptr, 0) {}
    QString typeName() const override { return QStringLiteral("item"); }
    QRectF boundingRect() const override { return {-5, -5, 10, 10}; }
};

// A property with a project folder in a temporary directory.
struct ProjectFixture {
    QTemporaryDir dir;
    std::unique_ptr<Property> property;

    ProjectFixture();
    QString path(const QString& relative = {}) const;
    Building* addBuilding(const QString& name);
    // A floor whose folder exists in the project folder.
    Floor* addFloor(Building* building, const QString& name);
    // A folder inside the floor's folder holding a picture "u.jpg".
    QString makeUserScanFolder(Floor* floor, const QString& name, int width = 64, int height = 32);
    // A user scan placed on the floor (not reloaded).
    Panorama* addUserScan(Floor* floor, const QString& name);
};

// Every scan of the property, building by building and floor by floor, each floor's in its order.
QList<Panorama*> scansOf(const Property& property);

// A top-down picture whose upper half is sky blue and lower half brown, with a red square at the
// top left corner: orientation markers for the image paths.
QImage plantedSkyImage(int width, int height);
bool isSkyColour(QRgb pixel);
bool isGroundColour(QRgb pixel);

} // namespace testsupport
