#include "imaging/gain_curve.h"

#include <algorithm>

void gainCurve(float g, float curve[256])
{
    const float k1 = g / (g - 1.0f);
    const float k2 = (g - 0.5f) / (-2.0f * (g * g) * (g - 1.0f));
    const float q = 2.0f * g * (g - 1.0f);
    const float c1 = (0.5f * g + g * g - 1.0f) / q;
    const float c2 = (g * g - 2.5f * g + 0.5f) / q;
    for (int n = 0; n < 256; ++n) {
        const float u = static_cast<float>(n) / 255.0f;
        if (u <= g) {
            curve[n] = std::max(k2 * (u * u * u) + c1 * u, 0.0f);
        } else {
            const float w = u - 1.0f;
            curve[n] = std::min(k1 * k2 * (w * w * w) + c2 * w + 1.0f, 1.0f);
        }
    }
}

void applyGainCurves(uint8_t* rgb, size_t pixelCount, float redGain, float greenGain, float blueGain)
{
    const float gains[3] = {redGain, greenGain, blueGain};
    uint8_t table[3][256];
    for (int ch = 0; ch < 3; ++ch) {
        float curve[256];
        gainCurve(gains[ch], curve);
        for (int n = 0; n < 256; ++n) {
            // A gain outside (0, 1) has no curve: its values are not numbers or leave 0..1.
            const float v = curve[n] * 255.0f + 0.5f;
            table[ch][n] = v >= 0.0f && v < 256.0f ? static_cast<uint8_t>(v) : static_cast<uint8_t>(n);
        }
    }
    const auto count = static_cast<std::ptrdiff_t>(pixelCount);
#pragma omp parallel for schedule(static)
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        uint8_t* p = rgb + i * 3;
        p[0] = table[0][p[0]];
        p[1] = table[1][p[1]];
        p[2] = table[2][p[2]];
    }
}
