#include "camera/cam_params.h"

#include "imaging/pano_mapping.h"

bool CamParams::loadTextFile(const QString&)
{
    return false;
}

bool CamParams::saveTextFile(const QString&)
{
    return false;
}

bool CamParams::isLensCalibrated() const
{
    return true;
}

std::string CamParams::cameraModel() const
{
    return {};
}

std::string CamParams::cameraSerial() const
{
    return {};
}

std::string CamParams::cameraFirmware() const
{
    return {};
}

void CamParams::buildHdrImages(const QString& scanFolder, bool flag, const QString& shotFolder)
{
    for (int shot = 0; shot < 3; ++shot)
        buildHdrImage(scanFolder, shot, flag, shotFolder);
}

void CamParams::buildHdrImage(const QString&, int, bool, const QString&)
{
}

std::string CamParams::scanHash(const std::string&) const
{
    return {};
}

std::string modelFromSerial(const std::string& serial)
{
    if (serial.starts_with("R1"))
        return "R1";
    if (serial.starts_with("MX"))
        return "ZTM6";
    if (serial.starts_with("MS"))
        return "ZTM5";
    return {};
}

void CamParams::panoToCamera(float u, float v, const ImageParams& p, float& outU, float& outV) const
{
    panoToCameraPoint(u, v, p, outU, outV);
}

void CamParams::cameraToPano(float u, float v, const ImageParams& p, float& outU, float& outV) const
{
    cameraToPanoPoint(u, v, p, outU, outV);
}
