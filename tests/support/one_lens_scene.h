#pragma once

#include "camera/cam_params_one_lens.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <functional>
#include <vector>

namespace testsupport {

using Direction = std::array<double, 3>; // (cos e cos theta, sin e, cos e sin theta)
using Rgb = std::array<uint8_t, 3>;

// A scene on the sphere: a smooth colour ramp over the directions, with discs of solid colour.
struct SceneMarker {
    double azimuthDeg;
    double elevationDeg;
    double radiusDeg;
    Rgb colour;
};
struct OneLensScene {
    std::vector<SceneMarker> markers;
    Rgb at(const Direction& d) const;
};

Direction directionOf(double azimuthDeg, double elevationDeg);

// Shot k (0, 1, 2) of the scene as the model's lens sees it under the angles of p, bottom-up
// rows. The shot rotations are built here from the angle convention, independently of the model.
QByteArray renderSceneShot(const CamParamsOneLens& camera, const ImageParams& p, int shot, const OneLensScene& scene);
// The same for any scene given by its colour in each direction (called from several threads).
QByteArray renderSceneShot(const CamParamsOneLens& camera, const ImageParams& p, int shot,
                           const std::function<Rgb(const Direction&)>& colourAt);

// The shot files the test model reads ("h1.jpg" ... "h3.jpg", top-down, JPEG quality 100).
void writeSceneShots(const CamParamsOneLens& camera, const ImageParams& p, const OneLensScene& scene,
                     const QString& folder);

// Unit-vector centroid (weighted by pixel area) of the pixels of a W x W/2 pano (rows top-down
// when topDown, else bottom-up) within `tolerance` of the colour; {0,0,0} when there are none.
Direction markerCentroid(const uint8_t* pano, int width, bool topDown, const Rgb& colour, int tolerance);

double angleBetweenDeg(const Direction& a, const Direction& b);

} // namespace testsupport
