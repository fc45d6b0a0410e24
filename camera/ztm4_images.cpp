#include "camera/cam_params_ztm4.h"

#include "camera/shot_correction.h"
#include "imaging/hdr_merge.h"
#include "imaging/image_io.h"
#include "imaging/jpeg_writer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <stdexcept>

namespace {
constexpr int kShotCount = 3;
constexpr int kExposureCount = 3;
constexpr float kHdrSigma = 0.2f;
constexpr int kHdrJpegQuality = 91;

QChar shotLetter(int shot)
{
    return QChar(u'a' + shot);
}

std::runtime_error failure(const QString& text)
{
    return std::runtime_error(text.toStdString());
}
} // namespace

void CamParamsZTM4::loadFisheyeImage(const QString& scanFolder, int shot, QByteArray& rgb, bool) const
{
    rgb.clear();
    if (shot < 0 || shot >= kShotCount)
        return;
    const QString path = QStringLiteral("%1/h%2.jpg").arg(scanFolder, shotLetter(shot));
    if (loadShotFile(path, rgb) == SizedImage::WrongSize)
        throw failure(QStringLiteral("Failed to process image") + path + QStringLiteral(": improper size."));
}

void CamParamsZTM4::buildHdrImage(const QString& scanFolder, int shot, bool weighContrast, const QString& shotFolder)
{
    if (shot < 0 || shot >= kShotCount)
        return;
    const QChar letter = shotLetter(shot);
    const QString target = QStringLiteral("%1/h%2.jpg").arg(shotFolder, letter);
    if (QFileInfo::exists(target) || QFileInfo::exists(QStringLiteral("%1/h%2.jpg").arg(scanFolder, letter)))
        return;

    QByteArray exposures[kExposureCount];
    QStringList found;
    for (int k = 0; k < kExposureCount; ++k) {
        const QString path = QStringLiteral("%1/p%2%3.jpg").arg(scanFolder, letter).arg(k);
        if (!QFileInfo::exists(path))
            break;
        found << path;
        QByteArray& rgb = exposures[k];
        int width = 0;
        // Read top-down, as the shot file is written; the fusion and the square cut do not care.
        const SizedImage read = loadExposureFile(path, rgb, width, false);
        if (read == SizedImage::Unreadable)
            throw failure(QStringLiteral("Could not load HDR image: ") + path);
        if (read == SizedImage::WrongSize || (width != IMGHEIGHT && !cropAndCorrectChromaticAberration(*this, rgb)))
            throw failure(QStringLiteral("Could not process HDR image: ") + path);
    }
    if (found.isEmpty())
        return;
    if (exposures[0].isEmpty())
        throw failure(QStringLiteral("Could not process HDR image at: ") + scanFolder
                      + QStringLiteral(". Missing reference image."));

    QByteArray shotImage;
    if (found.size() == kExposureCount && !exposures[1].isEmpty() && !exposures[2].isEmpty())
        mergeHdr(exposures[0], exposures[1], exposures[2], shotImage, IMGHEIGHT, weighContrast, kHdrSigma, -1);
    else
        shotImage = exposures[0];
    // Written through a temporary and a rename: the exposures go only once the shot is whole on disk.
    saveJpgFile(target, reinterpret_cast<const uint8_t*>(shotImage.constData()), IMGHEIGHT, IMGHEIGHT,
                kHdrJpegQuality, false);
    if (QDir(shotFolder) != QDir(scanFolder))
        return;
    for (const QString& path : std::as_const(found))
        QFile::remove(path);
}
