#pragma once

#include <QByteArray>

// Exposure fusion of three bracketed exposures of one square shot (8-bit RGB, three bytes per
// pixel, rows without padding, either row order as long as all agree) into `out`, as a camera
// without a radiance map would want it: no tone mapping, just each part of the picture taken
// from the exposures that show it best.
//
// Each pixel of each exposure is weighted by how well exposed it is (per channel a Gaussian of
// width `sigma` about mid grey, the three multiplied), by how colourful it is (the spread of
// its three channels) and, with `weighContrast`, by its local contrast (the absolute Laplacian
// of its grey). The weights are normalised per pixel and the exposures blended as Laplacian
// pyramids under the Gaussian pyramids of their weights, so that the weight maps' hard edges
// leave no seams. `levels` is the number of pyramid levels below full resolution: negative for
// as many as the size allows, 0 for a plain per-pixel blend.
//
// Throws std::invalid_argument when an exposure does not hold size x size pixels or sigma is
// not a positive number.
void mergeHdr(const QByteArray& exposure0, const QByteArray& exposure1, const QByteArray& exposure2, QByteArray& out,
              int size, bool weighContrast, float sigma, int levels);
