#pragma once

#include "imaging/image_params.h"

// Levelling of a pano position (u, v as fractions of width and height, v = 0 at the top) by the
// scan's ROLL_GLOBAL and PITCH_GLOBAL, in the quaternion form; panoToCameraPoint undoes
// cameraToPanoPoint.
void cameraToPanoPoint(float u, float v, const ImageParams& p, float& outU, float& outV);
void panoToCameraPoint(float u, float v, const ImageParams& p, float& outU, float& outV);

// The same levelling for a direction given by its polar angle theta (0 at the top, radians) and
// azimuth lambda (-pi..pi); inverse applies the inverted rotation. Results as fractions.
void levelPanoDirection(float theta, float lambda, const ImageParams& p, bool inverse, float& outU, float& outV);
