#include "camera/cam_params_ztm6.h"

#include <cstring>

namespace {
// Header texts are NUL-terminated within their 24 bytes; a missing NUL never reads past the field.
std::string fieldText(const char (&field)[24])
{
    return std::string(field, strnlen(field, sizeof field));
}
} // namespace

CamParamsZTM6::CamParamsZTM6()
    : m_distortionKeys{"U0", "V0", "K1", "K2", "K3", "P1", "P2", "P3", "P4", "RM"}
    , m_poseKeys{"POSX", "POSY", "POSZ", "ROLL", "PITCH", "YAW"}
    , m_chromaticKeys{"RCA", "BCA"}
    , m_headerKeys{"FILE_VERSION", "TIME_STAMP", "IMG_WIDTH", "IMG_HEIGHT", "NUM_LENS"}
{
    resetParameters();
}

CamParamsZTM6::~CamParamsZTM6() = default;

void CamParamsZTM6::resetParameters()
{
    // The reserved bytes survive a reset; everything else returns to an empty calibration.
    uint8_t reserved[2];
    std::memcpy(reserved, m_header.reserved, sizeof reserved);
    m_header = Ztm6Header{};
    std::memcpy(m_header.reserved, reserved, sizeof reserved);
    m_header.FILE_VERSION = 60002;
    m_lenses.clear();
}

bool CamParamsZTM6::isLensCalibrated() const
{
    return m_header.LENS_CALIBRATED != 0;
}

std::string CamParamsZTM6::modelName() const
{
    return modelFromSerial(systemSerial());
}

std::string CamParamsZTM6::cameraModel() const
{
    return fieldText(m_header.CAMERA_MODEL);
}

std::string CamParamsZTM6::cameraSerial() const
{
    return fieldText(m_header.CAMERA_SERIAL);
}

std::string CamParamsZTM6::cameraFirmware() const
{
    return fieldText(m_header.CAMERA_FW);
}

int CamParamsZTM6::imageWidth() const
{
    return m_header.IMG_WIDTH;
}

int CamParamsZTM6::imageHeight() const
{
    return m_header.IMG_HEIGHT;
}

std::string CamParamsZTM6::systemSerial() const
{
    return fieldText(m_header.SYSTEM_SERIAL);
}

int CamParamsZTM6::timestamp() const
{
    return m_header.TIME_STAMP;
}

void CamParamsZTM6::setTimestamp(const int& value)
{
    m_header.TIME_STAMP = value;
}

float CamParamsZTM6::panoYawOffset() const
{
    return 3.1415927f;
}
