#pragma once

#include "camera/cam_params_one_lens.h"

#include <cstdint>

// The blended renders of a one-lens scan and the overlap bands of the shot alignment.
//
// Directions are those of the lens model, whose y axis points down (a camera's picture shows +y
// below its centre). Column i of a pano of width W has azimuth theta = 2pi - i * 2pi / W, buffer
// row j elevation (W / 4 - j) * 2pi / W towards +y; the direction is (cos theta, tan e, sin theta).
// Row 0 so lies at the bottom of the picture: pano buffers are bottom-up like the shots, as those
// of every camera, and are flipped once when written. Shot 1 covers theta 30..150 degrees, shot 2
// 150..270, shot 3 the rest. Shots are sampled bicubically; a direction that no shot covers is
// black, and a shot that does not cover a direction gives its weight in a blend to those that do.
//
// How the blend masks are used (all weights are mask / 255, 255 taking the second source):
// - Pano rows within 45 degrees of the horizon: one shot per sector, except in the three seam bands
//   of W / 8 columns centred on the seam columns (theta 30, 150 and 270 degrees), where the seam mask
//   of that width (7 or 12; its row is the pano row) blends the shot before the seam (lower column)
//   with the shot after it.
// - Rows nearer the poles come from a polar cap: the direction is projected onto the cube face
//   looking up (a = x / y, b = -z / y) or down (a = x / -y, b = z / -y), both a and b in -1..1
//   across the face, and the cap masks of that width (3, 4 for the top and 5, 6 for the bottom, or
//   their small versions 8 to 11) sampled at the nearest pixel: result = blend(blend(shot 1,
//   shot 2, mask 3 or 5), shot 3, mask 4 or 6). The three 120-degree sectors of the cap meet on the
//   seam azimuths.
// - Cube faces of side W / 6: faces 0 to 3 look at theta 0, 90, 180 and 270 degrees (columns run
//   towards smaller theta, rows bottom-up), face 4 along +y (the floor) and face 5 along -y (the
//   ceiling) with the cap geometry above.
//   Face 0 = blend(shot 1, shot 3, mask 0), face 1 = shot 1, face 2 = blend(shot 1, shot 2, mask 1),
//   face 3 = blend(shot 2, shot 3, mask 2); masks 0 to 2 are read at the face's position scaled to
//   their side, so faces of the small width use them too.
// Shots 2 and 3 pass through the lens gain curves of `p` first; all renders apply the levelling.

// W x W / 2 RGB pano, rows bottom-up. Throws std::runtime_error for a width without masks.
void renderThreeShotPano(const CamParamsOneLens& camera, const uint8_t* shot1, const uint8_t* shot2,
                         const uint8_t* shot3, int width, const ImageParams& p, uint8_t* rgbOut);

// One cube face (0 to 5, above) of side panoWidth / 6, RGB, rows bottom-up. Throws
// std::runtime_error for a width without masks or a face outside 0..5.
void renderCubeFace(const CamParamsOneLens& camera, const uint8_t* shot1, const uint8_t* shot2,
                    const uint8_t* shot3, int panoWidth, int face, const ImageParams& p, uint8_t* rgbOut);

// The seam bands of the shot alignment: band k of an output holds L rows of W pixels (RGB), pixel
// (i, j) showing the direction (cosE[i] cosA_k[j], sinE[i], cosE[i] sinA_k[j]). A gets bands 0 and 1
// from shot 1 (only when it is given) and band 2 from shot 2; B gets bands 0, 1, 2 from shots 2, 3,
// 3. Shot 1 is the reference frame; shots 2 and 3 turn by their own angles and their base turns. No
// levelling and no gains. seenA and seenB, when given, get one byte per band pixel rendered: 1 where
// its shot sees the direction, 0 where the pixel is black because it does not.
void renderShotOverlapBands(const CamParamsOneLens& camera, const uint8_t* shot1, const uint8_t* shot2,
                            const uint8_t* shot3, int W, int L, const float angles[8], const float* const cosA[3],
                            const float* const sinA[3], const float* cosE, const float* sinE, uint8_t* bandsA,
                            uint8_t* bandsB, uint8_t* seenA = nullptr, uint8_t* seenB = nullptr);
// The same operation under the name the photometric residuals call it by (with shot 1 null).
void renderShotOverlapBandsForCost(const CamParamsOneLens& camera, const uint8_t* shot1, const uint8_t* shot2,
                                   const uint8_t* shot3,
                                   int W, int L, const float angles[8], const float* const cosA[3],
                                   const float* const sinA[3], const float* cosE, const float* sinE,
                                   uint8_t* bandsA, uint8_t* bandsB);
