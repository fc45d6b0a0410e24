#include "model/panorama.h"

#include "base/file_names.h"
#include "base/json_values.h"
#include "model/floor.h"
#include "model/property.h"
#include "model/saved_project_files.h"
#include "model/scan_files.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QPainter>


namespace {
QString trPanorama(const char* text)
{
    return QCoreApplication::translate("Panorama", text);
}

constexpr double kMarkerRadius = 150;
// Outline points are drawn as 6 x 6 squares about each point.
constexpr double kPointHalfSize = 3;
}

Panorama::Panorama(const QString& dir)
    : DraftGraphicRotatingItem(nullptr, 0), m_dir(dir), m_guiJobGuard(std::make_unique<QObject>())
{
    // Jobs for the GUI thread are connected to the guard, so it must live there.
    if (QCoreApplication* app = QCoreApplication::instance())
        m_guiJobGuard->moveToThread(app->thread());
    setFlag(ItemIsMovable, true);
    setAcceptHoverEvents(true);
    m_shown = true;
}

Panorama::~Panorama()
{
    if (Floor* f = floor())
        f->forgetPano(this);
}

Panorama* Panorama::createFromFolder(const QJsonObject& json, const QString& folder, Floor* floor)
{
    if (!floor || folder.isEmpty())
        return nullptr;
    QString dirName = folder;
    if (QDir::isAbsolutePath(folder)) {
        const QFileInfo info(folder);
        if (QDir::cleanPath(info.absolutePath()) != QDir::cleanPath(floor->folderPath()))
            return nullptr;
        dirName = info.fileName();
    }
    const Property* property = floor->idRegistry();
    if (!property || property->folder().isEmpty() || !isPlainName(floor->dir()) || !isPlainName(dirName))
        return nullptr;
    const QString path = floor->folderPath() + "/" + dirName;
    if (!QFileInfo(path).isDir())
        return nullptr;

    auto* pano = new Panorama(dirName);
    pano->setDefaultsForFolder(path);
    QJsonObject record = json;
    if (record.isEmpty())
        record = readPanoDat(path);
    pano->readRecord(record);
    floor->addItem(pano);
    if (const uint32_t id = jsonId(record["id"]))
        pano->setUniqueId(id);
    return pano;
}

void Panorama::setDefaultsForFolder(const QString& path)
{
    m_name = m_dir;
    if (QFileInfo(path + "/" + scanfiles::userSource).isFile()) {
        m_type = PanoType::User;
        m_equirectangular = true;
    } else if (QFileInfo(path + "/" + scanfiles::twoLensMainImage).isFile()
               || QFileInfo(path + "/" + scanfiles::firstExposure).isFile()
               || QFileInfo(path + "/" + scanfiles::laserLineMainImage).isFile()
               || QFileInfo(path + "/" + scanfiles::laserLineMainExposure).isFile()) {
        m_type = PanoType::Full;
    }
}

QString Panorama::folder() const
{
    const Floor* f = floor();
    return (f ? f->folderPath() : QString()) + "/" + m_dir;
}

bool Panorama::isShown(bool ownOnly) const
{
    if (!m_shown || !isPortalPanoType(m_type))
        return false;
    if (ownOnly)
        return true;
    const Floor* f = floor();
    return f && f->isShown();
}

void Panorama::setShown(bool on)
{
    if (on == m_shown)
        return;
    m_shown = on;
    if (Property* property = idRegistry()) {
        property->setDirty(true);
        emit property->statusUpdated();
    }
}

void Panorama::contextMenuActions(QMenu* menu)
{
    if (isPortalPanoType(m_type))
        menu->addAction(isShown(true) ? trPanorama("Hide in Ambrel") : trPanorama("Show in Ambrel"));
}

void Panorama::onContextAction(QAction* action)
{
    const QString text = action->text();
    if (text == trPanorama("Hide in Ambrel"))
        setShown(false);
    else if (text == trPanorama("Show in Ambrel"))
        setShown(true);
    else
        return;
    update();
}

void Panorama::setInitAngle(float degrees)
{
    m_initAngle = std::isfinite(degrees) ? static_cast<int>(std::lround(degrees)) : 0;
}

void Panorama::setOutline(const QList<QPoint>& points)
{
    prepareGeometryChange();
    m_outline = points;
}

QRectF Panorama::boundingRect() const
{
    QRectF rect(-kMarkerRadius, -kMarkerRadius, 2 * kMarkerRadius, 2 * kMarkerRadius);
    for (const QPoint& point : m_outline)
        rect |= QRectF(point.x() - kPointHalfSize, point.y() - kPointHalfSize, 2 * kPointHalfSize,
                       2 * kPointHalfSize);
    return rect.adjusted(-1, -1, 1, 1);
}

QPainterPath Panorama::shape() const
{
    return markerShape();
}

QPainterPath Panorama::markerShape() const
{
    QPainterPath path;
    path.addEllipse(QPointF(0, 0), kMarkerRadius, kMarkerRadius);
    return path;
}

void Panorama::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget)
{
    painter->save();
    painter->setBrush(Qt::NoBrush);
    QPen outlinePen(QColor(255, 255, 255));
    outlinePen.setCosmetic(true);
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(255, 255, 255));
    for (const QPoint& point : m_outline)
        painter->drawRect(QRectF(point.x() - kPointHalfSize, point.y() - kPointHalfSize, 2 * kPointHalfSize,
                                 2 * kPointHalfSize));
    const QColor markerColour = isShown(true) ? QColor(0, 170, 255) : QColor(128, 128, 128);
    QPen markerPen(markerColour, 3);
    markerPen.setCosmetic(true);
    painter->setPen(markerPen);
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(markerShape());
    // The direction the scan faces, along its own x axis.
    painter->drawLine(QPointF(0, 0), QPointF(kMarkerRadius, 0));
    painter->restore();
    DraftGraphicRotatingItem::paint(painter, option, widget);
}

QVariant Panorama::itemChange(GraphicsItemChange change, const QVariant& value)
{
    if (change == ItemSceneChange) {
        const QVariant result = DraftGraphicRotatingItem::itemChange(change, value);
        if (Floor* f = floor())
            f->removePano(this);
        return result;
    }
    if (change == ItemSceneHasChanged) {
        const QVariant result = DraftGraphicRotatingItem::itemChange(change, value);
        if (Floor* f = floor())
            f->appendPano(this);
        return result;
    }
    return DraftGraphicRotatingItem::itemChange(change, value);
}

void Panorama::onGeometryChanged(bool)
{
    if (Floor* f = floor())
        f->invalidateCompass();
}

bool Panorama::moveToFloor(Floor* target)
{
    Floor* from = floor();
    if (!target || target == from)
        return target != nullptr;
    QString newDir = m_dir;
    const QString oldPath = folder();
    const Property* property = target->idRegistry();
    const bool hasFolder = from && property && !property->folder().isEmpty() && isPlainName(m_dir)
        && isPlainName(from->dir()) && QFileInfo(oldPath).isDir();
    if (hasFolder) {
        // Never merge two scans' folders: the target may already hold a folder of this name.
        const QString newPath = isPlainName(target->dir())
            ? uniqueFileName(target->folderPath() + "/" + m_dir, false)
            : QString();
        if (newPath.isEmpty() || !QDir().rename(oldPath, newPath)) {
            qWarning().noquote() << QObject::tr("Could not move scan folder") << oldPath << QObject::tr("to")
                                 << target->folderPath();
            return false;
        }
        newDir = QFileInfo(newPath).fileName();
        const QString fromFloor = from->dir(), toFloor = target->dir(), oldDir = m_dir;
        QString reason;
        if (!updateSavedProjectFiles(
                property->folder(),
                [&](QJsonObject& project) {
                    return moveScanFolderInProject(project, fromFloor, oldDir, toFloor, newDir);
                },
                reason)) {
            // A saved project that names a folder no longer there would lose the scan and its tags.
            QDir().rename(newPath, oldPath);
            qWarning().noquote() << QObject::tr("Could not move scan folder") << oldPath << QObject::tr("to")
                                 << target->folderPath()
                                 << QObject::tr("(the saved project could not be updated: %1)").arg(reason);
            return false;
        }
    }
    if (from)
        from->removeItem(this);
    m_dir = newDir;
    target->addItem(this);
    return true;
}
