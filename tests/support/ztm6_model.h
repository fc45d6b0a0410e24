#pragma once

#include "camera/cam_params_ztm6.h"

#include <QByteArray>

#include <functional>
#include <memory>

namespace testsupport {

// A two-lens model filled directly (no file): lens images of 2 * lensHeight x lensHeight and
// undistorted records whose centres make the lens model the identity. Lens 1 looks at the image
// centre (U0 = width / 2), lens 2 at its left and right edge (U0 = 0); both at row height / 2.
std::unique_ptr<CamParamsZTM6> makeIdentityZtm6(int lensHeight, int lensRecords = 2);

// An RGB lens-sized buffer whose pixel (column, row) is fill(column, row, rgb).
QByteArray makeLensImage(int width, int height, const std::function<void(int, int, uint8_t*)>& fill);

// Peak signal-to-noise ratio in dB of two equally sized 8-bit buffers (infinity when equal).
double psnr(const uint8_t* a, const uint8_t* b, size_t count);

} // namespace testsupport
