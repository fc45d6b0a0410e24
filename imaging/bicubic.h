#pragma once

#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// Keys' cubic convolution kernel (a = -0.5) tabulated at 256 steps: entry i holds the four tap
// weights (w(2 - u), w(1 - u), w(u), w(1 + u)) for u = i / 255.
struct BicubicTable {
    float weights[256][4];
};
const BicubicTable& bicubicTable();

// The table row of the weights for a distance d (0..1) to the next pixel column or row.
inline const float* bicubicWeights(const BicubicTable& table, float d)
{
    return table.weights[static_cast<int>(d * 255.0f + 0.5f)];
}

// One bicubic RGB sample. block points at the top-left pixel of the 4 x 4 neighbourhood (three
// bytes per pixel), stride is the byte distance between its rows, wx and wy are the table rows
// (bicubicWeights) of the distances from the sample point to the next pixel column and row.
// Each channel is sum over rows of wy * (sum over columns of wx * pixel), added in that order.
inline void sampleBicubicWeighted(const float* wx, const float* wy, const uint8_t* block, int stride, uint8_t* rgbOut)
{
#ifdef __SSE2__
    // The three channels side by side in one register; the same operations in the same order
    // as the scalar form, so the result is identical.
    const __m128i zero = _mm_setzero_si128();
    auto pixel = [&](const uint8_t* p, int shift) {
        uint32_t bytes;
        std::memcpy(&bytes, p, 4);
        const __m128i v = _mm_cvtsi32_si128(static_cast<int>(bytes >> shift));
        return _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(v, zero), zero));
    };
    __m128 sum = _mm_setzero_ps();
    for (int row = 0; row < 4; ++row) {
        const uint8_t* p = block + row * stride;
        __m128 across = _mm_mul_ps(_mm_set1_ps(wx[0]), pixel(p, 0));
        across = _mm_add_ps(across, _mm_mul_ps(_mm_set1_ps(wx[1]), pixel(p + 3, 0)));
        across = _mm_add_ps(across, _mm_mul_ps(_mm_set1_ps(wx[2]), pixel(p + 6, 0)));
        // The last pixel's bytes end the block row: read the four bytes before its end.
        across = _mm_add_ps(across, _mm_mul_ps(_mm_set1_ps(wx[3]), pixel(p + 8, 8)));
        sum = _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(wy[row]), across));
    }
    sum = _mm_add_ps(sum, _mm_set1_ps(0.5f));
    sum = _mm_min_ps(_mm_max_ps(sum, _mm_setzero_ps()), _mm_set1_ps(255.0f));
    alignas(16) int32_t values[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(values), _mm_cvttps_epi32(sum));
    rgbOut[0] = static_cast<uint8_t>(values[0]);
    rgbOut[1] = static_cast<uint8_t>(values[1]);
    rgbOut[2] = static_cast<uint8_t>(values[2]);
#else
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
#endif
}

// The same with dx and dy, the distances (1 minus the fractional parts, both in 0..1).
inline void sampleBicubic(float dx, float dy, const uint8_t* block, int stride, uint8_t* rgbOut)
{
    const BicubicTable& table = bicubicTable();
    sampleBicubicWeighted(bicubicWeights(table, dx), bicubicWeights(table, dy), block, stride, rgbOut);
}

// A sample for sampleBicubicMany: sampleBicubicWeighted's block, weights and output.
struct BicubicSample {
    const uint8_t* block;
    const float* wx;
    const float* wy;
    uint8_t* rgbOut;
};

// sampleBicubicWeighted of each sample, all with the same stride: two at a time where the processor has
// AVX2, each channel through the same operations in the same order, so every byte is
// sampleBicubicWeighted's. Each of a block's four rows must be readable for 16 bytes from its start.
void sampleBicubicMany(const BicubicSample* samples, int count, int stride);
