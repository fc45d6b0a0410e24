#include "model/panorama.h"

#include "base/folder_access.h"
#include "camera/cam_params_one_lens.h"
#include "camera/cam_params_ztm6.h"
#include "imaging/user_pano.h"
#include "model/floor.h"
#include "model/property.h"
#include "model/scan_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

namespace {
std::runtime_error failure(const QString& text)
{
    return std::runtime_error(text.toStdString());
}
}

namespace {
// The scan's folder inside the project's cache folder; empty for a scan outside a project.
QString cachedScanFolder(const Panorama& pano)
{
    const Floor* f = pano.floor();
    const Property* property = pano.idRegistry();
    if (!f || !property || property->folder().isEmpty())
        return {};
    return property->cacheFolder() + "/" + f->dir() + "/" + pano.dir();
}
} // namespace

QString Panorama::writableFolder() const
{
    const QString own = folder();
    const QString cached = cachedScanFolder(*this);
    if (cached.isEmpty() || isWritableFolder(own))
        return own;
    QDir().mkpath(cached);
    return cached;
}

QString Panorama::writableFilePath(QLatin1String name) const
{
    return writableFolder() + "/" + name;
}

QString Panorama::existingFilePath(QLatin1String name) const
{
    const QString own = folder();
    const QString cached = cachedScanFolder(*this);
    if (!cached.isEmpty() && !isWritableFolder(own) && QFileInfo::exists(cached + "/" + name))
        return cached + "/" + name;
    return own + "/" + name;
}

QString Panorama::oneLensShotFolder(const CamParamsOneLens& camera, int shot) const
{
    const QString own = folder();
    const QString cached = cachedScanFolder(*this);
    if (!cached.isEmpty() && !QFileInfo::exists(camera.shotPath(own, shot))
        && QFileInfo::exists(camera.shotPath(cached, shot)))
        return cached;
    return own;
}

const CamParams* Panorama::camera() const
{
    return mutableCamera();
}

// The model's HDR builds write into the scan folder; they are the only non-const use.
CamParams* Panorama::mutableCamera() const
{
    const Property* property = idRegistry();
    return property ? property->camParams() : nullptr;
}

void Panorama::throwMainImageMissing() const
{
    throw failure(QObject::tr("Scan %1: ").arg(folder())
                  + QObject::tr("Main image is missing and pano will be omitted."));
}

// Scans from the camera are processed by the camera model; until a model that can is present,
// such a scan has no readable main image.
void Panorama::requireBuildable() const
{
    if (m_type == PanoType::User) {
        if (!QFileInfo(folder() + "/" + scanfiles::userSource).isFile())
            throwMainImageMissing();
        return;
    }
    const CamParams* model = camera();
    if (!model)
        throwMainImageMissing();
    throw failure(QObject::tr("Scan %1 cannot be processed: scans of the camera %2 are not supported.")
                      .arg(folder(), QString::fromStdString(model->modelName())));
}

void Panorama::reload(bool reprocess)
{
    if (m_type == PanoType::Map)
        return;
    if (const auto* twoLens = dynamic_cast<const CamParamsZTM6*>(camera()); twoLens && m_type != PanoType::User)
        return reloadTwoLens(*twoLens, reprocess);
    if (auto* oneLens = dynamic_cast<CamParamsOneLens*>(mutableCamera()); oneLens && m_type != PanoType::User)
        return reloadOneLens(*oneLens, reprocess);
    const QString preview = existingFilePath(scanfiles::preview);
    if (isExportedUserScan() && !reprocess && QFileInfo::exists(preview)) {
        m_equirectangular = true;
        return;
    }
    requireBuildable();
    m_equirectangular = true;
    if (reprocess || !QFileInfo::exists(preview))
        writeUserPreview(folder() + "/" + scanfiles::userSource, writableFilePath(scanfiles::preview));
}

// A user scan opened from an export archive has its pictures but not the picture it was made from.
bool Panorama::isExportedUserScan() const
{
    return m_type == PanoType::User && !QFileInfo(folder() + "/" + scanfiles::userSource).isFile();
}

void Panorama::buildPano()
{
    if (const auto* twoLens = dynamic_cast<const CamParamsZTM6*>(camera()); twoLens && m_type != PanoType::User)
        return buildTwoLensPano(*twoLens);
    if (const auto* oneLens = dynamic_cast<const CamParamsOneLens*>(camera()); oneLens && m_type != PanoType::User)
        return buildOneLensPano(*oneLens);
    if (isExportedUserScan() && QFileInfo::exists(existingFilePath(scanfiles::fullPano)))
        return; // without its source picture, the pano it was exported with is the best there is
    requireBuildable();
    writeUserPano(folder() + "/" + scanfiles::userSource, writableFilePath(scanfiles::fullPano));
}

void Panorama::removeDerivedFiles(bool all)
{
    // Without a floor in a project folder there is no scan folder to clean.
    const Property* property = idRegistry();
    if (!property || property->folder().isEmpty())
        return;
    QList<QLatin1String> names{scanfiles::fullPano, scanfiles::pointCloud};
    if (all)
        names << scanfiles::preview << scanfiles::record;
    const QString cached = cachedScanFolder(*this);
    for (const QLatin1String& name : std::as_const(names)) {
        QFile::remove(folder() + "/" + name);
        if (!cached.isEmpty())
            QFile::remove(cached + "/" + name);
    }
}

void Panorama::resetImageParams(bool keepColour)
{
    m_imageParams.resetAlignment();
    if (!keepColour)
        m_imageParams.resetColour();
}
