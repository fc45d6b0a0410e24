#include "camera/auto_level.h"
#include "camera/cam_params_one_lens.h"
#include "camera/one_lens_render.h"
#include "camera/scan_json.h"
#include "camera/shot_alignment.h"
#include "imaging/scan_pictures.h"
#include "model/camera_scan_record.h"
#include "model/panorama.h"
#include "model/pointcloud_file.h"
#include "model/property.h"
#include "model/scan_files.h"

#include <QFileInfo>

#include <stdexcept>

namespace {
// A shot side beyond this is no camera's: its buffer size would not fit the arithmetic.
constexpr int kMaxShotSide = 32768;
// Takes a matched turn only when it fits clearly better than the nominal one.
constexpr int kHeadingSearchWhenClear = 1;

std::runtime_error failure(const QString& text)
{
    return std::runtime_error(text.toStdString());
}

const uint8_t* bytes(const QByteArray& rgb)
{
    return reinterpret_cast<const uint8_t*>(rgb.constData());
}
} // namespace

// The three shots, each checked to be a whole square of the camera's shot size before any
// kernel reads it. A missing first shot is the missing main image.
void Panorama::loadOneLensShots(const CamParamsOneLens& camera, QByteArray shots[3]) const
{
    const QString dir = folder();
    const int side = camera.imageHeight();
    if (side <= 3 || side > kMaxShotSide)
        throw failure(QObject::tr("Scan %1: the camera's shot size %2 is not usable.").arg(dir).arg(side));
    const qsizetype expected = static_cast<qsizetype>(side) * side * 3;
    for (int shot = 0; shot < 3; ++shot) {
        const QString shotFolder = oneLensShotFolder(camera, shot);
        const QString path = camera.shotPath(shotFolder, shot);
        camera.loadFisheyeImage(shotFolder, shot, shots[shot], true);
        if (shots[shot].isEmpty()) {
            if (shot == 0)
                throwMainImageMissing();
            throw failure(QObject::tr("Could not read image %1").arg(path));
        }
        if (shots[shot].size() != expected)
            throw failure(QObject::tr("Image %1 is not a shot of %2 x %2 pixels.").arg(path).arg(side));
    }
}

void Panorama::buildOneLensShots(CamParamsOneLens& camera) const
{
    camera.buildHdrImages(folder(), false, writableFolder());
}

bool Panorama::hasOneLensMainShot(const CamParamsOneLens& camera) const
{
    return QFileInfo(camera.shotPath(oneLensShotFolder(camera, 0), 0)).isFile();
}

// The projects hold no alignment mode of their own: scans are aligned on their features alone.
constexpr int kShotAlignmentMode = 0;
// The alignment works on seam bands sized by the width of the levelling strip.
constexpr int kAlignmentStripWidth = 1200;

// The shots turned onto each other and the pano levelled. Runs where the scan is processed, before
// its colours are equalised over the seams the alignment has just moved.
void Panorama::autoAlignShots(const CamParamsOneLens& camera, const QByteArray shots[3])
{
    if (m_equirectangular)
        return;
    // A fit that found too little texture to go by has still written its angles; a scan built with
    // them is turned at random, so it keeps the angles it had (the lidar's turns, for instance).
    if (m_type == PanoType::Full) {
        const ImageParams before = m_imageParams;
        if (!alignShotsForScan(camera, bytes(shots[0]), bytes(shots[1]), bytes(shots[2]), kAlignmentStripWidth,
                               kShotAlignmentMode, m_imageParams.angles()))
            m_imageParams = before;
    }
    if (m_type == PanoType::Full || m_type == PanoType::Partial) {
        const int side = camera.imageHeight();
        autoLevelFromVerticals(bytes(shots[0]), bytes(shots[1]), bytes(shots[2]), side, side, m_imageParams, true,
                               &camera);
    }
}

// The blended, colour-equalised pano of the three shots, W x W/2, rows top-down.
QByteArray Panorama::renderOneLensPano(const CamParamsOneLens& camera, const QByteArray shots[3], int width)
{
    camera.equalizeShotColors(bytes(shots[0]), bytes(shots[1]), bytes(shots[2]), m_imageParams);
    const int height = width / 2;
    QByteArray pano(static_cast<qsizetype>(width) * height * 3, Qt::Uninitialized);
    auto* out = reinterpret_cast<uint8_t*>(pano.data());
    renderThreeShotPano(camera, bytes(shots[0]), bytes(shots[1]), bytes(shots[2]), width, m_imageParams, out);
    // The render is bottom-up like the shots; JPEG rows run top-down.
    flipRows(out, width, height);
    return pano;
}

void Panorama::reloadOneLens(CamParamsOneLens& camera, bool reprocess)
{
    const QString dir = folder();
    const QString preview = existingFilePath(scanfiles::preview);
    // A scan whose fingerprint was never taken has never been placed from its camera data. A
    // camera without fingerprints cannot tell: a scan placed before (by its record or its camera
    // data) keeps its place, or every load would undo the user's arrangement.
    const QString hash = QString::fromStdString(camera.scanHash(dir.toUtf8().toStdString()));
    const bool firstRead = hash.isEmpty() ? !m_placed : m_scanHash.isEmpty();
    // The model reads the scan's geometry first: a model that cannot read this camera's scans yet
    // stops here, before anything of the scan has changed. The shots' turns are matched from the
    // lidar sweeps when the scan's alignment starts afresh; otherwise they stay as aligned.
    LidarReadOptions options = kOwnCalibration;
    if (firstRead || reprocess)
        options.headingSearchMode = kHeadingSearchWhenClear;
    ScanData data;
    readCameraData(camera, options, data);
    buildOneLensShots(camera);
    if (!hasOneLensMainShot(camera)) {
        // A scan from an export archive has only what processing made: its pictures and point cloud.
        if (reprocess || !QFileInfo::exists(preview))
            throwMainImageMissing();
        ScanData kept;
        readPointcloudFile(existingFilePath(scanfiles::pointCloud), kept.lidarPoints);
        postGeometry(kept, false);
        return;
    }
    const bool makePreview = reprocess || !QFileInfo::exists(preview);
    QByteArray shots[3];
    if (makePreview) {
        loadOneLensShots(camera, shots);
        const ImageParams before = m_imageParams;
        autoAlignShots(camera, shots);
        // The outline follows the shots' turns and the levelling: read it under the aligned ones,
        // as every later load will.
        if (m_imageParams != before)
            readCameraData(camera, kOwnCalibration, data);
    }
    // The outline, position and heading are the model's; the rest of the record is the folder's
    // metadata file.
    ScanData record = data;
    QString cameraHash;
    readScanJson(dir, record, cameraHash);
    record.lidarPoints = data.lidarPoints;
    record.lidarHeading = data.lidarHeading;
    m_scanHash = hash;
    m_capture = captureRecord(record);
    if (Property* property = idRegistry()) {
        property->updateShutterCounter(record.shutterCounter);
        m_systemCfgIndex = property->systemCfgIndex(record.systemCfgName);
    }
    writePointcloudFile(writableFilePath(scanfiles::pointCloud), data.lidarPoints);
    if (postGeometry(data, firstRead))
        m_placed = true;

    if (makePreview) {
        const QByteArray rgb = renderOneLensPano(camera, shots, kPreviewWidth);
        writePreviewPic(writableFilePath(scanfiles::preview), bytes(rgb), kPreviewWidth, kPreviewHeight);
    }
}

void Panorama::buildOneLensPano(const CamParamsOneLens& camera)
{
    if (!hasOneLensMainShot(camera)) {
        // Without the shots a pano already made is the best there is.
        if (QFileInfo::exists(existingFilePath(scanfiles::fullPano)))
            return;
        throwMainImageMissing();
    }
    QByteArray shots[3];
    loadOneLensShots(camera, shots);
    const QByteArray rgb = renderOneLensPano(camera, shots, kFullPanoWidth);
    writeFullPanoPic(writableFilePath(scanfiles::fullPano), bytes(rgb), kFullPanoWidth, kFullPanoWidth / 2);
}
