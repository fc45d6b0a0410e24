#include "base/huge_pages.h"
#include "base/main_thread.h"
#include "camera/cam_params_one_lens.h"
#include "camera/cam_params_ztm6.h"
#include "imaging/gain_curve.h"
#include "imaging/scan_pictures.h"
#include "model/camera_scan_record.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/pointcloud_file.h"
#include "model/property.h"
#include "model/scan_files.h"

#include <QDebug>
#include <QFileInfo>
#include <QJsonValue>
#include <QTransform>

#include <omp.h>

#include <cmath>
#include <exception>
#include <limits>
#include <stdexcept>

namespace {
constexpr double kRadToDeg = 57.29577951308232;
const QLatin1String kFloorFile("floor.json");

const uint8_t* bytesOrNull(const QByteArray& rgb)
{
    return rgb.isEmpty() ? nullptr : reinterpret_cast<const uint8_t*>(rgb.constData());
}

// The levelled, seam-blended pano of the scan's two lens images, W x W/2, rows top-down. The
// lens colours are equalised first: the gains land in `params` and are applied to lens 2.
QByteArray renderTwoLensPano(const CamParamsZTM6& camera, const QString& folder, ImageParams& params, int width)
{
    // Each decode is serial work: side by side when the task has a second thread.
    QByteArray lenses[2];
    std::exception_ptr failures[2];
#pragma omp parallel for num_threads(2) if (omp_get_max_threads() > 1)
    for (int lens = 0; lens < 2; ++lens) {
        try {
            camera.loadFisheyeImage(folder, lens, lenses[lens], false);
        } catch (...) {
            failures[lens] = std::current_exception();
        }
    }
    if (failures[0])
        std::rethrow_exception(failures[0]);
    QByteArray& lens1 = lenses[0];
    QByteArray& lens2 = lenses[1];
    if (lens1.isEmpty())
        throw std::runtime_error(QStringLiteral("Could not read image %1/%2").arg(folder, scanfiles::twoLensMainImage)
                                     .toStdString());
    // Without lens 2 the render takes both halves from lens 1.
    if (failures[1])
        std::rethrow_exception(failures[1]);

    camera.equalizeShotColors(bytesOrNull(lens1), bytesOrNull(lens2), nullptr, params);
    if (!lens2.isEmpty())
        applyGainCurves(reinterpret_cast<uint8_t*>(lens2.data()), static_cast<size_t>(lens2.size() / 3),
                        params[ImageParams::RED_GAIN_2], params[ImageParams::GREEN_GAIN_2],
                        params[ImageParams::BLUE_GAIN_2]);

    const int height = width / 2;
    QByteArray pano(static_cast<qsizetype>(width) * height * 3, Qt::Uninitialized);
    adviseHugePages(pano.data(), static_cast<size_t>(pano.size()));
    auto* out = reinterpret_cast<uint8_t*>(pano.data());
    camera.blendTwoLensPano(bytesOrNull(lens1), bytesOrNull(lens2), width, height, params, out);
    // The render is bottom-up like the lens images; JPEG rows run top-down.
    flipRows(out, width, height);
    return pano;
}

// A kilometre-scale floor is large; a scan a thousand kilometres out is a damaged value.
constexpr double kMaxCoordinate = 1e9;

bool isPlaceable(const QPointF& point)
{
    return std::fabs(point.x()) <= kMaxCoordinate && std::fabs(point.y()) <= kMaxCoordinate;
}
} // namespace

void Panorama::readCameraData(const CamParams& camera, const LidarReadOptions& options, ScanData& data)
{
    // Not-a-number marks what the scan's metadata did not give.
    data.position = QPointF(qQNaN(), qQNaN());
    data.heading = std::numeric_limits<float>::quiet_NaN();
    camera.loadScanData(folder(), m_imageParams, data, options);
}

bool Panorama::postGeometry(const ScanData& data, bool place)
{
    QPointF position = data.position;
    double heading = data.heading;
    place = place && isPlaceable(position) && std::isfinite(heading);
    if (place) {
        if (Floor* f = floor()) {
            // The floor's frame: the camera's frame turned by -angle and moved by (tx, ty).
            const FloorTransform transform = f->readFloorTransform(f->folderPath() + "/" + kFloorFile);
            if (transform.tx != 0 || transform.ty != 0 || transform.angle != 0) {
                const double degrees = transform.angle * kRadToDeg;
                position = QTransform().translate(transform.tx, transform.ty).rotate(-degrees).map(position);
                heading -= degrees;
            }
        }
        place = isPlaceable(position) && std::isfinite(heading);
    }
    const QList<QPoint> outline = data.lidarPoints;
    const bool shown = data.shown;
    const int alignment = data.alignmentFlag;
    runOnMainThread(
        [this, outline, place, position, heading, shown, alignment] {
            setOutline(outline);
            if (!place)
                return;
            setState({position, heading});
            m_shown = shown;
            m_alignment = alignment;
            if (Property* property = idRegistry())
                property->setDirty(true);
        },
        m_guiJobGuard.get());
    return place;
}

bool Panorama::readLidarAgain(const LidarReadOptions& options, ScanData& data)
{
    const CamParams* model = camera();
    if (!model || m_type == PanoType::User || m_type == PanoType::Map || m_equirectangular)
        return false;
    // A scan from an export archive has no lidar files: the outline it came with is all there is.
    if (!hasCameraShots(*model))
        return false;
    readCameraData(*model, options, data);
    return true;
}

void Panorama::loadPointcloud(bool place, int mode, float a, float b, float c)
{
    ScanData data;
    if (readLidarAgain(LidarReadOptions{mode, a, b, c}, data))
        postGeometry(data, place);
}

void Panorama::keepOutlineOfCalibration()
{
    ScanData data;
    if (!readLidarAgain(kOwnCalibration, data))
        return;
    writePointcloudFile(writableFilePath(scanfiles::pointCloud), data.lidarPoints);
    postGeometry(data, false);
}

bool Panorama::hasCameraShots(const CamParams& model) const
{
    const QString dir = folder();
    if (const auto* oneLens = dynamic_cast<const CamParamsOneLens*>(&model))
        return QFileInfo(oneLens->shotPath(dir, 0)).isFile() || QFileInfo(dir + "/" + scanfiles::firstExposure).isFile();
    return QFileInfo(dir + "/" + scanfiles::twoLensMainImage).isFile();
}

void Panorama::requireReadableByCamera() const
{
    const CamParams* model = camera();
    if (!model || m_type == PanoType::User || m_type == PanoType::Map || m_equirectangular)
        return;
    // The models read a scan's geometry before its shots: a scan they cannot read fails here.
    ImageParams params = m_imageParams;
    ScanData data;
    model->loadScanData(folder(), params, data, kOwnCalibration);
}

QByteArray Panorama::pointcloudData() const
{
    return encipheredPointcloud(m_outline);
}

void Panorama::reloadTwoLens(const CamParamsZTM6& camera, bool reprocess)
{
    const QString dir = folder();
    const QString preview = existingFilePath(scanfiles::preview);
    if (!QFileInfo(dir + "/" + scanfiles::twoLensMainImage).isFile()) {
        // A scan from an export archive has only what processing made: its pictures and point cloud.
        if (reprocess || !QFileInfo::exists(preview))
            throwMainImageMissing();
        ScanData data;
        readPointcloudFile(existingFilePath(scanfiles::pointCloud), data.lidarPoints);
        postGeometry(data, false);
        return;
    }
    // A scan whose fingerprint was never taken has never been placed from its camera data.
    const bool firstRead = m_scanHash.isEmpty();

    ScanData data;
    readCameraData(camera, kOwnCalibration, data);
    m_scanHash = QString::fromStdString(camera.scanHash(dir.toUtf8().toStdString()));
    m_capture = captureRecord(data);
    if (Property* property = idRegistry()) {
        property->updateShutterCounter(data.shutterCounter);
        m_systemCfgIndex = property->systemCfgIndex(data.systemCfgName);
    }
    writePointcloudFile(writableFilePath(scanfiles::pointCloud), data.lidarPoints);
    postGeometry(data, firstRead);

    if (reprocess || !QFileInfo::exists(preview)) {
        const QByteArray rgb = renderTwoLensPano(camera, dir, m_imageParams, kPreviewWidth);
        writePreviewPic(writableFilePath(scanfiles::preview), reinterpret_cast<const uint8_t*>(rgb.constData()),
                        kPreviewWidth, kPreviewHeight);
    }
}

void Panorama::buildTwoLensPano(const CamParamsZTM6& camera)
{
    const QString dir = folder();
    if (!QFileInfo(dir + "/" + scanfiles::twoLensMainImage).isFile()) {
        // Without the lens images a pano already made is the best there is.
        if (QFileInfo::exists(existingFilePath(scanfiles::fullPano)))
            return;
        throwMainImageMissing();
    }
    const QByteArray rgb = renderTwoLensPano(camera, dir, m_imageParams, kFullPanoWidth);
    writeFullPanoPic(writableFilePath(scanfiles::fullPano), reinterpret_cast<const uint8_t*>(rgb.constData()),
                     kFullPanoWidth, kFullPanoWidth / 2);
}
