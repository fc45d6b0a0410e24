#pragma once

#include "imaging/image_params.h"

#include <cstdint>

// The horizon strip of an equirectangular source (RGB, rows top-down, column x at azimuth
// 2pi - x * 2pi / srcWidth) tilted by ROLL_GLOBAL and PITCH_GLOBAL: the strip's geometry is the
// one-lens quick strip's (row j at elevation (stripHeight / 2 - j) * 2pi / stripWidth), each
// direction turned by R(ROLL_GLOBAL, 0, PITCH_GLOBAL) and looked up at the nearest source pixel;
// one byte per pixel, the green channel. `second` is not read. `out` is cleared first.
void renderEquirectStripGray(const uint8_t* source, const uint8_t* second, int srcWidth, int srcHeight,
                             int stripWidth, int stripHeight, const ImageParams& p, uint8_t* out);

// The same levelled look-up into every colour byte of a width x height RGB pano (rows top-down):
// what an equirectangular source looks like under its levelling.
void renderEquirectPanoRgb(const uint8_t* source, int srcWidth, int srcHeight, int width, int height,
                           const ImageParams& p, uint8_t* rgbOut);
