#pragma once

#include "camera/cam_params_one_lens.h"

// The one-lens camera with a horizontal lidar; its "system.cfg" is a 134-byte block.
class CamParamsZTM5 : public CamParamsOneLens {
public:
    static constexpr uint32_t kStamp = 2128511;
    static constexpr uint32_t kOlderStamp = 2128510;
    static constexpr qsizetype kBlockSize = 134;

    CamParamsZTM5();
    ~CamParamsZTM5() override;

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
    // The manual routes, by USB drive, that the updates above fall back to.
    void updateFirmwareViaUsb(const QString& firmwareFile, QWidget* parent);
    void updateSystemFileViaUsb(const QString& systemFile, QWidget* parent);
    std::string scanHash(const std::string& scanFolder) const override;
    void adjustLensCenter(const uint8_t* shot1, const uint8_t* shot2, const uint8_t* shot3) override;

    // The lidar's calibration rotation, single precision (what the block file stores).
    void calibRotation(float& vc0, float& vc1, float& vc2) const;
    void setCalibRotation(float vc0, float vc1, float vc2);
};
