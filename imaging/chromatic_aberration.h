#pragma once

#include <cstdint>

// Lateral chromatic aberration of a lens: red and blue are drawn at a slightly different scale
// than green. A factor above 1 means the lens draws that channel larger than green; the channel
// is resampled (bilinear, edges clamped) about the image centre so that it lines up with green
// again. A channel whose shift at the edge of the image (half the longer side times the
// factor's distance from 1) is at most 0.05 pixel is left alone, as is one with a factor that
// is not a positive finite number. Green is never touched. rgb: width x height, three bytes per
// pixel, rows without padding, in either row order.
void scaleRedAndBlueAboutCentre(uint8_t* rgb, int width, int height, float redScale, float blueScale);
