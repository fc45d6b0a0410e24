#include "camera/cam_params_ztm5.h"

#include "base/crc16.h"
#include "camera/calibration_text.h"
#include "camera/lens_centre_fit.h"
#include "camera/scan_fingerprint.h"

#include <QFile>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace {
constexpr qsizetype kSerialAt = 4;
constexpr qsizetype kIntegersAt = 28;
constexpr qsizetype kLensAt = 40;
constexpr qsizetype kCalibrationAt = 80;
constexpr qsizetype kTrailerAt = 132;
// The block and the text form carry LENS_FOV onwards: COMPASS_OFFSET is not stored.
constexpr int kFirstStoredCalibration = CamParamsOneLens::LENS_FOV;
constexpr int kStoredIntegers = 3; // TIMESTAMP, IMGWIDTH, IMGHEIGHT
constexpr int kTextLines = 2 + kStoredIntegers + int(CamParamsOneLens::LensTermCount)
    + int(CamParamsOneLens::CalibrationValueCount) - kFirstStoredCalibration;

template <typename T>
void appendLittleEndian(QByteArray& bytes, T value)
{
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// The number a line starts with (after blanks); what follows it is a comment.
const char* numberStart(const QByteArray& line)
{
    const char* p = line.constData();
    const char* end = p + line.size();
    while (p != end && (*p == ' ' || *p == '\t'))
        ++p;
    if (p != end && *p == '+')
        ++p;
    return p;
}

bool leadingInteger(const QByteArray& line, int64_t& value)
{
    const char* p = numberStart(line);
    return std::from_chars(p, line.constData() + line.size(), value).ec == std::errc();
}

// A value a calibration can hold in both precisions.
bool leadingValue(const QByteArray& line, double& value)
{
    const char* p = numberStart(line);
    if (std::from_chars(p, line.constData() + line.size(), value).ec != std::errc())
        return false;
    return std::isfinite(value) && std::isfinite(float(value));
}

bool fitsInt32(int64_t value)
{
    return value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max();
}
} // namespace

CamParamsZTM5::CamParamsZTM5()
{
    setDefaults();
}

CamParamsZTM5::~CamParamsZTM5() = default;

void CamParamsZTM5::setDefaults()
{
    fileStamp = kStamp;
    std::memset(serial, 0, sizeof serial);
    TIMESTAMP = 0;
    IMGWIDTH = 3456;
    IMGHEIGHT = 3456;
    NUM_LASERS = CENT_COLOR = CENT_THRESHOLD = CENT_MINPEAK = CENT_MAXPEAK = 0;
    CENT_MINSIDEPIX = CENT_MAXSIDEPIX = COMPASS_FACTOR = 0;

    const double lens[LensTermCount] = {1300.0, double(IMGHEIGHT / 2), double(IMGHEIGHT / 2), 1.0, 4e-8, 0, 0, 0, 0, 0};
    for (int i = 0; i < LensTermCount; ++i) {
        lensDouble[i] = lens[i];
        lensFloat[i] = static_cast<float>(lens[i]);
    }
    const double calibration[CalibrationValueCount] = {0.0, 3.229, 1.00106, 1.000033, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < CalibrationValueCount; ++i) {
        calibDouble[i] = calibration[i];
        calibFloat[i] = static_cast<float>(calibration[i]);
    }
}

bool CamParamsZTM5::loadSystemFile(const QString& path)
{
    QByteArray bytes;
    const FileRead read = readWholeFile(path, bytes);
    if (read == FileRead::CannotOpen || read == FileRead::Empty)
        return false;
    const auto refuse = [this] {
        setDefaults();
        return false;
    };
    if (read != FileRead::Ok || bytes.size() < kSerialAt)
        return refuse();
    const uint32_t stamp = readLittleEndian<uint32_t>(bytes, 0);
    if (stamp != kStamp && stamp != kOlderStamp)
        return refuse();
    fileStamp = stamp;
    if (bytes.size() < kIntegersAt)
        return refuse();
    std::memcpy(serial, bytes.constData() + kSerialAt, sizeof serial);
    if (bytes.size() < kLensAt)
        return refuse();
    TIMESTAMP = readLittleEndian<int32_t>(bytes, kIntegersAt);
    IMGWIDTH = readLittleEndian<int32_t>(bytes, kIntegersAt + 4);
    IMGHEIGHT = readLittleEndian<int32_t>(bytes, kIntegersAt + 8);
    if (bytes.size() < kCalibrationAt)
        return refuse();
    for (int i = 0; i < LensTermCount; ++i)
        lensFloat[i] = readLittleEndian<float>(bytes, kLensAt + 4 * i);
    if (bytes.size() < kTrailerAt)
        return refuse();
    for (int i = kFirstStoredCalibration; i < CalibrationValueCount; ++i)
        calibFloat[i] = readLittleEndian<float>(bytes, kCalibrationAt + 4 * (i - kFirstStoredCalibration));
    if (bytes.size() < kBlockSize)
        return refuse();
    // COMPASS_OFFSET's double follows its float too, which keeps what it held.
    for (int i = 0; i < LensTermCount; ++i)
        lensDouble[i] = lensFloat[i];
    for (int i = 0; i < CalibrationValueCount; ++i)
        calibDouble[i] = calibFloat[i];
    // Over every byte but the last two: a longer file fails unless its own end happens to fit.
    if (!trailerMatches(bytes, kTrailerAt))
        return refuse();
    if (fileStamp == kOlderStamp)
        clearCalibrationRotation();
    return true;
}

bool CamParamsZTM5::saveSystemFile(const QString& path)
{
    // What follows the serial's terminator is no part of it: the file gets zeros there.
    const size_t length = strnlen(serial, sizeof serial);
    std::memset(serial + length, 0, sizeof serial - length);
    QByteArray bytes = serializeBlock();
    appendLittleEndian(bytes, computeCrc16(reinterpret_cast<const uint8_t*>(bytes.constData()), uint32_t(bytes.size())));

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write(bytes) == kBlockSize && file.flush();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

QByteArray CamParamsZTM5::serializeBlock() const
{
    QByteArray bytes;
    bytes.reserve(kBlockSize);
    appendLittleEndian(bytes, fileStamp);
    bytes.append(serial, sizeof serial);
    appendLittleEndian(bytes, TIMESTAMP);
    appendLittleEndian(bytes, IMGWIDTH);
    appendLittleEndian(bytes, IMGHEIGHT);
    for (float value : lensFloat)
        appendLittleEndian(bytes, value);
    for (int i = kFirstStoredCalibration; i < CalibrationValueCount; ++i)
        appendLittleEndian(bytes, calibFloat[i]);
    return bytes;
}

bool CamParamsZTM5::saveTextFile(const QString& path)
{
    std::string text = std::to_string(fileStamp) + "\n" + std::string(serial, strnlen(serial, sizeof serial)) + "\n";
    const int32_t integers[kStoredIntegers] = {TIMESTAMP, IMGWIDTH, IMGHEIGHT};
    for (int i = 0; i < kStoredIntegers; ++i)
        text += std::to_string(integers[i]) + "\t# " + intKeyName(i) + "\n";
    for (int i = 0; i < LensTermCount; ++i)
        text += lensTermText(lensDouble[i], lensFloat[i]) + "\t# " + doubleKeyName(i) + "\n";
    for (int i = kFirstStoredCalibration; i < CalibrationValueCount; ++i)
        text += calibrationText(calibFloat[i]) + "\t# " + floatKeyName(i) + "\n";

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write(text.data(), qint64(text.size())) == qint64(text.size()) && file.flush();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

bool CamParamsZTM5::loadTextFile(const QString& path)
{
    QByteArray bytes;
    const FileRead read = readWholeFile(path, bytes);
    if (read == FileRead::CannotOpen)
        return false;
    const QList<QByteArray> lines = bytes.split('\n');
    const auto refuse = [this] {
        setDefaults();
        return false;
    };
    // split() leaves one piece after the last line feed: a line needs its own piece before it.
    if (read != FileRead::Ok || lines.size() - (bytes.endsWith('\n') ? 1 : 0) < kTextLines)
        return refuse();

    int64_t stamp = 0;
    if (!leadingInteger(lines[0], stamp) || (stamp != kStamp && stamp != kOlderStamp))
        return refuse();
    int64_t integers[kStoredIntegers] = {};
    for (int i = 0; i < kStoredIntegers; ++i)
        if (!leadingInteger(lines[2 + i], integers[i]) || !fitsInt32(integers[i]))
            return refuse();
    constexpr int kValueLines = kTextLines - 2 - kStoredIntegers;
    double values[kValueLines] = {};
    for (int i = 0; i < kValueLines; ++i)
        if (!leadingValue(lines[2 + kStoredIntegers + i], values[i]))
            return refuse();

    fileStamp = kStamp;
    std::memset(serial, 0, sizeof serial);
    const QByteArray serialLine = lines[1].left(kSerialSize - 1);
    std::memcpy(serial, serialLine.constData(), size_t(serialLine.size()));
    TIMESTAMP = int32_t(integers[0]);
    IMGWIDTH = int32_t(integers[1]);
    IMGHEIGHT = int32_t(integers[2]);
    for (int i = 0; i < LensTermCount; ++i) {
        lensDouble[i] = values[i];
        lensFloat[i] = float(values[i]);
    }
    for (int i = kFirstStoredCalibration; i < CalibrationValueCount; ++i) {
        calibDouble[i] = values[LensTermCount + i - kFirstStoredCalibration];
        calibFloat[i] = float(calibDouble[i]);
    }
    if (stamp == kOlderStamp)
        clearCalibrationRotation();
    return true;
}

std::string CamParamsZTM5::modelName() const
{
    return "ZTM5";
}

int CamParamsZTM5::laserOffset() const
{
    return 101;
}

std::string CamParamsZTM5::scanHash(const std::string& scanFolder) const
{
    return computeScanHash(scanFolder, 1);
}

void CamParamsZTM5::adjustLensCenter(const uint8_t* shot1, const uint8_t* shot2, const uint8_t* shot3)
{
    adjustLensCentre(*this, shot1, shot2, shot3);
}

// The older format carried no calibration rotation: whatever its spare values hold is not one.
void CamParamsZTM5::clearCalibrationRotation()
{
    for (int i = VC0; i <= VC9; ++i)
        setCalibrationValue(i, 0.0f);
    fileStamp = kStamp;
}

void CamParamsZTM5::calibRotation(float& vc0, float& vc1, float& vc2) const
{
    vc0 = calibFloat[VC0];
    vc1 = calibFloat[VC1];
    vc2 = calibFloat[VC2];
}

void CamParamsZTM5::setCalibRotation(float vc0, float vc1, float vc2)
{
    calibFloat[VC0] = vc0;
    calibFloat[VC1] = vc1;
    calibFloat[VC2] = vc2;
}
