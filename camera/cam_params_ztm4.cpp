#include "camera/cam_params_ztm4.h"

#include "camera/operation_unavailable.h"

#include <cstdio>
#include <cstring>

namespace {
constexpr qsizetype kIntegersAt = 28;
constexpr qsizetype kLensAt = 72;
constexpr qsizetype kLasersAt = 112;
constexpr qsizetype kLaserRecordSize = CamParamsZTM4::kLaserValueCount * 4;
constexpr qsizetype kCalibrationSize = 14 * 4;
} // namespace

CamParamsZTM4::CamParamsZTM4()
{
    setDefaults();
}

CamParamsZTM4::~CamParamsZTM4() = default;

void CamParamsZTM4::setDefaults()
{
    fileStamp = kStamp;
    std::memset(serial, 0, sizeof serial);
    TIMESTAMP = 0;
    IMGWIDTH = 4272;
    IMGHEIGHT = 2848;
    NUM_LASERS = 0;
    m_lasers.clear();
    m_lasersDouble.clear();
    CENT_COLOR = 3;
    CENT_THRESHOLD = 30;
    CENT_MINPEAK = 20;
    CENT_MAXPEAK = 65536;
    CENT_MINSIDEPIX = 1;
    CENT_MAXSIDEPIX = 8;
    COMPASS_FACTOR = 1;

    const double lens[LensTermCount] = {1050.0, double(IMGHEIGHT / 2), double(IMGHEIGHT / 2), 1.0, 1e-7, 0, 0, 0, 0, 0};
    for (int i = 0; i < LensTermCount; ++i) {
        lensDouble[i] = lens[i];
        lensFloat[i] = static_cast<float>(lens[i]);
    }
    const double calibration[CalibrationValueCount] = {0.0, 3.229, 1.00106, 1.00003, 1.0, 1.01026, 1.01546,
                                                       1.01756, 1.02178, 1.02711, 1.03684, 1.06486, 1.10923, 1.17262};
    for (int i = 0; i < CalibrationValueCount; ++i) {
        calibDouble[i] = calibration[i];
        calibFloat[i] = static_cast<float>(calibration[i]);
    }
}

bool CamParamsZTM4::loadSystemFile(const QString& path)
{
    QByteArray bytes;
    const FileRead read = readWholeFile(path, bytes);
    if (read == FileRead::CannotOpen) {
        std::printf("failed to open file\n");
        return false;
    }
    if (read == FileRead::Empty) {
        std::printf("read 0 bytes\n");
        return false;
    }
    const auto refuse = [this] {
        setDefaults();
        return false;
    };
    if (read != FileRead::Ok || bytes.size() < 4 || readLittleEndian<uint32_t>(bytes, 0) != kStamp)
        return refuse();
    fileStamp = kStamp;
    if (bytes.size() < kIntegersAt)
        return refuse();
    std::memcpy(serial, bytes.constData() + 4, sizeof serial);
    if (bytes.size() < kLensAt)
        return refuse();
    int32_t* const integers[] = {&TIMESTAMP, &IMGWIDTH, &IMGHEIGHT, &NUM_LASERS, &CENT_COLOR, &CENT_THRESHOLD,
                                 &CENT_MINPEAK, &CENT_MAXPEAK, &CENT_MINSIDEPIX, &CENT_MAXSIDEPIX, &COMPASS_FACTOR};
    for (size_t i = 0; i < std::size(integers); ++i)
        *integers[i] = readLittleEndian<int32_t>(bytes, kIntegersAt + 4 * static_cast<qsizetype>(i));
    if (bytes.size() < kLasersAt)
        return refuse();
    for (int i = 0; i < LensTermCount; ++i)
        setLensTerm(i, readLittleEndian<float>(bytes, kLensAt + 4 * i));
    // The laser count sizes the rest of the block: it must fit in the bytes that are there.
    if (NUM_LASERS < 0 || NUM_LASERS > (bytes.size() - kLasersAt) / kLaserRecordSize)
        return refuse();
    const qsizetype calibrationAt = kLasersAt + kLaserRecordSize * NUM_LASERS;
    m_lasers.assign(static_cast<size_t>(NUM_LASERS), LaserPlane{});
    m_lasersDouble.assign(static_cast<size_t>(NUM_LASERS), LaserPlaneDouble{});
    for (int laser = 0; laser < NUM_LASERS; ++laser) {
        for (int k = 0; k < kLaserValueCount; ++k) {
            const float value = readLittleEndian<float>(bytes, kLasersAt + kLaserRecordSize * laser + 4 * k);
            m_lasers[size_t(laser)][size_t(k)] = value;
            m_lasersDouble[size_t(laser)][size_t(k)] = value;
        }
    }
    if (bytes.size() < calibrationAt + kCalibrationSize + 2)
        return refuse();
    for (int i = 0; i < CalibrationValueCount; ++i)
        setCalibrationValue(i, readLittleEndian<float>(bytes, calibrationAt + 4 * i));
    if (!trailerMatches(bytes, calibrationAt + kCalibrationSize))
        return refuse();
    return true;
}

// The block writer and the scan readers of this model are not built yet: nothing is written,
// and reading a scan says so.
bool CamParamsZTM4::saveSystemFile(const QString&)
{
    return false;
}

std::string CamParamsZTM4::modelName() const
{
    return "ZTM4";
}

void CamParamsZTM4::loadFisheyeImage(const QString&, int, QByteArray& rgb, bool) const
{
    rgb.clear();
    throw OperationUnavailable("Shots of the ZTM4 camera cannot be read yet.");
}

void CamParamsZTM4::loadScanData(const QString&, ImageParams&, ScanData&, const LidarReadOptions&) const
{
    throw OperationUnavailable("Scan data of the ZTM4 camera cannot be read yet.");
}

int CamParamsZTM4::laserOffset() const
{
    return 210;
}

// This camera is never updated from the application.
void CamParamsZTM4::updateSystemFile(const QString&, int, QWidget*)
{
}

void CamParamsZTM4::updateFirmware(const QString&, const QString&, QWidget*)
{
}

// The laser camera's lens centre is never refitted.
void CamParamsZTM4::adjustLensCenter(const uint8_t*, const uint8_t*, const uint8_t*)
{
}

int CamParamsZTM4::centroidSetting(int index) const
{
    const int32_t values[] = {CENT_COLOR, CENT_THRESHOLD, CENT_MINPEAK, CENT_MAXPEAK,
                              CENT_MINSIDEPIX, CENT_MAXSIDEPIX, COMPASS_FACTOR};
    return index >= 0 && index < int(std::size(values)) ? values[index] : 0;
}
