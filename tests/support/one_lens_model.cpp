#include "support/one_lens_model.h"

#include "imaging/image_io.h"

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
    const QString path = QStringLiteral("%1/h%2.jpg").arg(scanFolder).arg(shot + 1);
    int width = 0, height = 0;
    if (!loadImageRgb(path, rgb, width, height, true, false, false))
        return;
    if (width != IMGHEIGHT || height != IMGHEIGHT) {
        rgb.clear();
        throw std::runtime_error("Failed to load image" + path.toStdString() + ": improper size.");
    }
}

void OneLensTestModel::loadScanData(const QString&, ImageParams&, ScanData&, const LidarReadOptions&) const
{
}

std::string OneLensTestModel::scanHash(const std::string& scanFolder) const
{
    return "hash:" + scanFolder.substr(scanFolder.find_last_of('/') + 1);
}

void OneLensTestModel::buildHdrImage(const QString&, int, bool)
{
    ++hdrBuilds;
}

} // namespace testsupport
