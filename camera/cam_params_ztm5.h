#pragma once

#include "camera/cam_params_one_lens.h"

#include <QList>
#include <QPoint>

#include <array>
#include <limits>
#include <vector>

// One lidar file's returns prepared for correction: each kept record's rounded point, its range
// about the lidar's turning centre and its angle there under the model's calibration rotation.
// What every trial of a calibration search shares, so the file is read only once.
struct LidarSweep {
    struct Return {
        QPoint raw;
        double range = 0.0;
        float angle = 0.0f;
    };
    bool opened = false;
    float heading = std::numeric_limits<float>::quiet_NaN();
    std::vector<Return> returns;
};

// A scan's three lidar sweeps and the turns of sweeps 2 and 3 (its YAW_3 and YAW_2).
struct LidarScanSweeps {
    std::array<LidarSweep, 3> sweeps;
    float yaw3 = 0.0f;
    float yaw2 = 0.0f;
};

// The one-lens camera with a horizontal lidar; its "system.cfg" is a 134-byte block. A scan
// holds three fisheye shots ("h1.jpg" .. "h3.jpg", the first possibly still as the bracketed
// exposures "p0.jpg" .. "p2.jpg"), one lidar file per shot ("pts1.dat" .. "pts3.dat") and
// "scan.json" (or the older "xfrm.dat").
class CamParamsZTM5 : public CamParamsOneLens {
public:
    static constexpr uint32_t kStamp = 2128511;
    static constexpr uint32_t kOlderStamp = 2128510;
    static constexpr qsizetype kBlockSize = 134;
    static constexpr int kMaxLidarRecords = 10000;

    CamParamsZTM5();
    ~CamParamsZTM5() override;

    void setDefaults();
    bool loadTextFile(const QString& path) override;
    bool saveTextFile(const QString& path) override;
    bool loadSystemFile(const QString& path) override;
    bool saveSystemFile(const QString& path) override;
    std::string modelName() const override;
    // Shot 0, 1 or 2 of a scan, square and bottom-up; with `correct` also freed of the lens's
    // chromatic aberration. A missing or unreadable file leaves rgb empty; a shot of another
    // size throws.
    void loadFisheyeImage(const QString& scanFolder, int shot, QByteArray& rgb, bool correct) const override;
    // The lidar outline (the three sweeps in turn, each sweep's end marked by repeating its last
    // point), the lidar heading, position, heading, shutter counter and shown flag. With a
    // heading-search mode other than 0 the sweeps' turns are estimated and written back as
    // YAW_3 and YAW_2.
    void loadScanData(const QString& scanFolder, ImageParams& params, ScanData& data,
                      const LidarReadOptions& options = {}) const override;
    // Fuses "p0.jpg" .. "p2.jpg" into "h1.jpg" in shotFolder unless it exists there or in the scan
    // folder; only shot 1 has exposures, and they stay. `weighContrast` is handed to mergeHdr.
    // Throws std::runtime_error with a text for the user.
    void buildHdrImage(const QString& scanFolder, int shot, bool weighContrast, const QString& shotFolder) override;
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

    // The points of lidar file shot + 1 in the lidar's frame (millimetres, y down), corrected by
    // the calibration rotation and the trial values phase, amplitude and offset, with jumps
    // filtered out. An amplitude below -0.00001 means no trial: the points under the calibration
    // rotation alone (the offset then is VC2's, which the rotation takes off), which are the
    // records as they stand while VC1 is 0. shotHeading takes the file's heading (NaN for a file
    // too short to hold one) and keeps its value when the file cannot be opened.
    void readLidarShot(const QString& scanFolder, int shot, QList<QPoint>& points, float& shotHeading, float phase,
                       float amplitude, float offset) const;
    // The scan's lidar points turned into the first shot's frame under a trial calibration, for
    // the calibration search: no levelling, no markers. Returns `out`.
    QList<QPoint>& rotatePointCloud(QList<QPoint>& out, const QString& scanFolder, const ImageParams& params,
                                    float phase, float amplitude) const;
    // The same from sweeps read before (under this model's calibration rotation at that time).
    QList<QPoint>& rotatePointCloud(QList<QPoint>& out, const LidarScanSweeps& scan, float phase,
                                    float amplitude) const;

    // Lidar file shot + 1 read and prepared under the model's calibration rotation; a file that
    // cannot be opened gives an empty sweep with `opened` false.
    void readLidarSweep(const QString& scanFolder, int shot, LidarSweep& sweep) const;
    // The three lidar files of a scan, read at once; the turns are taken from params.
    LidarScanSweeps readLidarScan(const QString& scanFolder, const ImageParams& params) const;
    // A prepared sweep's points under the trial values, as readLidarShot gives them.
    void sweepPoints(const LidarSweep& sweep, QList<QPoint>& points, float phase, float amplitude,
                     float offset) const;

private:
    QByteArray serializeBlock() const;
    void clearCalibrationRotation();
};
