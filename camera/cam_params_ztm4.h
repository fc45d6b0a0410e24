#pragma once

#include "camera/cam_params_one_lens.h"

#include <array>
#include <vector>

// The older one-lens camera with laser line projectors instead of a lidar; its "system.cfg" is
// a block with one plane record per laser.
class CamParamsZTM4 : public CamParamsOneLens {
public:
    static constexpr uint32_t kStamp = 2128509;
    // PN, NX, NY, NZ, A0 ... A5, UMIN, UMAX
    static constexpr int kLaserValueCount = 12;
    using LaserPlane = std::array<float, kLaserValueCount>;
    using LaserPlaneDouble = std::array<double, kLaserValueCount>;

    CamParamsZTM4();
    ~CamParamsZTM4() override;

    void setDefaults();
    bool loadSystemFile(const QString& path) override;
    bool saveSystemFile(const QString& path) override;
    std::string modelName() const override;
    void loadFisheyeImage(const QString& scanFolder, int shot, QByteArray& rgb, bool correct) const override;
    void loadScanData(const QString& scanFolder, ImageParams& params, ScanData& data,
                      const LidarReadOptions& options = {}) const override;
    int laserOffset() const override;
    void updateSystemFile(const QString& systemFile, int timestamp, QWidget* parent) override;
    void updateFirmware(const QString& firmwareFile, const QString& version, QWidget* parent) override;
    void adjustLensCenter(const uint8_t* shot1, const uint8_t* shot2, const uint8_t* shot3) override;

    const std::vector<LaserPlane>& lasers() const { return m_lasers; }
    const std::vector<LaserPlaneDouble>& lasersDouble() const { return m_lasersDouble; }
    int centroidSetting(int index) const;

private:
    std::vector<LaserPlane> m_lasers;
    std::vector<LaserPlaneDouble> m_lasersDouble;
};
