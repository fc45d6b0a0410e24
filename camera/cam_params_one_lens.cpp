#include "camera/cam_params_one_lens.h"

#include "base/crc16.h"
#include "base/write_failure.h"
#include "imaging/rotation.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {
const char* const kIntKeyNames[] = {"TIMESTAMP", "IMGWIDTH", "IMGHEIGHT", "NUM_LASERS", "CENT_COLOR",
                                    "CENT_THRESHOLD", "CENT_MINPEAK", "CENT_MAXPEAK", "CENT_MINSIDEPIX",
                                    "CENT_MAXSIDEPIX", "COMPASS_FACTOR"};
const char* const kDoubleKeyNames[] = {"F", "U0", "V0", "RY", "K1", "K2", "K3", "P1", "P2", "P3"};
const char* const kFloatKeyNames[] = {"COMPASS_OFFSET", "LENS_FOV", "RCA", "BCA", "VC0", "VC1", "VC2",
                                      "VC3", "VC4", "VC5", "VC6", "VC7", "VC8", "VC9"};

template <size_t N>
std::string keyName(const char* const (&names)[N], int index)
{
    return index >= 0 && static_cast<size_t>(index) < N ? names[index] : "Undefined";
}

constexpr double kPi = 3.14159265358979323846;

// A pano position through a levelling matrix (or its transpose).
void levelPanoPosition(const float g[9], bool transpose, float u, float v, float& outU, float& outV)
{
    const double lambda = 2.0 * kPi * u - kPi;
    const double phi = kPi / 2.0 - kPi * v;
    const float d[3] = {static_cast<float>(std::cos(lambda) * std::cos(phi)), static_cast<float>(std::sin(phi)),
                        static_cast<float>(std::sin(lambda) * std::cos(phi))};
    // Row i of G, or column i for the transpose.
    const int along = transpose ? 3 : 1;
    const int across = transpose ? 1 : 3;
    float e[3];
    for (int i = 0; i < 3; ++i)
        e[i] = g[i * across] * d[0] + g[i * across + along] * d[1] + g[i * across + 2 * along] * d[2];
    outU = static_cast<float>((std::atan2(e[2], e[0]) + kPi) / (2.0 * kPi));
    outV = static_cast<float>((kPi / 2.0 - std::asin(std::clamp(e[1], -1.0f, 1.0f))) / kPi);
}

void levelling(const ImageParams& p, float g[9])
{
    rotationFromAngles(p[ImageParams::ROLL_GLOBAL], 0.0f, p[ImageParams::PITCH_GLOBAL], g);
}
} // namespace

std::string CamParamsOneLens::intKeyName(int index)
{
    return keyName(kIntKeyNames, index);
}

std::string CamParamsOneLens::doubleKeyName(int index)
{
    return keyName(kDoubleKeyNames, index);
}

std::string CamParamsOneLens::floatKeyName(int index)
{
    return keyName(kFloatKeyNames, index);
}

void CamParamsOneLens::cameraToPano(float u, float v, const ImageParams& p, float& outU, float& outV) const
{
    float g[9];
    levelling(p, g);
    levelPanoPosition(g, false, u, v, outU, outV);
}

void CamParamsOneLens::panoToCamera(float u, float v, const ImageParams& p, float& outU, float& outV) const
{
    float g[9];
    levelling(p, g);
    levelPanoPosition(g, true, u, v, outU, outV);
}

QString CamParamsOneLens::shotPath(const QString& scanFolder, int shot) const
{
    if (modelName() == "ZTM4")
        return QStringLiteral("%1/h%2.jpg").arg(scanFolder, QChar(u'a' + shot));
    return QStringLiteral("%1/h%2.jpg").arg(scanFolder).arg(shot + 1);
}

CamParamsOneLens::MaskSet CamParamsOneLens::blendMasksFor(int panoWidth) const
{
    MaskSet set;
    const bool large = panoWidth > 0 && panoWidth == maskWidth1;
    const bool small = panoWidth > 0 && panoWidth == maskWidth2;
    if (!large && !small)
        throw std::runtime_error("no mask was initialized for this image size");
    set.side = panoWidth / 6;
    set.sideFaceSide = maskWidth1 / 6;
    for (int k = 0; k < 3; ++k)
        set.sideFaces[k] = &blendMasks[k];
    for (int k = 0; k < 4; ++k)
        set.caps[k] = &blendMasks[large ? 3 + k : 8 + k];
    set.seam = &blendMasks[large ? 7 : 12];
    set.seamWidth = panoWidth / 8;
    return set;
}

SizedImage CamParamsOneLens::loadShotFile(const QString& path, QByteArray& rgb) const
{
    const int side = IMGHEIGHT;
    int width = 0, height = 0;
    return loadImageRgbOfSize(path, rgb, width, height, true, false,
                              [side](int w, int h) { return w == side && h == side; });
}

SizedImage CamParamsOneLens::loadExposureFile(const QString& path, QByteArray& rgb, int& width, bool bottomUp) const
{
    const int side = IMGHEIGHT;
    int height = 0;
    return loadImageRgbOfSize(path, rgb, width, height, bottomUp, true,
                              [side](int w, int h) { return h == side && w >= side && qint64(w) <= 2 * qint64(side); });
}

void shotRotations(const ImageParams& p, float m[3][9])
{
    float g[9];
    levelling(p, g);
    std::copy(g, g + 9, m[0]);
    const float turns[2] = {2.094395f, 4.18879f};
    const int first[2] = {ImageParams::ROLL_2, ImageParams::ROLL_3};
    for (int k = 0; k < 2; ++k) {
        float own[9], base[9], turned[9];
        rotationFromAngles(p[first[k]], p[first[k] + 1], p[first[k] + 2], own);
        rotationFromAngles(0.0f, turns[k], 0.0f, base);
        mul3x3(base, own, turned);   // own . base
        mul3x3(g, turned, m[k + 1]); // own . base . G
    }
}

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

bool CamParamsOneLens::replaceWholeFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    QString reason;
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (!writeAll(file, bytes, reason)) {
        file.cancelWriting();
        return false;
    }
    return commitAll(file, reason);
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
