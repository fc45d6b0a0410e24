#include "support/one_lens_model.h"

#include "camera/scan_json.h"

#include <cstring>
#include <stdexcept>

namespace testsupport {

OneLensTestModel::OneLensTestModel(int size, float focal)
{
    setSize(size);
    const float half = static_cast<float>(size / 2);
    setLensTerm(F, focal > 0.0f ? focal : static_cast<float>(size) / 3.229f);
    setLensTerm(U0, half);
    setLensTerm(V0, half);
    setLensTerm(RY, 1.0f);
    setCalibrationValue(LENS_FOV, 3.229f);
    setCalibrationValue(RCA, 1.0f);
    setCalibrationValue(BCA, 1.0f);
}

void OneLensTestModel::setSerial(const char* text)
{
    std::memset(serial, 0, sizeof serial);
    std::memcpy(serial, text, std::min(std::strlen(text), sizeof serial));
}

bool OneLensTestModel::loadSystemFile(const QString&)
{
    return false;
}

bool OneLensTestModel::saveSystemFile(const QString&)
{
    return false;
}

void OneLensTestModel::loadFisheyeImage(const QString& scanFolder, int shot, QByteArray& rgb, bool) const
{
    ++shotLoads;
    const QString path = shotPath(scanFolder, shot);
    if (loadShotFile(path, rgb) == SizedImage::WrongSize)
        throw std::runtime_error("Failed to load image" + path.toStdString() + ": improper size.");
}

void OneLensTestModel::loadScanData(const QString& scanFolder, ImageParams&, ScanData& data,
                                    const LidarReadOptions&) const
{
    QString hash;
    if (readScanJson(scanFolder, data, hash))
        data.lidarPoints = kOutline;
}

std::string OneLensTestModel::scanHash(const std::string& scanFolder) const
{
    return "hash:" + scanFolder.substr(scanFolder.find_last_of('/') + 1);
}

void OneLensTestModel::buildHdrImage(const QString&, int, bool, const QString&)
{
    ++hdrBuilds;
}

} // namespace testsupport
