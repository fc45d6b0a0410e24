#include "imaging/equirect_strip.h"

#include "imaging/rotation.h"

#include <cmath>
#include <algorithm>
#include <cstring>

namespace {
constexpr double kPi = 3.14159265358979323846;
}

namespace {
// Each output pixel looks at the source through the levelling; `channels` bytes of the nearest
// source pixel from `firstChannel` on.
void renderLevelled(const uint8_t* source, int srcWidth, int srcHeight, int width, int height, const ImageParams& p,
                    uint8_t* out, int channels, int firstChannel)
{
    std::memset(out, 0, static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(channels));
    if (!source || srcWidth <= 0 || srcHeight <= 0)
        return;
    float g[9];
    rotationFromAngles(p[ImageParams::ROLL_GLOBAL], 0.0f, p[ImageParams::PITCH_GLOBAL], g);
    const float step = 6.283185f / static_cast<float>(width);
#pragma omp parallel for schedule(static)
    for (int j = 0; j < height; ++j) {
        const float phi = static_cast<float>(height / 2 - j) * step;
        const float cosPhi = std::cos(phi), sinPhi = std::sin(phi);
        for (int i = 0; i < width; ++i) {
            const float theta = 6.283185f - static_cast<float>(i) * step;
            const float d[3] = {cosPhi * std::cos(theta), sinPhi, cosPhi * std::sin(theta)};
            const double ex = g[0] * d[0] + g[1] * d[1] + g[2] * d[2];
            const double ey = g[3] * d[0] + g[4] * d[1] + g[5] * d[2];
            const double ez = g[6] * d[0] + g[7] * d[1] + g[8] * d[2];
            double azimuth = std::atan2(ez, ex);
            if (azimuth < 0.0)
                azimuth += 2.0 * kPi;
            const double elevation = std::atan2(ey, std::hypot(ex, ez));
            const double fx = (2.0 * kPi - azimuth) / (2.0 * kPi) * srcWidth;
            const double fy = (kPi / 2.0 - elevation) / kPi * srcHeight;
            if (!(fx >= 0.0 && fy >= 0.0 && fx < 1e9 && fy < 1e9))
                continue;
            const int x = static_cast<int>(fx + 0.5) % srcWidth;
            const int y = std::min(static_cast<int>(fy), srcHeight - 1);
            const uint8_t* pixel =
                source + (static_cast<size_t>(y) * static_cast<size_t>(srcWidth) + static_cast<size_t>(x)) * 3;
            std::memcpy(out + (static_cast<size_t>(j) * static_cast<size_t>(width) + static_cast<size_t>(i)) * channels,
                        pixel + firstChannel, static_cast<size_t>(channels));
        }
    }
}
} // namespace

void renderEquirectStripGray(const uint8_t* source, const uint8_t*, int srcWidth, int srcHeight, int stripWidth,
                             int stripHeight, const ImageParams& p, uint8_t* out)
{
    if (!out || stripWidth <= 0 || stripHeight <= 0)
        return;
    renderLevelled(source, srcWidth, srcHeight, stripWidth, stripHeight, p, out, 1, 1);
}

void renderEquirectPanoRgb(const uint8_t* source, int srcWidth, int srcHeight, int width, int height,
                           const ImageParams& p, uint8_t* rgbOut)
{
    if (!rgbOut || width <= 0 || height <= 0)
        return;
    renderLevelled(source, srcWidth, srcHeight, width, height, p, rgbOut, 3, 0);
}
