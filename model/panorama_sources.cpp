#include "camera/cam_params_one_lens.h"
#include "camera/cam_params_ztm6.h"
#include "imaging/image_io.h"
#include "model/panorama.h"
#include "model/scan_files.h"

#include <QObject>

#include <stdexcept>

namespace {
std::runtime_error failure(const QString& text)
{
    return std::runtime_error(text.toStdString());
}
} // namespace

SourceImages Panorama::loadSourceImages() const
{
    SourceImages sources;
    const QString dir = folder();
    if (m_type != PanoType::User) {
        if (auto* oneLens = dynamic_cast<CamParamsOneLens*>(mutableCamera())) {
            // Shots still held as exposures are fused first, as processing does.
            buildOneLensShots(*oneLens);
            loadOneLensShots(*oneLens, sources.images);
            sources.width = sources.height = oneLens->imageHeight();
            return sources;
        }
        if (const auto* twoLens = dynamic_cast<const CamParamsZTM6*>(camera())) {
            for (int lens = 0; lens < 2; ++lens)
                twoLens->loadFisheyeImage(dir, lens, sources.images[lens], false);
            if (sources.images[0].isEmpty())
                throwMainImageMissing();
            sources.width = twoLens->imageWidth();
            sources.height = twoLens->imageHeight();
            return sources;
        }
        requireBuildable();
    }
    const QString path = dir + "/" + scanfiles::userSource;
    if (!loadImageRgb(path, sources.images[0], sources.width, sources.height, false, false, false))
        throw failure(QObject::tr("Could not read image %1").arg(path));
    sources.equirectangular = true;
    return sources;
}
