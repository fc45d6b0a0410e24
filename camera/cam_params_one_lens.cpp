#include "camera/cam_params_one_lens.h"

#include "base/crc16.h"

#include <QFile>

#include <cstring>

CamParamsOneLens::CamParamsOneLens()
    : lensKeyNames{"F", "U0", "V0", "RY", "K1", "K2", "K3", "P1", "P2", "P3"}
{
}

CamParamsOneLens::~CamParamsOneLens() = default;

int CamParamsOneLens::imageWidth() const
{
    return IMGWIDTH;
}

int CamParamsOneLens::imageHeight() const
{
    return IMGHEIGHT;
}

std::string CamParamsOneLens::systemSerial() const
{
    return std::string(serial, strnlen(serial, sizeof serial));
}

int CamParamsOneLens::timestamp() const
{
    return TIMESTAMP;
}

void CamParamsOneLens::setTimestamp(const int& value)
{
    TIMESTAMP = value;
}

// The one-lens renderers and colour equalisation are not built yet: the renders come out black
// rather than leaving the caller's buffer undefined, and the gains stay as they are.
void CamParamsOneLens::renderPano(const uint8_t*, const uint8_t*, const uint8_t*, int width, int height,
                                  const ImageParams&, uint8_t* rgbOut) const
{
    if (rgbOut && width > 0 && height > 0)
        std::memset(rgbOut, 0, static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
}

void CamParamsOneLens::renderStrip(const uint8_t*, const uint8_t*, const uint8_t*, int width, int height,
                                   const ImageParams&, uint8_t* greyOut) const
{
    if (greyOut && width > 0 && height > 0)
        std::memset(greyOut, 0, static_cast<size_t>(width) * static_cast<size_t>(height));
}

void CamParamsOneLens::equalizeShotColors(const uint8_t*, const uint8_t*, const uint8_t*, ImageParams&) const
{
}

void CamParamsOneLens::initBlendMasks(int, int)
{
}

float CamParamsOneLens::panoYawOffset() const
{
    return 4.712389f;
}

CamParamsOneLens::FileRead CamParamsOneLens::readWholeFile(const QString& path, QByteArray& bytes)
{
    bytes.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return FileRead::CannotOpen;
    if (!file.isSequential() && file.size() > kMaxCalibrationFileSize)
        return FileRead::TooLarge;
    bytes = file.read(kMaxCalibrationFileSize + 1);
    if (bytes.size() > kMaxCalibrationFileSize) {
        bytes.clear();
        return FileRead::TooLarge;
    }
    return bytes.isEmpty() ? FileRead::Empty : FileRead::Ok;
}

bool CamParamsOneLens::trailerMatches(const QByteArray& bytes, qsizetype trailerOffset)
{
    if (bytes.size() < 2 || trailerOffset < 0 || trailerOffset + 2 > bytes.size())
        return false;
    const uint16_t expected = computeCrc16(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                           static_cast<uint32_t>(bytes.size() - 2));
    return readLittleEndian<uint16_t>(bytes, trailerOffset) == expected;
}

void CamParamsOneLens::setLensTerm(int term, float value)
{
    lensFloat[term] = value;
    lensDouble[term] = value;
}

void CamParamsOneLens::setCalibrationValue(int value, float stored)
{
    calibFloat[value] = stored;
    calibDouble[value] = stored;
}
