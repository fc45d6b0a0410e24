#pragma once

#include "camera/cam_params.h"
#include "imaging/image_io.h"
#include "imaging/vertical_edge_score.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstring>
#include <string>

// Common base of the rotating one-lens cameras: three fisheye shots per scan, the camera turning
// 120 degrees between them. Every calibration value is held in double and in single precision;
// the lens model computes with the single-precision form.
class CamParamsOneLens : public CamParams {
public:
    // Lens terms in the order the calibration files store them.
    enum LensTerm { F, U0, V0, RY, K1, K2, K3, P1, P2, P3, LensTermCount };
    // Further calibration values in the order the calibration files store them.
    enum CalibrationValue {
        COMPASS_OFFSET, LENS_FOV, RCA, BCA, VC0, VC1, VC2, VC3, VC4, VC5, VC6, VC7, VC8, VC9,
        CalibrationValueCount
    };
    static constexpr int kSerialSize = 24;
    static constexpr int kBlendMaskCount = 13;

    CamParamsOneLens();
    ~CamParamsOneLens() override;

    int imageWidth() const override;
    int imageHeight() const override;
    std::string systemSerial() const override;
    int timestamp() const override;
    void setTimestamp(const int& value) override;
    void renderPano(const uint8_t* image1, const uint8_t* image2, const uint8_t* image3,
                    int width, int height, const ImageParams& p, uint8_t* rgbOut) const override;
    void renderStrip(const uint8_t* image1, const uint8_t* image2, const uint8_t* image3,
                     int width, int height, const ImageParams& p, uint8_t* greyOut) const override;
    void equalizeShotColors(const uint8_t* image1, const uint8_t* image2, const uint8_t* image3,
                            ImageParams& p) const override;
    void initBlendMasks(int width1, int width2) override;
    float panoYawOffset() const override;
    // Levelling by G = R(ROLL_GLOBAL, 0, PITCH_GLOBAL) on positions given as fractions of the
    // pano's width and height; panoToCamera applies the transpose and so undoes cameraToPano.
    void cameraToPano(float u, float v, const ImageParams& p, float& outU, float& outV) const override;
    void panoToCamera(float u, float v, const ImageParams& p, float& outU, float& outV) const override;

    // The masks one pano width uses (see one_lens_render.h for how they are consumed). Throws
    // std::runtime_error "no mask was initialized for this image size" for any other width.
    struct MaskSet {
        int side = 0;                        // side of the square masks, pano width / 6
        const QByteArray* sideFaces[3] = {}; // masks 0, 1, 2 (built for the larger width only)
        int sideFaceSide = 0;                // their side
        const QByteArray* caps[4] = {};      // masks 3, 4, 5, 6 or their small versions 8 to 11
        const QByteArray* seam = nullptr;    // mask 7 or 12: pano width / 8 wide, pano height high
        int seamWidth = 0;
    };
    MaskSet blendMasksFor(int panoWidth) const;
    const QByteArray& blendMask(int index) const { return blendMasks[index]; }

    // The file of shot 0, 1 or 2 in a scan folder: "h" and the shot letter ("a", "b", "c") for
    // the laser-line camera, "h" and the shot number from 1 for the others; ".jpg".
    QString shotPath(const QString& scanFolder, int shot) const;

    // A shot file read bottom-up (the file's first row last). Only the square of the camera's
    // shot height is taken, and a file that declares another size is refused from its header.
    SizedImage loadShotFile(const QString& path, QByteArray& rgb) const;
    // An exposure of a shot, rows top-down or bottom-up, turned as its orientation tag says. It
    // holds the shot as its centred square: the shot's height, at least as wide and at most twice
    // as wide (no camera's frame is wider); any other size is refused from the file's header.
    SizedImage loadExposureFile(const QString& path, QByteArray& rgb, int& width, bool bottomUp) const;

    // Fits the lens centre from the three square shots of one scan; failures are thrown.
    virtual void adjustLensCenter(const uint8_t* shot1, const uint8_t* shot2, const uint8_t* shot3) = 0;

    // The lens centre U0, V0 in both precisions; the projection uses the single-precision pair.
    struct LensCentre {
        float u = 0.0f;
        float v = 0.0f;
        double uDouble = 0.0;
        double vDouble = 0.0;
        bool operator==(const LensCentre&) const = default;
    };
    LensCentre lensCentre() const { return {lensFloat[U0], lensFloat[V0], lensDouble[U0], lensDouble[V0]}; }
    void setLensCentre(const LensCentre& centre)
    {
        lensFloat[U0] = centre.u, lensFloat[V0] = centre.v;
        lensDouble[U0] = centre.uDouble, lensDouble[V0] = centre.vDouble;
    }

    // Names of the calibration values in the text form of the calibration files, by index;
    // "Undefined" outside the table.
    static std::string intKeyName(int index);
    static std::string doubleKeyName(int index);
    static std::string floatKeyName(int index);

    uint32_t stamp() const { return fileStamp; }
    float lensTerm(LensTerm term) const { return lensFloat[term]; }
    double lensTermDouble(LensTerm term) const { return lensDouble[term]; }
    float calibrationValue(CalibrationValue value) const { return calibFloat[value]; }
    double calibrationValueDouble(CalibrationValue value) const { return calibDouble[value]; }
    int laserCount() const { return NUM_LASERS; }

protected:
    // The whole calibration file for the block readers. They are a few hundred bytes; anything
    // beyond kMaxCalibrationFileSize is not a calibration file and is not read.
    enum class FileRead { Ok, CannotOpen, Empty, TooLarge };
    static constexpr qint64 kMaxCalibrationFileSize = 1 << 20;
    static FileRead readWholeFile(const QString& path, QByteArray& bytes);
    // Replaces a calibration file whole, through a temporary and a rename; false when any byte
    // did not reach it (the old file then stays).
    static bool replaceWholeFile(const QString& path, const QByteArray& bytes);
    // True when the two bytes at trailerOffset hold the CRC of every byte but the file's last two.
    static bool trailerMatches(const QByteArray& bytes, qsizetype trailerOffset);

    template <typename T>
    static T readLittleEndian(const QByteArray& bytes, qsizetype offset)
    {
        T value;
        std::memcpy(&value, bytes.constData() + offset, sizeof value);
        return value;
    }

    // Both precisions of a value read from a block file.
    void setLensTerm(int term, float value);
    void setCalibrationValue(int value, float stored);

    std::string lensKeyNames[LensTermCount];
    char serial[kSerialSize] = {};
    uint32_t fileStamp = 0;
    int32_t TIMESTAMP = 0;
    int32_t IMGWIDTH = 0;
    int32_t IMGHEIGHT = 0;
    int32_t NUM_LASERS = 0;
    int32_t CENT_COLOR = 0;
    int32_t CENT_THRESHOLD = 0;
    int32_t CENT_MINPEAK = 0;
    int32_t CENT_MAXPEAK = 0;
    int32_t CENT_MINSIDEPIX = 0;
    int32_t CENT_MAXSIDEPIX = 0;
    int32_t COMPASS_FACTOR = 0;
    double lensDouble[LensTermCount] = {};
    float lensFloat[LensTermCount] = {};
    double calibDouble[CalibrationValueCount] = {};
    float calibFloat[CalibrationValueCount] = {};
    QByteArray blendMasks[kBlendMaskCount];
    // The widths the masks were built for; 0 before initBlendMasks.
    int maskWidth1 = 0;
    int maskWidth2 = 0;
};

// The lens model. Pixel positions address the bottom-up shot buffer of side IMGHEIGHT; the
// camera frame has +z along the optical axis and +y up, the image v axis points down.

// Forward distortion of an ideal pixel position (radial and tangential terms about U0, V0).
void distortPoint(const CamParamsOneLens& camera, float x, float y, float& outX, float& outY);
// Inverse of distortPoint by fixed-point iteration (five rounds).
void undistortPoint(const CamParamsOneLens& camera, float px, float py, float& ux, float& uy);
// Camera-frame direction to distorted shot pixel: equidistant fisheye, then distortPoint.
void projectRay(const CamParamsOneLens& camera, float x, float y, float z, float& outU, float& outV);
// Shot pixel to its angle from the optical axis and the unit direction in the image plane (x right,
// y up).
void unprojectPixel(const CamParamsOneLens& camera, float px, float py, float& theta, float& dirX, float& dirY);


// The rotations of the three shots from pano to camera frame: M1 = G, M2 = R(ROLL_2, YAW_2,
// PITCH_2) R(0, 2pi/3, 0) G, M3 = R(ROLL_3, YAW_3, PITCH_3) R(0, 4pi/3, 0) G, row-major.
void shotRotations(const ImageParams& p, float m[3][9]);
