#include "model/floor.h"

#include "base/file_names.h"
#include "base/questions.h"
#include "model/building.h"
#include "model/constants.h"
#include "model/floor_reader.h"
#include "model/panorama.h"
#include "model/property.h"
#include "model/saved_project_files.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsRectItem>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QMutexLocker>
#include <QUndoStack>

#include <cmath>
#include <limits>

namespace {
const QLatin1String kPicturesPrefix("Pictures");
constexpr double kSceneHalfExtent = 100000;
}

Floor::Floor(Building* building)
    : m_building(nullptr),
      m_compassRotation(std::numeric_limits<double>::quiet_NaN()),
      m_northVector(std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN())
{
    m_undoStack = new QUndoStack(this);
    m_undoStack->setUndoLimit(kUndoLimit);
    connect(m_undoStack, &QUndoStack::indexChanged, this, &Floor::on_indexChanged);
    if (building)
        building->addFloor(this);
    setItemIndexMethod(NoIndex);
    setStickyFocus(false);
    markChanged();
    m_highlighted.clear();
    m_compassRotation = std::numeric_limits<double>::quiet_NaN();
    m_actualExtWallThickness = 0;
    setShown(true);
    clearUndoHistory();
    m_name.clear();
    m_globalId.clear();
    m_dir.clear();
    clear();
    m_ceilingHeight = 0;
    resetScene();
}

Floor::~Floor()
{
    emit highlightedPanosChanged({});
    m_destroying = true;
    // The stack and the items die with the floor; nothing may report back into the property.
    m_undoStack->disconnect(this);
    m_undoStack->clear();
    m_highlighted.clear();
    const QList<Panorama*> panos = m_panos;
    m_panos.clear();
    if (Property* property = idRegistry())
        for (Panorama* pano : panos)
            property->forgetPano(pano);
    clear();
}

QString Floor::name() const
{
    return m_building ? m_building->name() + "/" + m_name : m_name;
}

Property* Floor::idRegistry() const
{
    return m_building ? m_building->idRegistry() : nullptr;
}

void Floor::markChanged()
{
    if (Property* property = idRegistry())
        property->setDirty(true);
}

void Floor::emitModelUpdated()
{
    if (Property* property = idRegistry())
        emit property->modelUpdated(this);
}

QString Floor::folderPath() const
{
    const Property* property = idRegistry();
    return (property ? property->folder() : QString()) + "/" + m_dir;
}

void Floor::setName(const QString& name)
{
    if (name.isEmpty() || name == m_name)
        return;
    m_name = name;
    markChanged();

    // Without a project folder every path below would start at the root.
    const Property* property = idRegistry();
    const QString projectFolder = property ? property->folder() : QString();
    if (projectFolder.isEmpty())
        return;
    const QString cleanName = sanitizeFileName(name);
    const bool hasFolder = isPlainName(m_dir) && QFileInfo(folderPath()).isDir();
    if (hasFolder && cleanName == m_dir)
        return;
    if (!isPlainName(cleanName)) {
        qCritical().noquote() << tr("Could not create directory:") << projectFolder + "/" + cleanName;
        return;
    }
    const QString newPath = uniqueFileName(projectFolder + "/" + cleanName, false);
    if (hasFolder) {
        const QString oldPath = folderPath();
        if (!QDir().rename(oldPath, newPath))
            return;
        const QString oldDir = m_dir, newDir = QFileInfo(newPath).fileName();
        QString reason;
        if (!updateSavedProjectFiles(
                projectFolder,
                [&](QJsonObject& project) { return renameFloorFolderInProject(project, oldDir, newDir); }, reason)) {
            // A saved project that names a folder no longer there would lose the floor.
            QDir().rename(newPath, oldPath);
            qWarning().noquote() << tr("Could not rename the floor's folder: the saved project could not be "
                                       "updated.") << oldPath << QStringLiteral("(%1)").arg(reason);
            return;
        }
    } else if (!QDir().mkdir(newPath)) {
        qCritical().noquote() << tr("Could not create directory:") << newPath;
        return;
    }
    m_dir = QFileInfo(newPath).fileName();
}

void Floor::setShown(bool on)
{
    const bool shown = on && !m_name.startsWith(kPicturesPrefix);
    if (shown != m_shown) {
        m_shown = shown;
        markChanged();
    }
    if (Property* property = idRegistry())
        emit property->statusUpdated();
}

int Floor::extWallThickness(bool actualOnly) const
{
    if (m_actualExtWallThickness != 0 || actualOnly || !m_building)
        return m_actualExtWallThickness;
    return m_building->extWallThickness();
}

void Floor::setActualExtWallThickness(int mm)
{
    if (mm == m_actualExtWallThickness)
        return;
    markChanged();
    m_actualExtWallThickness = mm;
}

void Floor::setGradeHint(qint8 hint)
{
    if (hint == m_gradeHint)
        return;
    markChanged();
    m_gradeHint = hint;
}

void Floor::setCeilingHeight(int mm)
{
    if (mm < 0) {
        qInfo().noquote() << tr("Invalid ceiling height");
        mm = m_ceilingHeight > 0 ? m_ceilingHeight : 0;
    }
    if (mm == m_ceilingHeight)
        return;
    m_ceilingHeight = mm;
    markChanged();
    emit highlightedPanosChanged(m_highlighted);
}

int Floor::sortOrder() const
{
    if (m_name.startsWith(kPicturesPrefix))
        return 10000;
    return floorNameOrderFromTable(m_name).value_or(1000);
}

void Floor::announceHighlighted()
{
    emit highlightedPanosChanged(m_highlighted);
    if (Property* property = idRegistry())
        emit property->statusUpdated();
}

void Floor::setHighlightedPano(QGraphicsItem* item)
{
    m_highlighted.clear();
    if (item)
        m_highlighted << item;
    announceHighlighted();
}

void Floor::setHighlightedItems(const QList<Panorama*>& panos)
{
    m_highlighted.clear();
    for (Panorama* pano : panos)
        m_highlighted << pano;
    announceHighlighted();
}

void Floor::setHighlightedPanos(const QList<QGraphicsItem*>& items)
{
    m_highlighted = items;
    announceHighlighted();
}

QRectF Floor::scanPositionsRect() const
{
    QRectF rect;
    for (const Panorama* pano : m_panos)
        if (pano->isShown(true))
            rect |= QRectF(pano->scenePos(), QSizeF(1, 1));
    return rect;
}

QRectF Floor::drawingRect() const
{
    QRectF rect;
    for (const Panorama* pano : m_panos) {
        const QTransform toScene = pano->sceneTransform();
        for (const QPoint& point : pano->outline())
            rect |= QRectF(toScene.map(QPointF(point)), QSizeF(1, 1));
    }
    return rect;
}

void Floor::resetScene()
{
    // The fixed rectangle (not the current one widened) keeps repeated resets from growing it.
    auto* frame = new QGraphicsRectItem(-kSceneHalfExtent, -kSceneHalfExtent, 2 * kSceneHalfExtent,
                                        2 * kSceneHalfExtent);
    frame->setPen(Qt::NoPen);
    addItem(frame);
    sceneRect();
    delete frame;
    clearUndoHistory();
}

void Floor::clearUndoHistory()
{
    // clear() also drops a macro being composed, so the depth must follow.
    m_undoStack->clear();
    m_undoStack->setClean();
    m_macroDepth = 0;
}

void Floor::on_indexChanged()
{
    markChanged();
}

void Floor::helpEvent(QGraphicsSceneHelpEvent*) {}

FloorTransform Floor::readFloorTransform(const QString& path)
{
    QMutexLocker lock(&m_floorTransformMutex);
    if (!m_floorTransformLoaded) {
        m_floorTransformLoaded = true;
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            const QJsonObject record = readFloorFileRecord(file).value_or(QJsonObject())["floorTransform"].toObject();
            m_floorTransform.tx = record["tx"].toDouble(0);
            m_floorTransform.ty = record["ty"].toDouble(0);
            m_floorTransform.angle = record["angle"].toDouble(0);
        }
    }
    return m_floorTransform;
}

void Floor::contextMenuActions(QMenu* menu)
{
    if (!m_name.startsWith(kPicturesPrefix))
        menu->addAction(m_shown ? tr("Hide in Ambrel") : tr("Show in Ambrel"));
    menu->addAction(tr("Delete"));
    menu->addAction(tr("Sort by name"));
    menu->addAction(tr("Sort by date"));
    menu->addAction(tr("Add user pano"));
    menu->addAction(tr("Set underlay floor"));
}

void Floor::onContextAction(QAction* action)
{
    const QString text = action->text();
    if (text == tr("Hide in Ambrel")) {
        setShown(false);
    } else if (text == tr("Show in Ambrel")) {
        setShown(true);
    } else if (text == tr("Delete")) {
        const auto answer = questions().question(
            nullptr, Questions::Question, tr("Question"),
            tr("Delete floor and its scans?\nThis operation can not be undone."),
            Questions::Yes | Questions::Cancel, Questions::Cancel);
        if (answer == Questions::Yes && m_building)
            m_building->deleteFloor(this, true); // deletes this floor: nothing may follow
    } else if (text == tr("Sort by name")) {
        sortPanosByName();
    } else if (text == tr("Sort by date")) {
        sortPanosByDate();
    } else if (text == tr("Add user pano")) {
        addUserPanos(questions().openFileNames(nullptr, tr("Select image (preferably >= 7200x3600)"),
                                                QDir::homePath(), tr("JPG Files (*.jpg *.jpeg)")));
    } else if (text == tr("Set underlay floor")) {
        const FloorChoice choice = questions().selectFloor(m_building, this);
        if (choice.cancelled || choice.floor == this)
            return;
        m_underlayFloor = choice.floor;
        if (m_underlayFloor)
            m_underlayFloor->setShownAsUnderlay(true);
    }
}
