#pragma once

#include "camera/cam_params_one_lens.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <functional>
#include <vector>

namespace testsupport {

// A direction in the world, up being +y: (cos e cos theta, sin e, cos e sin theta) for an elevation
// e above the horizon and the pano's azimuth theta (column i of a pano of width W looks at
// theta = 2pi - i 2pi / W). The lens frame's y axis points down, as a camera's picture shows it:
// the shots are rendered through that.
using Direction = std::array<double, 3>;
using Rgb = std::array<uint8_t, 3>;

// A scene on the sphere: a smooth colour ramp over the directions, with discs of solid colour;
// textured, the ramp is shaded cell by cell (4 degrees, random shades), whose corners the shot
// alignment can go by (a ramp alone gives it none).
struct SceneMarker {
    double azimuthDeg;
    double elevationDeg;
    double radiusDeg;
    Rgb colour;
};
struct OneLensScene {
    std::vector<SceneMarker> markers;
    bool textured = false;
    Rgb at(const Direction& d) const;
};

Direction directionOf(double azimuthDeg, double elevationDeg);

// Shot k (0, 1, 2) of the scene as the model's lens sees it under the angles of p, bottom-up
// rows (the sky in the buffer's last rows, the file's first). The shot rotations are built here
// from the angle convention, independently of the model.
QByteArray renderSceneShot(const CamParamsOneLens& camera, const ImageParams& p, int shot, const OneLensScene& scene);
// The same for any scene given by its colour in each direction (called from several threads).
QByteArray renderSceneShot(const CamParamsOneLens& camera, const ImageParams& p, int shot,
                           const std::function<Rgb(const Direction&)>& colourAt);

// The shot files the test model reads ("h1.jpg" ... "h3.jpg", top-down, JPEG quality 100).
void writeSceneShots(const CamParamsOneLens& camera, const ImageParams& p, const OneLensScene& scene,
                     const QString& folder);

// Unit-vector centroid (weighted by pixel area) of the pixels of a W x W/2 pano within `tolerance`
// of the colour; {0,0,0} when there are none. The pano is a file's picture (rows top-down, the sky
// first) when fileRows, else a render's buffer (rows bottom-up).
Direction markerCentroid(const uint8_t* pano, int width, bool fileRows, const Rgb& colour, int tolerance);

double angleBetweenDeg(const Direction& a, const Direction& b);

} // namespace testsupport
