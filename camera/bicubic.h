#pragma once

#include <cstdint>

// Keys' cubic convolution kernel (a = -0.5) tabulated at 256 steps: entry i holds the four tap
// weights (w(2 - u), w(1 - u), w(u), w(1 + u)) for u = i / 255.
struct BicubicTable {
    float weights[256][4];
};
const BicubicTable& bicubicTable();

// One bicubic RGB sample. block points at the top-left pixel of the 4 x 4 neighbourhood (three
// bytes per pixel), stride is the byte distance between its rows, dx and dy are the distances from
// the sample point to the next pixel column and row (1 minus the fractional parts), both in 0..1.
inline void sampleBicubic(float dx, float dy, const uint8_t* block, int stride, uint8_t* rgbOut)
{
    const BicubicTable& table = bicubicTable();
    const float* wx = table.weights[static_cast<int>(dx * 255.0f + 0.5f)];
    const float* wy = table.weights[static_cast<int>(dy * 255.0f + 0.5f)];
    float sum[3] = {0.0f, 0.0f, 0.0f};
    for (int row = 0; row < 4; ++row) {
        const uint8_t* p = block + row * stride;
        for (int ch = 0; ch < 3; ++ch) {
            const float across = wx[0] * p[ch] + wx[1] * p[3 + ch] + wx[2] * p[6 + ch] + wx[3] * p[9 + ch];
            sum[ch] += wy[row] * across;
        }
    }
    for (int ch = 0; ch < 3; ++ch) {
        float v = sum[ch] + 0.5f;
        v = v < 0.0f ? 0.0f : (v > 255.0f ? 255.0f : v);
        rgbOut[ch] = static_cast<uint8_t>(v);
    }
}
