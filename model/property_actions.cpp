#include "model/property.h"

#include "base/folder_remover.h"
#include "base/main_thread.h"
#include "base/questions.h"
#include "model/building.h"
#include "model/constants.h"
#include "model/floor.h"
#include "model/panorama.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>

#include <exception>

namespace {
Property::ProjectLoader& projectLoader()
{
    static Property::ProjectLoader loader;
    return loader;
}

// Every full scan of the property, "Pictures" floors included, in tree order.
QList<Panorama*> fullScans(const QList<Building*>& buildings)
{
    QList<Panorama*> scans;
    for (const Building* building : buildings)
        for (const Floor* floor : building->floors())
            for (Panorama* pano : floor->panos())
                if (pano->panoType() == PanoType::Full)
                    scans << pano;
    return scans;
}
}

void Property::setProjectLoader(ProjectLoader loader)
{
    projectLoader() = std::move(loader);
}

void Property::onContextAction(QAction* action)
{
    const QString text = action->text();
    if (text == tr("Add building"))
        addNewBuilding(QStringLiteral("New Building"));
    else if (text == tr("Delete all snapshots"))
        deleteSnapshots();
    else if (text == tr("Re-import"))
        reimport();
    else if (text == tr("Cleanup"))
        askAndCleanup();
}

void Property::deleteSnapshots()
{
    if (!removeFolderInsideProject(m_folder, {snapshotsFolderName}))
        qWarning().noquote() << tr("Could not remove Snapshots folder.");
}

void Property::askAndCleanup()
{
    const auto answer = questions().question(
        nullptr, Questions::Question, tr("Warning"),
        tr("All unneeded files will be be erased. Snapshot folder will be deleted.\n\nProceed?"),
        Questions::Yes | Questions::No, Questions::NoButton);
    if (answer == Questions::Yes)
        cleanup(false);
}

void Property::reimport()
{
    // A copy: the load empties the property, folder included, before it reads the folder again.
    const QString folder = m_folder;
    const bool hasRawData = !folder.isEmpty()
        && (QFile::exists(folder + "/system.cfg") || QFile::exists(folder + "/project.json"));
    if (!hasRawData) {
        questions().question(nullptr, Questions::Warning, tr("Cannot re-import"),
                              tr("This project does not contain the raw camera data needed to re-import. "
                                 "It looks like an exported project.Nothing has been changed."),
                              Questions::Ok, Questions::Ok);
        return;
    }
    const ProjectLoader loader = projectLoader();
    const auto answer = questions().question(
        nullptr, Questions::Question, tr("Warning"),
        tr("All image edits and alignment will be reset. Snapshot folder will be deleted. It is recommended to "
           "make a backup copy of the property first.\n\nProceed?"),
        Questions::Yes | Questions::No, Questions::NoButton);
    if (answer != Questions::Yes)
        return;

    const QString name = m_name;
    try {
        cleanup(true);
        releaseTree();
        if (loader)
            loader(*this, folder);
        else
            load(folder);
    } catch (const std::exception& e) {
        qCritical().noquote() << tr("Could not re-import property") << "\"" + name + "\"" << ":"
                              << QString::fromUtf8(e.what());
    }
}

void Property::releaseTree()
{
    const QList<Building*> doomed = m_buildings;
    m_buildings.clear();
    m_initialPano = nullptr;
    emit initPanoUpdated();
    for (const Building* building : doomed)
        for (Floor* floor : building->floors())
            floor->setHighlightedPanos({});
    // Delivered while the old floors and scans still live, so receivers may look at what they drop.
    emit modelUpdated(nullptr);
    qDeleteAll(doomed);
}

int Property::alignmentState() const
{
    bool unknown = false;
    for (const Building* building : m_buildings) {
        const int state = building->alignmentState();
        if (state == 1)
            return 1;
        unknown = unknown || state == -1;
    }
    return unknown ? -1 : 0;
}

QString Property::cameraModelPrefix() const
{
    return m_cameraSerialNumber.left(2);
}

QGraphicsItem* Property::findPanoById(int id, const QString& typeName) const
{
    // Ids are issued from 1 up; nothing else can be stored.
    if (id <= 0)
        return nullptr;
    for (const Building* building : m_buildings)
        for (const Floor* floor : building->floors())
            if (DraftGraphicItem* item = floor->findItem(static_cast<uint32_t>(id), typeName))
                return item;
    return nullptr;
}

void Property::reprocessPanos()
{
    QStringList failures;
    for (Panorama* pano : fullScans(m_buildings)) {
        const QString prefix = tr("Could not process pano ") + pano->folder() + ". ";
        try {
            // A scan whose camera data cannot be read keeps its alignment, preview and record.
            pano->requireReadableByCamera();
            pano->resetImageParams(true);
            pano->removeDerivedFiles(true);
            pano->reload(true);
        } catch (const std::exception& e) {
            failures << prefix + QString::fromUtf8(e.what());
        } catch (...) {
            failures << prefix + tr("Unknown error.");
        }
    }
    if (!failures.isEmpty())
        qWarning().noquote() << failures.join("\n\n");
}

void Property::keepCalibrationOutlines()
{
    m_trialCalibrationApplied = false;
    QStringList failures;
    for (Building* building : std::as_const(m_buildings))
        for (Floor* floor : building->floors())
            for (Panorama* pano : floor->panos()) {
                try {
                    pano->keepOutlineOfCalibration();
                } catch (const std::exception& e) {
                    failures << tr("Could not process pano ") + pano->folder() + ". " + QString::fromUtf8(e.what());
                }
            }
    runPendingMainThreadJobs();
    if (!failures.isEmpty())
        qWarning().noquote() << failures.join("\n\n");
}

void Property::applyCalibrationRotation(float a, float b, float c)
{
    m_trialCalibrationApplied = !(b == -1.0f && c == 0.0f);
    for (Panorama* pano : fullScans(m_buildings))
        pano->loadPointcloud(false, 0, a, b, c);
    // The outlines the scans posted land before the caller shows the trial or asks about it.
    runPendingMainThreadJobs();
}
