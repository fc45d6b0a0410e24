#pragma once

#include "camera/cam_params_one_lens.h"

#include <QList>
#include <QPoint>

#include <array>
#include <vector>

// The older one-lens camera with laser line projectors instead of a lidar; its "system.cfg" is
// a block with one plane record per laser. A scan holds three shots named by letter ("ha.jpg",
// "hb.jpg", "hc.jpg", or their bracketed exposures "pa0.jpg" ... "pc2.jpg"), the laser lines the
// camera found in each shot as pixel centroids ("aCts.dat" ... "cCts.dat"), the compass angles
// and position in "pos.txt" and, from the field application, "room.dat".
class CamParamsZTM4 : public CamParamsOneLens {
public:
    static constexpr uint32_t kStamp = 2128509;
    // Text files of the first cameras: no serial line, always three lasers.
    static constexpr uint32_t kOlderStamp = 2128508;
    enum LaserValue { PN, NX, NY, NZ, A0, A1, A2, A3, A4, A5, UMIN, UMAX, LaserValueCount };
    static constexpr int kLaserValueCount = LaserValueCount;
    static constexpr int kMaxCentroids = 10000;
    using LaserPlane = std::array<float, kLaserValueCount>;
    using LaserPlaneDouble = std::array<double, kLaserValueCount>;

    CamParamsZTM4();
    ~CamParamsZTM4() override;

    void setDefaults();
    bool loadTextFile(const QString& path) override;
    bool saveTextFile(const QString& path) override;
    bool loadSystemFile(const QString& path) override;
    bool saveSystemFile(const QString& path) override;
    std::string modelName() const override;
    // Shot 0, 1 or 2 ("ha.jpg" ...), bottom-up. A missing file leaves rgb empty; a shot that is
    // not IMGHEIGHT square throws.
    void loadFisheyeImage(const QString& scanFolder, int shot, QByteArray& rgb, bool correct) const override;
    // The laser outline of the three shots in turn, the compass heading, position and heading
    // from "pos.txt", then position and heading from "room.dat" when it has them. Throws
    // std::runtime_error for a "room.dat" too old or corrupted to use.
    void loadScanData(const QString& scanFolder, ImageParams& params, ScanData& data,
                      const LidarReadOptions& options = {}) const override;
    // Fuses the exposures of one shot into its shot file in shotFolder unless it exists there or in
    // the scan folder. Once the shot is on disk the exposures are removed, unless the shot went to
    // a folder other than the scan folder (whose exposures are then all there is of it). Throws
    // std::runtime_error with a text for the user.
    void buildHdrImage(const QString& scanFolder, int shot, bool weighContrast, const QString& shotFolder) override;
    int laserOffset() const override;
    void updateSystemFile(const QString& systemFile, int timestamp, QWidget* parent) override;
    void updateFirmware(const QString& firmwareFile, const QString& version, QWidget* parent) override;
    void adjustLensCenter(const uint8_t* shot1, const uint8_t* shot2, const uint8_t* shot3) override;

    // The point where the ray of a pixel (theta from the optical axis, unit image-plane direction
    // (cx, sy) as unprojectPixel gives them) meets the plane of that laser, in the camera frame
    // (x right, y up, z forward), millimetres. A ray parallel to the plane gives -3.697314e28 in
    // all three.
    void laserRay(float theta, float cx, float sy, int laser, float& outX, float& outY, float& outZ) const;
    // The floor points of one shot's centroid file, turned by that shot's yaw, appended to points
    // (integer millimetres, y down). A file that cannot be opened changes nothing.
    void readCentroidFile(const QString& scanFolder, int shot, const float yaws[3], QList<QPoint>& points) const;
    // Compass angles of a scan (radians; 2 taken half a turn apart or 3 a third of a turn
    // apart) and the heading they give.
    static bool headingAnglesValid(const std::vector<float>& angles);
    static float solveHeading(const std::vector<float>& angles);

    const std::vector<LaserPlane>& lasers() const { return m_lasers; }
    const std::vector<LaserPlaneDouble>& lasersDouble() const { return m_lasersDouble; }
    int centroidSetting(int index) const;

private:
    QByteArray serializeBlock() const;
    void resizeLasers(int count);
    void setLaserValue(int laser, int value, double stored);

    std::vector<LaserPlane> m_lasers;
    std::vector<LaserPlaneDouble> m_lasersDouble;
};
