#include "camera/cam_params_ztm5.h"

#include "camera/shot_correction.h"
#include "imaging/hdr_merge.h"
#include "imaging/image_io.h"
#include "imaging/jpeg_writer.h"
#include "imaging/scan_pictures.h"
#include "imaging/square_crop.h"

#include <QFileInfo>

#include <stdexcept>

namespace {
constexpr int kHdrShot = 1;
constexpr int kExposureCount = 3;
constexpr float kHdrSigma = 0.2f;
constexpr int kHdrJpegQuality = 91;
} // namespace

void CamParamsZTM5::loadFisheyeImage(const QString& scanFolder, int shot, QByteArray& rgb, bool correct) const
{
    const QString path = QStringLiteral("%1/h%2.jpg").arg(scanFolder).arg(shot + 1);
    if (loadShotFile(path, rgb) == SizedImage::WrongSize)
        throw std::runtime_error("Failed to load image" + path.toStdString() + ": improper size.");
    if (correct && !rgb.isEmpty())
        cropAndCorrectChromaticAberration(*this, rgb);
}

void CamParamsZTM5::buildHdrImage(const QString& scanFolder, int shot, bool weighContrast, const QString& shotFolder)
{
    if (shot != kHdrShot)
        return;
    const QString target = QStringLiteral("%1/h%2.jpg").arg(shotFolder).arg(kHdrShot);
    if (QFileInfo::exists(target) || QFileInfo::exists(QStringLiteral("%1/h%2.jpg").arg(scanFolder).arg(kHdrShot)))
        return;

    QByteArray exposures[kExposureCount];
    int found = 0;
    for (; found < kExposureCount; ++found) {
        const QString path = QStringLiteral("%1/p%3.jpg").arg(scanFolder).arg(found);
        if (!QFileInfo::exists(path))
            break;
        QByteArray& rgb = exposures[found];
        int width = 0;
        const SizedImage read = loadExposureFile(path, rgb, width, true);
        if (read == SizedImage::Unreadable)
            throw std::runtime_error("Could not load HDR image: " + path.toStdString());
        if (read == SizedImage::WrongSize || !cropCenterSquare(rgb, width, IMGHEIGHT))
            throw std::runtime_error("Could not process HDR image: " + path.toStdString());
    }
    if (found == 0)
        return;
    if (exposures[0].isEmpty())
        throw std::runtime_error("Could not process HDR image at: " + scanFolder.toStdString() + ". Missing reference image.");

    QByteArray shotImage;
    if (found < kExposureCount || exposures[1].isEmpty() || exposures[2].isEmpty())
        shotImage = exposures[0];
    else
        mergeHdr(exposures[0], exposures[1], exposures[2], shotImage, IMGHEIGHT, weighContrast, kHdrSigma, -1);
    // The exposures were read bottom-up; the file a user opens is stored top-down.
    flipRows(reinterpret_cast<uint8_t*>(shotImage.data()), IMGHEIGHT, IMGHEIGHT);
    saveJpgFile(target, reinterpret_cast<const uint8_t*>(shotImage.constData()), IMGHEIGHT, IMGHEIGHT,
                kHdrJpegQuality, false);
}
