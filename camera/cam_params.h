#pragma once

#include "camera/scan_data.h"
#include "imaging/image_params.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <string>

class QWidget;

// The camera that shot a project: its calibration file, identity, scan files, the mapping
// between its images and the equirectangular pano, rendering and colour balance, and updates.
// The project owns exactly one and finds a concrete model by dynamic_cast where it needs one.
class CamParams {
public:
    virtual ~CamParams() = default;

    virtual bool loadTextFile(const QString& path);
    virtual bool saveTextFile(const QString& path);
    // True only for a complete, valid file of this model; false leaves the model at its defaults.
    virtual bool loadSystemFile(const QString& path) = 0;
    virtual bool saveSystemFile(const QString& path) = 0;
    virtual bool isLensCalibrated() const;
    virtual std::string modelName() const = 0;
    virtual std::string cameraModel() const;
    virtual std::string cameraSerial() const;
    virtual std::string cameraFirmware() const;
    virtual int imageWidth() const = 0;
    virtual int imageHeight() const = 0;
    virtual std::string systemSerial() const = 0;
    virtual int timestamp() const = 0;
    virtual void setTimestamp(const int& value) = 0;
    // Loads one shot bottom-up as 8-bit RGB; an unreadable file leaves rgb empty.
    virtual void loadFisheyeImage(const QString& scanFolder, int shot, QByteArray& rgb, bool correct) const = 0;
    virtual void loadScanData(const QString& scanFolder, ImageParams& params, ScanData& data,
                              const LidarReadOptions& options = {}) const = 0;
    // A shot the scan folder still holds as its bracketed exposures is fused into its shot file in
    // shotFolder: the scan folder, or a folder of the program's own when the scan folder cannot be
    // written. A shot file in either folder is not built again.
    void buildHdrImages(const QString& scanFolder, bool flag, const QString& shotFolder);
    virtual void buildHdrImage(const QString& scanFolder, int shot, bool flag, const QString& shotFolder);
    virtual void panoToCamera(float u, float v, const ImageParams& p, float& outU, float& outV) const;
    virtual void cameraToPano(float u, float v, const ImageParams& p, float& outU, float& outV) const;
    virtual void renderPano(const uint8_t* image1, const uint8_t* image2, const uint8_t* image3,
                            int width, int height, const ImageParams& p, uint8_t* rgbOut) const = 0;
    virtual void renderStrip(const uint8_t* image1, const uint8_t* image2, const uint8_t* image3,
                             int width, int height, const ImageParams& p, uint8_t* greyOut) const = 0;
    virtual void equalizeShotColors(const uint8_t* image1, const uint8_t* image2, const uint8_t* image3,
                                    ImageParams& p) const = 0;
    virtual void initBlendMasks(int width1, int width2) = 0;
    virtual float panoYawOffset() const = 0;
    virtual int laserOffset() const = 0;
    virtual void updateSystemFile(const QString& systemFile, int timestamp, QWidget* parent) = 0;
    virtual void updateFirmware(const QString& firmwareFile, const QString& version, QWidget* parent) = 0;
    virtual std::string scanHash(const std::string& scanFolder) const;
};

// Model word of a system serial: "R1", "ZTM6" (MX...), "ZTM5" (MS...) or empty.
std::string modelFromSerial(const std::string& serial);
