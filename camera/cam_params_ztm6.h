#pragma once

#include "camera/cam_params.h"
#include "imaging/blend_plan.h"

#include <QStringList>

#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

static_assert(std::endian::native == std::endian::little,
              "the calibration block is held in memory exactly as stored (little-endian)");

#pragma pack(push, 1)
// The 152-byte header of the two-lens camera's "system.cfg", exactly as stored.
struct Ztm6Header {
    int32_t FILE_VERSION;
    int32_t TIME_STAMP;
    int32_t IMG_WIDTH;
    int32_t IMG_HEIGHT;
    int32_t NUM_LENS;
    char SYSTEM_SERIAL[24];
    char CAMERA_MODEL[24];
    char CAMERA_SERIAL[24];
    char CAMERA_FW[24];
    uint8_t LENS_CALIBRATED;
    uint8_t LENS_ALIGNED;
    uint8_t reserved[2];
    float POSX, POSY, POSZ, ROLL, PITCH, YAW;
    uint32_t MIN_RANGE;
    uint32_t MAX_RANGE;
};

// One 72-byte lens record of "system.cfg".
struct Ztm6LensRecord {
    float RCA, BCA;
    float U0, V0;
    float K1, K2, K3;
    float P1, P2, P3, P4;
    float RM;
    float POSX, POSY, POSZ, ROLL, PITCH, YAW;
};
#pragma pack(pop)

static_assert(sizeof(Ztm6Header) == 152, "two-lens header is 152 bytes");
static_assert(sizeof(Ztm6LensRecord) == 72, "two-lens lens record is 72 bytes");

// Seam mask of the full-quality render for one pano width: width / 8 columns by width / 2 rows,
// with the blend's plan for it.
struct BlendMask {
    int panoWidth = 0;
    int columns = 0;
    int rows = 0;
    std::vector<uint8_t> weights; // weight of the second image, 0..255, row by row
    std::optional<BlendPlan> plan; // where the blend of two fully sampled seams has work to do
};

// The two-lens camera system: two equirectangular lens images per scan plus lidar.
class CamParamsZTM6 : public CamParams {
public:
    CamParamsZTM6();
    ~CamParamsZTM6() override;

    // Calibration file
    bool loadTextFile(const QString& path) override;
    bool saveTextFile(const QString& path) override;
    bool loadSystemFile(const QString& path) override;
    bool saveSystemFile(const QString& path) override;
    void resetParameters();
    std::string serializeParameterBlock() const;
    const Ztm6Header& header() const { return m_header; }
    Ztm6Header& header() { return m_header; }
    const std::vector<Ztm6LensRecord>& lenses() const { return m_lenses; }
    std::vector<Ztm6LensRecord>& lenses() { return m_lenses; }
    // A one-lens file holds a single record: asking for the missing second one gives null.
    const Ztm6LensRecord* lensRecord(int index) const
    {
        return index >= 0 && static_cast<size_t>(index) < m_lenses.size() ? &m_lenses[static_cast<size_t>(index)]
                                                                           : nullptr;
    }

    // Identity
    bool isLensCalibrated() const override;
    std::string modelName() const override;
    std::string cameraModel() const override;
    std::string cameraSerial() const override;
    std::string cameraFirmware() const override;
    int imageWidth() const override;
    int imageHeight() const override;
    std::string systemSerial() const override;
    int timestamp() const override;
    void setTimestamp(const int& value) override;

    // Scan files
    void loadFisheyeImage(const QString& scanFolder, int shot, QByteArray& rgb, bool correct) const override;
    void loadScanData(const QString& scanFolder, ImageParams& params, ScanData& data,
                      const LidarReadOptions& options = {}) const override;

    // Lens model and rendering
    void lensProject(float x, float y, float fadeStart, float fadeEnd, float& outX, float& outY) const;
    void blendTwoLensPano(const uint8_t* image1, const uint8_t* image2, int width, int height,
                          const ImageParams& p, uint8_t* rgbOut) const;
    void panoToCamera(float u, float v, const ImageParams& p, float& outU, float& outV) const override;
    void cameraToPano(float u, float v, const ImageParams& p, float& outU, float& outV) const override;
    void renderPano(const uint8_t* image1, const uint8_t* image2, const uint8_t* image3,
                    int width, int height, const ImageParams& p, uint8_t* rgbOut) const override;
    void renderStrip(const uint8_t* image1, const uint8_t* image2, const uint8_t* image3,
                     int width, int height, const ImageParams& p, uint8_t* greyOut) const override;
    void equalizeShotColors(const uint8_t* image1, const uint8_t* image2, const uint8_t* image3,
                            ImageParams& p) const override;
    void initBlendMasks(int width1, int width2) override;
    const BlendMask* blendMaskFor(int columns, int rows) const;
    float panoYawOffset() const override;
    int laserOffset() const override;

    // Camera update over the camera's Wi-Fi, and the manual routes by USB drive it falls back to
    void updateSystemFile(const QString& systemFile, int timestamp, QWidget* parent) override;
    void updateFirmware(const QString& firmwareFile, const QString& version, QWidget* parent) override;
    void updateFirmwareViaUsb(const QString& firmwareFile, QWidget* parent);
    void updateSystemFileViaUsb(const QString& systemFile, QWidget* parent);

    std::string scanHash(const std::string& scanFolder) const override;

    // Why no pano can be rendered with this calibration, or nothing when one can: the lens images
    // must be 2:1, at least two rows high and within the pixel budget of the image reader; every
    // lens term must be finite and each lens centre within one image size of its image.
    static std::optional<std::string> unusableCalibration(const Ztm6Header& header,
                                                          const std::vector<Ztm6LensRecord>& lenses);

private:
    // Throws std::runtime_error with the reason when unusableCalibration finds one.
    void requireSampleableLenses() const;
    // Where the lens correction starts to fade and where it is gone, from the first record's RM.
    void fadeLimits(float& fadeStart, float& fadeEnd) const;

    // Key names of the text form, in the order the text form writes them.
    QStringList m_distortionKeys;
    QStringList m_poseKeys;
    QStringList m_chromaticKeys;
    QStringList m_headerKeys;
    Ztm6Header m_header{};
    std::vector<Ztm6LensRecord> m_lenses;
    BlendMask m_masks[2];

    // The calibration file's packed block and its text form.
    bool readParameterBlock(const std::wstring& path);
    bool writeParameterBlock(const std::wstring& path) const;
    bool writeParameterText(const QString& path) const;
};

// One lidar file of a two-lens scan: points (rounded millimetres, y flipped) and the sweep heading.
void readLidarPoints(const QString& path, QList<QPoint>& points, float& heading);
