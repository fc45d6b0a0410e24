#include "camera/cam_params_ztm5.h"

#include "camera/scan_fingerprint.h"

#include <cstring>
#include <stdexcept>

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
    if (read != FileRead::Ok || bytes.size() < 4)
        return refuse();
    const uint32_t stamp = readLittleEndian<uint32_t>(bytes, 0);
    if (stamp != kStamp && stamp != kOlderStamp)
        return refuse();
    fileStamp = stamp;
    if (bytes.size() < 28)
        return refuse();
    std::memcpy(serial, bytes.constData() + 4, sizeof serial);
    if (bytes.size() < 40)
        return refuse();
    TIMESTAMP = readLittleEndian<int32_t>(bytes, 28);
    IMGWIDTH = readLittleEndian<int32_t>(bytes, 32);
    IMGHEIGHT = readLittleEndian<int32_t>(bytes, 36);
    if (bytes.size() < 80)
        return refuse();
    for (int i = 0; i < LensTermCount; ++i)
        lensFloat[i] = readLittleEndian<float>(bytes, 40 + 4 * i);
    if (bytes.size() < 132)
        return refuse();
    // COMPASS_OFFSET is not stored: the block holds LENS_FOV onwards.
    for (int i = LENS_FOV; i < CalibrationValueCount; ++i)
        calibFloat[i] = readLittleEndian<float>(bytes, 80 + 4 * (i - LENS_FOV));
    if (bytes.size() < kBlockSize)
        return refuse();
    for (int i = 0; i < LensTermCount; ++i)
        lensDouble[i] = lensFloat[i];
    for (int i = 0; i < CalibrationValueCount; ++i)
        calibDouble[i] = calibFloat[i];
    if (!trailerMatches(bytes, kBlockSize - 2))
        return refuse();
    // The older block carried no calibration rotation: whatever its spare values hold is not one.
    if (fileStamp == kOlderStamp) {
        for (int i = VC0; i <= VC9; ++i)
            setCalibrationValue(i, 0.0f);
        fileStamp = kStamp;
    }
    return true;
}

// The block writer and the scan readers of this model are not built yet: nothing is written,
// and a shot reads as missing.
bool CamParamsZTM5::saveSystemFile(const QString&)
{
    return false;
}

std::string CamParamsZTM5::modelName() const
{
    return "ZTM5";
}

void CamParamsZTM5::loadFisheyeImage(const QString&, int, QByteArray& rgb, bool) const
{
    rgb.clear();
}

void CamParamsZTM5::loadScanData(const QString&, ImageParams&, ScanData&, const LidarReadOptions&) const
{
}

int CamParamsZTM5::laserOffset() const
{
    return 101;
}

std::string CamParamsZTM5::scanHash(const std::string& scanFolder) const
{
    return computeScanHash(scanFolder, 1);
}

void CamParamsZTM5::adjustLensCenter(const uint8_t*, const uint8_t*, const uint8_t*)
{
    throw std::runtime_error("Lens centre fitting is not available");
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
