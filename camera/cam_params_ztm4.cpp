#include "camera/cam_params_ztm4.h"

#include "base/crc16.h"

#include <cstdio>
#include <cstring>

namespace {
constexpr qsizetype kSerialAt = 4;
constexpr qsizetype kIntegersAt = 28;
constexpr qsizetype kLensAt = 72;
constexpr qsizetype kLasersAt = 112;
constexpr qsizetype kLaserRecordSize = CamParamsZTM4::kLaserValueCount * 4;
constexpr qsizetype kCalibrationSize = 14 * 4;
constexpr qsizetype kTrailerSize = 2;

template <typename T>
void appendLittleEndian(QByteArray& bytes, T value)
{
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}
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
    resizeLasers(0);
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

void CamParamsZTM4::resizeLasers(int count)
{
    NUM_LASERS = count;
    m_lasers.assign(static_cast<size_t>(count), LaserPlane{});
    m_lasersDouble.assign(static_cast<size_t>(count), LaserPlaneDouble{});
}

void CamParamsZTM4::setLaserValue(int laser, int value, double stored)
{
    m_lasersDouble[size_t(laser)][size_t(value)] = stored;
    m_lasers[size_t(laser)][size_t(value)] = static_cast<float>(stored);
}

bool CamParamsZTM4::loadSystemFile(const QString& path)
{
    // Whatever fails, the model is left at its defaults for the next model to be tried.
    const auto refuse = [this] {
        setDefaults();
        return false;
    };
    QByteArray bytes;
    const FileRead read = readWholeFile(path, bytes);
    if (read == FileRead::CannotOpen || read == FileRead::Empty) {
        std::printf(read == FileRead::CannotOpen ? "failed to open file\n" : "read 0 bytes\n");
        std::fflush(stdout);
        return refuse();
    }
    if (read != FileRead::Ok || bytes.size() < kSerialAt || readLittleEndian<uint32_t>(bytes, 0) != kStamp)
        return refuse();
    if (bytes.size() < kLasersAt)
        return refuse();
    // The laser count sizes the rest of the block: it must fit in the bytes that are there
    // before a table is made for it.
    const int32_t lasers = readLittleEndian<int32_t>(bytes, kIntegersAt + 3 * 4);
    const qsizetype fixedSize = kLasersAt + kCalibrationSize + kTrailerSize;
    if (lasers < 0 || lasers > (bytes.size() - fixedSize) / kLaserRecordSize)
        return refuse();

    fileStamp = kStamp;
    std::memcpy(serial, bytes.constData() + kSerialAt, sizeof serial);
    int32_t* const integers[] = {&TIMESTAMP, &IMGWIDTH, &IMGHEIGHT, &NUM_LASERS, &CENT_COLOR, &CENT_THRESHOLD,
                                 &CENT_MINPEAK, &CENT_MAXPEAK, &CENT_MINSIDEPIX, &CENT_MAXSIDEPIX, &COMPASS_FACTOR};
    for (size_t i = 0; i < std::size(integers); ++i)
        *integers[i] = readLittleEndian<int32_t>(bytes, kIntegersAt + 4 * static_cast<qsizetype>(i));
    for (int i = 0; i < LensTermCount; ++i)
        setLensTerm(i, readLittleEndian<float>(bytes, kLensAt + 4 * i));
    resizeLasers(lasers);
    for (int laser = 0; laser < lasers; ++laser)
        for (int k = 0; k < kLaserValueCount; ++k)
            setLaserValue(laser, k, readLittleEndian<float>(bytes, kLasersAt + kLaserRecordSize * laser + 4 * k));
    const qsizetype calibrationAt = kLasersAt + kLaserRecordSize * lasers;
    for (int i = 0; i < CalibrationValueCount; ++i)
        setCalibrationValue(i, readLittleEndian<float>(bytes, calibrationAt + 4 * i));
    if (!trailerMatches(bytes, calibrationAt + kCalibrationSize))
        return refuse();
    return true;
}

QByteArray CamParamsZTM4::serializeBlock() const
{
    QByteArray bytes;
    bytes.reserve(kLasersAt + kLaserRecordSize * NUM_LASERS + kCalibrationSize + kTrailerSize);
    appendLittleEndian(bytes, fileStamp);
    bytes.append(serial, sizeof serial);
    for (int32_t value : {TIMESTAMP, IMGWIDTH, IMGHEIGHT, NUM_LASERS, CENT_COLOR, CENT_THRESHOLD, CENT_MINPEAK,
                          CENT_MAXPEAK, CENT_MINSIDEPIX, CENT_MAXSIDEPIX, COMPASS_FACTOR})
        appendLittleEndian(bytes, value);
    for (float value : lensFloat)
        appendLittleEndian(bytes, value);
    for (const LaserPlane& laser : m_lasers)
        for (float value : laser)
            appendLittleEndian(bytes, value);
    for (float value : calibFloat)
        appendLittleEndian(bytes, value);
    return bytes;
}

bool CamParamsZTM4::saveSystemFile(const QString& path)
{
    // The block has no place for the first cameras' format: a file with their stamp would be
    // refused by every reader, this one included.
    if (fileStamp != kStamp)
        return false;
    // What follows the serial's terminator is no part of it: the file gets zeros there.
    const size_t length = strnlen(serial, sizeof serial);
    std::memset(serial + length, 0, sizeof serial - length);
    QByteArray bytes = serializeBlock();
    appendLittleEndian(bytes, computeCrc16(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                           static_cast<uint32_t>(bytes.size())));
    // The calibration is replaced whole or not at all.
    return replaceWholeFile(path, bytes);
}

std::string CamParamsZTM4::modelName() const
{
    return "ZTM4";
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
