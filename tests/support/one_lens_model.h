#pragma once

#include "camera/cam_params_one_lens.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace testsupport {

// A one-lens model filled directly (no calibration file). Its shots are the files a
// scene generator writes: "h1.jpg", "h2.jpg", "h3.jpg" in the scan folder; its scan data come
// from "scan.json" only. Every lens term can be set.
class OneLensTestModel : public CamParamsOneLens {
public:
    // An undistorted lens of side `size` looking at the image centre, `focal` pixels per radian.
    explicit OneLensTestModel(int size = 256, float focal = 0.0f);

    void setLens(LensTerm term, float value) { setLensTerm(term, value); }
    void setSize(int size) { IMGWIDTH = IMGHEIGHT = size; }
    void setSerial(const char* text);

    bool loadSystemFile(const QString& path) override;
    bool saveSystemFile(const QString& path) override;
    std::string modelName() const override { return "ZTM5"; }
    // Reads the shot bottom-up; a shot of another size empties the buffer and throws.
    void loadFisheyeImage(const QString& scanFolder, int shot, QByteArray& rgb, bool correct) const override;
    void loadScanData(const QString& scanFolder, ImageParams& params, ScanData& data,
                      const LidarReadOptions& options = {}) const override;
    int laserOffset() const override { return 0; }
    void updateSystemFile(const QString&, int, QWidget*) override {}
    void updateFirmware(const QString&, const QString&, QWidget*) override {}
    std::string scanHash(const std::string& scanFolder) const override;
    void adjustLensCenter(const uint8_t*, const uint8_t*, const uint8_t*) override {}

    // The outline every scan with a "scan.json" reads as.
    inline static const QList<QPoint> kOutline{{1000, 0}, {0, 1000}, {-1000, 0}, {0, -1500}};

    // How many shot loads and HDR builds were asked for (the scan road's order of calls).
    mutable int shotLoads = 0;
    int hdrBuilds = 0;
    void buildHdrImage(const QString& scanFolder, int shot, bool flag, const QString& shotFolder) override;
};

} // namespace testsupport
