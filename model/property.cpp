#include "model/property.h"

#include "base/folder_remover.h"
#include "base/list_moves.h"
#include "camera/cam_params.h"
#include "model/building.h"
#include "model/constants.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/saved_project_files.h"

#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMutexLocker>
#include <QTimer>
#include <QUndoStack>

Property::Property()
{
    m_autoBackupTimer = new QTimer(this);
    m_autoBackupTimer->setSingleShot(true);
    connect(m_autoBackupTimer, &QTimer::timeout, this, &Property::on_autoBackupTimer_timeout);
    reset(false);
}

Property::~Property()
{
    // Nothing that dies with the tree may report back into a half-destroyed property.
    blockSignals(true);
    deleteBuildings();
    m_initialPano = nullptr;
    removeAutosave();
    m_camParams.reset();
}

void Property::deleteBuildings()
{
    const QList<Building*> doomed = m_buildings;
    m_buildings.clear();
    qDeleteAll(doomed);
}

void Property::reset(bool deleteCamera)
{
    if (deleteCamera)
        m_camParams.reset();
    m_ids.clear();
    deleteBuildings();
    {
        QMutexLocker lock(&m_scanRecordsMutex);
        m_shutterCounter = 0;
    }
    m_folder.clear();
    m_name = QStringLiteral("New Property");
    m_globalId.clear();
    m_initialPano = nullptr;
    m_portalData = QJsonObject();
    m_cam360 = QJsonObject();
    m_mainBuildingId = -1;
    m_nomivoVersion.clear();
    m_dirty = true;
    setDirty(false);
    emit modelUpdated(nullptr);
    m_trialCalibrationApplied = false;
    m_alignmentLocked = false;
    m_cameraSerialNumber.clear();
    m_lensCalibrated = false;
    QMutexLocker lock(&m_scanRecordsMutex);
    m_systemcfgs.clear();
}

void Property::setName(const QString& name)
{
    if (name == m_name)
        return;
    setDirty(true);
    m_name = name;
}

void Property::setComments(const QString& text)
{
    if (text == m_newPostComment)
        return;
    setDirty(true);
    m_newPostComment = text;
}

void Property::contextMenuActions(QMenu* menu)
{
    menu->addAction(tr("Add building"));
    menu->addAction(tr("Delete all snapshots"));
    menu->addAction(tr("Re-import"));
    menu->addAction(tr("Cleanup"));
}

void Property::addBuilding(Building* building)
{
    if (Property* previous = building->idRegistry())
        previous->m_buildings.removeAll(building);
    building->setOwner(this);
    m_buildings.append(building);
    setDirty(true);
    emit modelUpdated(nullptr);
}

void Property::moveBuilding(int from, int to)
{
    if (moveListItem(m_buildings, from, to) == ListMove::Ignored)
        return;
    setDirty(true);
    emit modelUpdated(nullptr);
}

void Property::removeBuilding(Building* building, bool withScans)
{
    if (!building)
        return;
    m_buildings.removeOne(building);
    building->deleteAllFloors(withScans);
    // Its floors have left the saved project; the building, once empty there, goes too.
    const qint64 id = building->storedId();
    QString reason;
    if (building->floors().isEmpty() && id != 0 && !m_folder.isEmpty()
        && !updateSavedProjectFiles(
            m_folder, [id](QJsonObject& project) { return removeEmptyBuildingFromProject(project, id); }, reason))
        qWarning().noquote() << tr("Could not remove the building from the saved project:") << building->ownName()
                             << QStringLiteral("(%1)").arg(reason);
    setDirty(true);
    emit modelUpdated(nullptr);
    delete building;
}

void Property::setDirty(bool value)
{
    if (signalsBlocked())
        return;
    if (value && !m_autoBackupTimer->isActive())
        m_autoBackupTimer->start(kAutosaveDelayMs);
    if (value == m_dirty)
        return;
    if (value) {
        m_dirty = true;
        emit dirtyChanged(true);
        return;
    }
    m_autoBackupTimer->stop();
    for (Building* building : std::as_const(m_buildings))
        for (Floor* floor : building->floors())
            floor->undoStack()->setClean();
    m_dirty = false;
    emit dirtyChanged(false);
}

int Property::nextId(const QString& typeName)
{
    return int(m_ids.next(typeName));
}

void Property::bumpLastId(const QString& typeName, qint64 id)
{
    m_ids.registerId(typeName, id);
}

QMap<QString, int> Property::lastIds() const
{
    return m_ids.counters();
}

void Property::setLastIds(const QMap<QString, int>& ids)
{
    m_ids.setCounters(ids);
}

void Property::setInitialPano(Panorama* pano)
{
    if (pano) {
        const Floor* floor = pano->floor();
        if (!isPortalPanoType(pano->panoType()) || !floor
            || floor->ownName().startsWith(QLatin1String("Pictures"))) {
            qWarning().noquote() << tr("Only panoramas can be set as initial.");
            return;
        }
    }
    if (pano != m_initialPano) {
        setDirty(true);
        m_initialPano = pano;
    }
    emit statusUpdated();
    emit initPanoUpdated();
}

void Property::forgetPano(Panorama* pano)
{
    if (m_initialPano == pano)
        m_initialPano = nullptr;
}

int Property::systemCfgIndex(const QString& name)
{
    if (name.isEmpty())
        return -1;
    QMutexLocker lock(&m_scanRecordsMutex);
    const qsizetype index = m_systemcfgs.indexOf(name);
    if (index >= 0)
        return static_cast<int>(index);
    m_systemcfgs.append(name);
    return static_cast<int>(m_systemcfgs.size() - 1);
}

QStringList Property::systemcfgs() const
{
    QMutexLocker lock(&m_scanRecordsMutex);
    return m_systemcfgs;
}

void Property::setSystemcfgs(const QStringList& names)
{
    QMutexLocker lock(&m_scanRecordsMutex);
    m_systemcfgs = names;
}

void Property::updateShutterCounter(int value)
{
    QMutexLocker lock(&m_scanRecordsMutex);
    m_shutterCounter = std::max(m_shutterCounter, value);
}

int Property::shutterCounter() const
{
    QMutexLocker lock(&m_scanRecordsMutex);
    return m_shutterCounter;
}

bool Property::isSupportedCameraModel() const
{
    return m_cameraSerialNumber.startsWith(QLatin1String("MS"))
        || m_cameraSerialNumber.startsWith(QLatin1String("MX"))
        || m_cameraSerialNumber.startsWith(QLatin1String("R1"));
}

void Property::setCamParams(CamParams* camera)
{
    if (camera != m_camParams.get())
        m_camParams.reset(camera);
}

void Property::cleanup(bool reimport)
{
    // Without a folder every path below would name the working directory or the root.
    if (m_folder.isEmpty())
        return;
    QStringList patterns{QStringLiteral("*.dat"), logFileName};
    if (reimport)
        patterns << QStringLiteral("*.qjs");
    const QDir dir(m_folder);
    for (const QString& name : dir.entryList(patterns, QDir::Files | QDir::Hidden | QDir::System))
        QFile::remove(m_folder + "/" + name);
    removeFolderInsideProject(m_folder, {exportFolderName});
    removeFolderInsideProject(m_folder, {snapshotsFolderName});
    for (Building* building : std::as_const(m_buildings))
        for (Floor* floor : building->floors())
            for (Panorama* pano : floor->panos())
                pano->removeDerivedFiles(reimport);
}

void Property::clearCachesForReimport(const QString& projectFolder)
{
    if (projectFolder.isEmpty())
        return;
    QFile::remove(projectFolder + "/~" + projectFileName);
    const QDir::Filters subfolders = QDir::Dirs | QDir::NoDotAndDotDot;
    const QDir project(projectFolder);
    for (const QString& floorName : project.entryList(subfolders, QDir::Unsorted)) {
        const QString floorPath = projectFolder + "/" + floorName;
        for (const QString& scanName : QDir(floorPath).entryList(subfolders, QDir::Unsorted)) {
            const QString scanPath = floorPath + "/" + scanName;
            if (QFile::exists(scanPath + "/scan.json") && QFile::remove(scanPath + "/pano.dat"))
                QFile::remove(scanPath + "/t.pic");
            QFile::remove(scanPath + "/s.pic");
        }
    }
    qInfo().noquote() << tr("Cleared Quoril caches for re-import.");
}

void Property::removeAutosave()
{
    if (m_folder.isEmpty())
        return;
    const QString path = m_folder + "/~" + projectFileName;
    if (QFile::exists(path))
        QFile::remove(path);
}
