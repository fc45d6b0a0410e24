#pragma once

#include "camera/cam_params_ztm6.h"

#include <QByteArray>
#include <QImage>
#include <QJsonObject>
#include <QPointF>
#include <QString>

#include <memory>
#include <utility>
#include <vector>

namespace testsupport {

// A lidar file of the two-lens camera: the sweep heading, then (x, y) records with y stored negated.
QByteArray lidarFile(float heading, const std::vector<std::pair<float, float>>& points);

// A rectangular room seen from the scanner: x right, y down, walls at these coordinates (mm).
struct Room {
    double left = -2000, right = 4000, top = -1600, bottom = 2400;

    // Wall point in the direction of angle a (radians, counter-clockwise with y down).
    std::pair<float, float> hit(double a) const;
    // Distance of a point to the nearest wall; huge outside the room.
    double distanceToWalls(double x, double y) const;
};

// A sweep of one lens from fromDeg to toDeg in quarter degrees; outside ownFrom..ownTo the lens
// reads 10 mm too far, so a point taken from the wrong lens lies off the walls.
std::vector<std::pair<float, float>> sweep(const Room& room, double fromDeg, double toDeg, double ownFrom,
                                           double ownTo);

// The planted scene of the lens images, in top-down picture fractions (u across, v down): sky
// above the horizon, ground below, a red marker near the top left (seen by lens 2) and a green
// one near the top just right of the middle (seen by lens 1).
inline constexpr double kMarkerTop = 0.03, kMarkerBottom = 0.12;
inline constexpr double kRedMarkerLeft = 0.01, kRedMarkerRight = 0.06;
inline constexpr double kGreenMarkerLeft = 0.55, kGreenMarkerRight = 0.60;
QRgb plantedSceneColour(double u, double v);
// GoogleTest expectations that a top-down picture shows the planted scene the right way up and
// round: sky at the top, ground at the bottom, each marker where it was planted.
void expectPlantedScene(const QImage& image);

// One two-lens scan as the camera leaves it.
struct TwoLensScanSetup {
    int lensHeight = 300;           // lens images are 2 lensHeight x lensHeight
    Room room;                      // seen from the scanner
    QPointF position{2500, 1200};   // "pos" as the camera writes it (y up)
    double rot = 0.25;              // "rot", radians
    int shutterCounter = 4321;
    qint64 captureTimestamp = 1700000000123;
    QString cameraSerial = QStringLiteral("MX0123456789");
    QString systemcfg = QStringLiteral("system.cfg");
    // Lens 2 saw the scene through the inverse of these gain curves (red, green, blue).
    double lens2Gains[3] = {0.42, 0.5, 0.6};
    bool withSecondLensImage = true;
};

// Writes "h1.jpg", "h2.jpg" (top-down JPEG files of the planted scene), "pts1.dat", "pts2.dat"
// (lens 1 owning the left half of the room, lens 2 the right) and "scan.json" into the folder,
// which is created. Returns the "scan.json" record written.
QJsonObject writeTwoLensScanFolder(const QString& folder, const TwoLensScanSetup& setup = {});

// The undistorted calibration the folder's lens images fit: a scan rendered with it shows the
// planted scene unchanged. Its blend masks are made for the preview and the full pano widths.
std::unique_ptr<CamParamsZTM6> makeTwoLensCamera(const TwoLensScanSetup& setup = {});

// The byte whose gain-curve value (double precision, independent of the product's float code)
// is nearest to target.
uint8_t inverseGain(double g, double target);
double gainCurveValue(double g, double u);

} // namespace testsupport
