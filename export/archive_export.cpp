#include "export/archive_export.h"

#include "base/cipher.h"
#include "base/progress.h"
#include "base/tar_writer.h"
#include "model/building.h"
#include "model/constants.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"
#include "model/scan_assets.h"
#include "model/scan_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QDomDocument>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

#include <stdexcept>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Property", text);
}

QByteArray enciphered(QByteArray data, char kind)
{
    encipherBytes(data, kind);
    return data;
}

// A file that cannot be written here shows up as the copy's failure right after.
void writePointcloudFile(const Panorama& pano, const QString& path)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(pano.pointcloudData());
        file.commit();
    }
}

} // namespace

ArchiveExport::ArchiveExport(Property& property)
    : m_property(property), m_names(archiveNamesFor(property.folder())), m_file(property.folder(), m_names.archiveName)
{
}

ArchiveExport::~ArchiveExport() = default;

QString ArchiveExport::run()
{
    openDialog();
    m_file.prepareFolder();
    advance();
    m_entries = std::make_unique<ArchiveEntryQueue>(&m_file.open());
    writeProjectEntries();
    advance();
    for (Building* building : m_property.buildings()) {
        m_summary.beginBuilding(building->ownName());
        for (Floor* floor : building->floors()) {
            if (!floor->isPicturesFloor())
                writeFloor(*building, *floor);
        }
        m_summary.endBuilding();
    }
    m_entries->finish();
    m_entries.reset();
    m_file.commit();
    return m_summary.html();
}

void ArchiveExport::openDialog()
{
    int floors = 0;
    for (const Building* building : m_property.buildings())
        floors += static_cast<int>(building->floors().size());
    ProgressRequest request;
    request.label = tr("Exporting...");
    request.cancelText = tr("Cancel");
    request.maximum = floors + 2;
    request.ownedByWindow = true;
    m_dialog = openProgress(request);
    m_dialog->setCancelHandler([this] { m_canceled = true; });
}

void ArchiveExport::advance()
{
    m_dialog->setValue(++m_progress);
}

void ArchiveExport::putFileIfPresent(const QString& source, const QByteArray& name)
{
    if (QFileInfo(source).isFile())
        m_entries->putFile(source, name);
}

void ArchiveExport::writeProjectEntries()
{
    const QString folder = m_property.folder();
    const QByteArray project = QJsonDocument(m_property.toJson(true)).toJson(QJsonDocument::Compact);
    m_entries->putData(entryName(exportProjectFileName), enciphered(project, CipherKind::Data));
    // A trial lidar calibration is not the camera's: its file would not match the scans.
    if (!m_property.trialCalibrationApplied())
        putFileIfPresent(folder + "/system.cfg", entryName("/system.cfg"));
    putFileIfPresent(folder + "/" + logFileName, entryName("/" + logFileName));
    putFileIfPresent(folder + "/nomivolog.txt", entryName("/nomivolog.txt"));
}

void ArchiveExport::writeFloor(const Building& building, Floor& floor)
{
    m_dialog->setLabel(tr("Exporting floor: ") + building.ownName() + "/" + floor.ownName());
    advance();
    const QString base = "floor" + QString::number(floor.uniqueId());
    m_entries->putData(entryName(base + ".qsv"),
                       enciphered(floor.exportSvg().toByteArray(-1), CipherKind::SvgPlan));
    m_entries->putData(entryName(base + ".qdx"), enciphered(floor.exportDxf(), CipherKind::DxfPlan));
    int tags = 0;
    for (Panorama* pano : floor.panos()) {
        m_dialog->setValue(m_progress); // lets a Cancel between scans through
        if (m_canceled || m_dialog->wasCancelled())
            throw std::runtime_error(tr("Canceled").toStdString());
        if (pano->panoType() != PanoType::Map)
            writeScanFiles(*pano);
        writeAssets(*pano);
        tags += static_cast<int>(pano->tags().size());
    }
    m_summary.addFloor(floor.ownName(), floor.extWallThickness(false), tags);
}

void ArchiveExport::writeScanFiles(Panorama& pano)
{
    const QString entryFolder = pano.exportLabel() + "/";
    // Scans made from a picture carry the point cloud of their scan folder, written after the panos.
    const bool cloudFromScan = !pano.isEquirectangular() || pano.panoType() == PanoType::User;
    if (cloudFromScan)
        m_entries->putData(entryName(entryFolder + scanfiles::pointCloud), pano.pointcloudData());
    m_entries->putFile(pano.existingFilePath(scanfiles::preview), entryName(entryFolder + scanfiles::preview));
    m_entries->putFile(pano.existingFilePath(scanfiles::fullPano), entryName(entryFolder + scanfiles::fullPano));
    if (!cloudFromScan) {
        QString cloud = pano.existingFilePath(scanfiles::pointCloud);
        if (!QFileInfo::exists(cloud)) {
            cloud = pano.writableFilePath(scanfiles::pointCloud);
            writePointcloudFile(pano, cloud);
        }
        m_entries->putFile(cloud, entryName(entryFolder + scanfiles::pointCloud));
    }
}

void ArchiveExport::writeAssets(Panorama& pano)
{
    for (const QFileInfo& asset : scanAssetFiles(pano.folder())) {
        const QByteArray name = entryName("/" + assetsFolderName + "/" + asset.fileName());
        // One asset the archive cannot name is no reason to lose the whole export.
        if (!TarWriter::acceptsName(name.constData())) {
            qWarning().noquote() << tr("Asset file name is too long for the export archive; skipped:")
                                 << asset.filePath();
            continue;
        }
        // The pre-check told the user of a second file of a name: the first scan's is exported.
        m_entries->putFile(asset.filePath(), name, true);
    }
}
