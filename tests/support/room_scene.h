#pragma once

#include "support/one_lens_scene.h"

#include <QByteArray>

#include <array>

namespace testsupport {

// A furnished box room seen from its middle, by world direction (up is +y): walls with upright
// panel seams and framed pictures, a tiled floor and a ceiling grid, all edges softened over about
// a centimetre so that a render at any shot size is free of aliasing. Without texture it is the
// same room evenly painted.
struct RoomScene {
    bool textured = true;
    Rgb at(const Direction& d) const;
};

// The three shots of the room through the camera under the angles of p (rows bottom-up).
std::array<QByteArray, 3> renderRoomShots(const CamParamsOneLens& camera, const ImageParams& p, const RoomScene& room);

// The same shots as the camera's files in a scan folder (top-down JPEG, quality 100), replacing
// whatever shot files were there; the folder is made when missing.
void writeRoomShots(const CamParamsOneLens& camera, const ImageParams& p, const RoomScene& room, const QString& folder);

// The room as a level pano of width W (W x W/2 RGB, rows top-down), pixel (I, J) being what
// shrinkByBlocks makes of the factor x factor block of a pano factor times as wide: the mean of
// samples x samples looks spread over that block (column i of a pano of width V looks at azimuth
// 2pi - i 2pi / V, file row j at elevation (V / 4 - 1 - j) 2pi / V above the horizon, as a camera
// scan's pano file has it).
QByteArray renderRoomEquirect(const RoomScene& room, int width, int factor, int samples);

// Mean of each factor x factor block of a W x W/2 RGB picture (rows top-down).
QByteArray shrinkByBlocks(const uint8_t* rgb, int width, int factor);

// Peak signal-to-noise ratio of two RGB pictures of the same size, in decibels, over the rows
// within maxElevationDeg of the horizon (a W x W/2 pano, rows top-down).
double psnrDb(const QByteArray& a, const QByteArray& b, int width, double maxElevationDeg);

} // namespace testsupport
