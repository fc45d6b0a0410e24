#include "imaging/bicubic.h"

#include <cmath>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUORIL_BICUBIC_AVX2 1
#endif

namespace {
float keys(float t)
{
    constexpr float a = -0.5f;
    t = std::fabs(t);
    if (t <= 1.0f)
        return (a + 2.0f) * t * t * t - (a + 3.0f) * t * t + 1.0f;
    if (t < 2.0f)
        return a * t * t * t - 5.0f * a * t * t + 8.0f * a * t - 4.0f * a;
    return 0.0f;
}

BicubicTable buildTable()
{
    BicubicTable table{};
    for (int i = 0; i < 256; ++i) {
        const float u = static_cast<float>(i) / 255.0f;
        table.weights[i][0] = keys(2.0f - u);
        table.weights[i][1] = keys(1.0f - u);
        table.weights[i][2] = keys(u);
        table.weights[i][3] = keys(1.0f + u);
    }
    return table;
}
} // namespace

const BicubicTable& bicubicTable()
{
    static const BicubicTable table = buildTable();
    return table;
}

namespace {
void sampleEach(const BicubicSample* samples, int count, int stride)
{
    for (int i = 0; i < count; ++i)
        sampleBicubicWeighted(samples[i].wx, samples[i].wy, samples[i].block, stride, samples[i].rgbOut);
}

#ifdef QUORIL_BICUBIC_AVX2
#define QUORIL_AVX2 __attribute__((target("avx2")))

QUORIL_AVX2 inline __m256 twoRows(const float* first, const float* second)
{
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(first)), _mm_loadu_ps(second), 1);
}

// Pixel j of two block rows side by side: its three bytes in the low bytes of lanes 0-2 and 4-6.
template <int J>
QUORIL_AVX2 inline __m256 pixelOf(__m256i bytes)
{
    constexpr char z = -1, b0 = 3 * J, b1 = 3 * J + 1, b2 = 3 * J + 2;
    const __m256i order = _mm256_setr_epi8(b0, z, z, z, b1, z, z, z, b2, z, z, z, z, z, z, z,
                                           b0, z, z, z, b1, z, z, z, b2, z, z, z, z, z, z, z);
    return _mm256_cvtepi32_ps(_mm256_shuffle_epi8(bytes, order));
}

// Weight I of both samples over their four lanes.
template <int I>
QUORIL_AVX2 inline __m256 weightOf(__m256 weights)
{
    return _mm256_permute_ps(weights, I * 0x55);
}

template <int Row>
QUORIL_AVX2 inline __m256 addRow(__m256 sum, __m256 wx, __m256 wy, const uint8_t* first, const uint8_t* second,
                                 int stride)
{
    const auto* a = reinterpret_cast<const __m128i*>(first + Row * stride);
    const auto* b = reinterpret_cast<const __m128i*>(second + Row * stride);
    const __m256i bytes = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(a)), _mm_loadu_si128(b), 1);
    __m256 across = _mm256_mul_ps(weightOf<0>(wx), pixelOf<0>(bytes));
    across = _mm256_add_ps(across, _mm256_mul_ps(weightOf<1>(wx), pixelOf<1>(bytes)));
    across = _mm256_add_ps(across, _mm256_mul_ps(weightOf<2>(wx), pixelOf<2>(bytes)));
    across = _mm256_add_ps(across, _mm256_mul_ps(weightOf<3>(wx), pixelOf<3>(bytes)));
    return _mm256_add_ps(sum, _mm256_mul_ps(weightOf<Row>(wy), across));
}

// Two samples side by side: lanes 0-3 hold the first one's (R, G, B, unused), lanes 4-7 the
// second one's, and each lane goes through sampleBicubic's operations.
QUORIL_AVX2 void sampleTwo(const BicubicSample& a, const BicubicSample& b, int stride)
{
    const __m256 wx = twoRows(a.wx, b.wx);
    const __m256 wy = twoRows(a.wy, b.wy);
    __m256 sum = _mm256_setzero_ps();
    sum = addRow<0>(sum, wx, wy, a.block, b.block, stride);
    sum = addRow<1>(sum, wx, wy, a.block, b.block, stride);
    sum = addRow<2>(sum, wx, wy, a.block, b.block, stride);
    sum = addRow<3>(sum, wx, wy, a.block, b.block, stride);
    sum = _mm256_add_ps(sum, _mm256_set1_ps(0.5f));
    sum = _mm256_min_ps(_mm256_max_ps(sum, _mm256_setzero_ps()), _mm256_set1_ps(255.0f));
    const __m256i values = _mm256_cvttps_epi32(sum);
    // 0..255 already, so the saturating packs keep every value.
    const __m256i words = _mm256_packs_epi32(values, values);
    const __m256i bytes = _mm256_packus_epi16(words, words);
    const uint32_t firstRgb = static_cast<uint32_t>(_mm256_cvtsi256_si32(bytes));
    const uint32_t secondRgb = static_cast<uint32_t>(_mm256_extract_epi32(bytes, 4));
    std::memcpy(a.rgbOut, &firstRgb, 3);
    std::memcpy(b.rgbOut, &secondRgb, 3);
}

QUORIL_AVX2 void sampleInPairs(const BicubicSample* samples, int count, int stride)
{
    int i = 0;
    for (; i + 1 < count; i += 2)
        sampleTwo(samples[i], samples[i + 1], stride);
    sampleEach(samples + i, count - i, stride);
}

using ManySampler = void (*)(const BicubicSample*, int, int);
ManySampler chooseSampler()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? sampleInPairs : sampleEach;
}
const ManySampler manySampler = chooseSampler();
#endif
} // namespace

void sampleBicubicMany(const BicubicSample* samples, int count, int stride)
{
#ifdef QUORIL_BICUBIC_AVX2
    manySampler(samples, count, stride);
#else
    sampleEach(samples, count, stride);
#endif
}
