#include "camera/shot_correction.h"

#include "camera/cam_params_one_lens.h"
#include "imaging/chromatic_aberration.h"
#include "imaging/square_crop.h"

#include <limits>

bool cropAndCorrectChromaticAberration(const CamParamsOneLens& camera, QByteArray& rgb)
{
    const qsizetype height = camera.imageHeight();
    if (height <= 0 || rgb.isEmpty() || rgb.size() % (height * 3) != 0)
        return false;
    const qsizetype width = rgb.size() / (height * 3);
    if (width > std::numeric_limits<int>::max() || !cropCenterSquare(rgb, int(width), int(height)))
        return false;
    scaleRedAndBlueAboutCentre(reinterpret_cast<uint8_t*>(rgb.data()), int(height), int(height),
                               camera.calibrationValue(CamParamsOneLens::RCA),
                               camera.calibrationValue(CamParamsOneLens::BCA));
    return true;
}
