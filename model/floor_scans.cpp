#include "model/floor.h"

#include "base/file_names.h"
#include "base/folder_remover.h"
#include "base/list_moves.h"
#include "base/scan_order.h"
#include "imaging/user_pano.h"
#include "model/panorama.h"
#include "model/property.h"
#include "model/scan_files.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>

#include <algorithm>
#include <stdexcept>

void Floor::appendPano(Panorama* pano)
{
    if (m_panos.contains(pano))
        return;
    m_northVector = QPointF(qQNaN(), qQNaN());
    markChanged();
    m_panos.append(pano);
    emitModelUpdated();
}

void Floor::removePano(Panorama* pano)
{
    if (m_destroying || !m_panos.removeOne(pano))
        return;
    m_northVector = QPointF(qQNaN(), qQNaN());
    markChanged();
    if (m_highlighted.removeAll(pano) > 0)
        setHighlightedPanos(m_highlighted);
    emitModelUpdated();
}

void Floor::forgetPano(Panorama* pano)
{
    m_panos.removeAll(pano);
    m_highlighted.removeAll(pano);
    m_northVector = QPointF(qQNaN(), qQNaN());
    if (Property* property = idRegistry())
        property->forgetPano(pano);
}

void Floor::movePano(Panorama* pano, int index)
{
    if (!pano || !pano->moveToFloor(this))
        return;
    const int from = static_cast<int>(m_panos.indexOf(pano));
    if (moveListItem(m_panos, from, index) == ListMove::Ignored)
        return;
    markChanged();
    emitModelUpdated();
}

void Floor::deletePano(Panorama* pano, bool withFolder)
{
    if (!pano || pano->floor() != this)
        return;
    Property* property = idRegistry();
    if (property && property->initialPano() == pano)
        property->setInitialPano(nullptr);
    if (withFolder && property)
        removeFolderInsideProject(property->folder(), {m_dir, pano->dir()});
    removeItem(pano);
    delete pano;
    clearUndoHistory();
}

void Floor::deleteAllPanos(bool withFolders)
{
    const QList<Panorama*> panos = m_panos;
    for (Panorama* pano : panos)
        deletePano(pano, withFolders);
}

bool Floor::applyScanOrder(const QList<Panorama*>& sorted)
{
    const bool changed = sorted != m_panos;
    m_panos = sorted;
    if (changed)
        markChanged();
    emitModelUpdated();
    return changed;
}

namespace {
// Lidar map scans come before every other scan in both sorts.
int mapRank(const Panorama* pano)
{
    return pano->panoType() == PanoType::Map ? 0 : 1;
}
}

void Floor::sortPanosByName()
{
    QList<Panorama*> sorted = m_panos;
    std::sort(sorted.begin(), sorted.end(), [](const Panorama* a, const Panorama* b) {
        if (mapRank(a) != mapRank(b))
            return mapRank(a) < mapRank(b);
        if (mapRank(a) == 0)
            return false;
        return scanNameLess(a->ownName(), b->ownName());
    });
    applyScanOrder(sorted);
}

void Floor::sortPanosByDate()
{
    // Modification times are read once, not at every comparison.
    QHash<const Panorama*, QDateTime> times;
    for (const Panorama* pano : std::as_const(m_panos)) {
        const QFileInfo info(pano->folder() + "/" + scanfiles::transformFile);
        times.insert(pano, info.exists() ? info.lastModified() : QDateTime());
    }
    QList<Panorama*> sorted = m_panos;
    std::sort(sorted.begin(), sorted.end(), [&](const Panorama* a, const Panorama* b) {
        if (mapRank(a) != mapRank(b))
            return mapRank(a) < mapRank(b);
        if (mapRank(a) == 0)
            return false;
        const QDateTime& timeA = times[a];
        const QDateTime& timeB = times[b];
        if (timeA.isValid() && timeB.isValid())
            return timeA < timeB;
        if (timeA.isValid() || timeB.isValid())
            return timeA.isValid();
        return a->ownName() < b->ownName();
    });
    applyScanOrder(sorted);
}

void Floor::addUserPanos(const QStringList& files)
{
    if (files.isEmpty())
        return;
    const Property* property = idRegistry();
    if (!property || property->folder().isEmpty() || !isPlainName(m_dir)) {
        qWarning().noquote() << tr("Could not create directory") << folderPath();
        return;
    }
    for (const QString& file : files) {
        QImageReader reader(file);
        const QSize size = reader.size();
        if (!reader.canRead() || !size.isValid()) {
            qWarning().noquote() << tr("Could not load image") << file;
            continue;
        }
        // Refused before a copy of it lands in the project: every later step would decode it whole
        // or fail to make its pano.
        if (const QString refusal = userPictureRefusal(size); !refusal.isEmpty()) {
            qWarning().noquote() << tr("Could not load image") << file << refusal;
            continue;
        }
        if (size.width() != 2 * size.height())
            qWarning().noquote() << tr("Aspect ratio of equirectangular image should be exactly 2:1. "
                                       "Selected image will be scaled to fit.");
        if (size.width() < 4000)
            qWarning().noquote() << tr("Selected image resolution is too low: %1x%2").arg(size.width()).arg(size.height())
                                        + tr(". For better experience, try to use image resolution closer to 11008x5504");

        const QString folder = uniqueFileName(folderPath() + "/User Pano_" + QFileInfo(file).baseName(), false);
        const bool madeFolder = QDir().mkdir(folder);
        if (!madeFolder)
            qWarning().noquote() << tr("Could not create directory") << folder;
        if (!QFile::copy(file, folder + "/" + scanfiles::userSource))
            qWarning().noquote() << tr("Could not copy image") << file << tr("to") << folder;

        Panorama* pano = nullptr;
        try {
            pano = Panorama::createFromFolder(QJsonObject(), folder, this);
            if (!pano)
                throw std::runtime_error(tr("No scan could be made from %1").arg(folder).toStdString());
            pano->reload(false);
            setHighlightedPano(pano);
            qInfo().noquote() << tr("Please adjust scan position, rotation and initial angle");
        } catch (const std::exception& e) {
            qWarning().noquote() << tr("Could not load scan:") << QString::fromStdString(e.what());
            if (pano) {
                deletePano(pano, true);
            } else if (madeFolder) {
                removeFolderInsideProject(property->folder(), {m_dir, QFileInfo(folder).fileName()});
            }
        }
    }
}
