#include "numerics/sine_cosine4.h"

#include <cmath>
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define QUORIL_FUSED_SINE_COSINE 1
#endif

namespace {

enum class Wave { Sine, Cosine };

template <Wave wave>
void byTheLibrary(const float* in, float* out, int count)
{
    for (int k = 0; k < count; ++k)
        out[k] = wave == Wave::Sine ? std::sin(in[k]) : std::cos(in[k]);
}

#ifdef QUORIL_FUSED_SINE_COSINE
// 2/pi scaled by 2^24, so that the quadrant lands in the top byte of a truncated integer.
constexpr double kTwoOverPiScaled = 0x1.45F306DC9C883p+23;
constexpr double kHalfPi = 0x1.921FB54442D18p0;
// cos(x) ~ c0 + c1 x^2 + c2 x^4 + c3 x^6 + c4 x^8; sin(x) ~ x + s1 x^3 + s2 x^5 + s3 x^7.
constexpr double kC0 = 0x1p0, kC1 = -0x1.ffffffd0c621cp-2, kC2 = 0x1.55553e1068f19p-5, kC3 = -0x1.6c087e89a359dp-10,
                 kC4 = 0x1.99343027bf8c3p-16;
constexpr double kS1 = -0x1.555545995a603p-3, kS2 = 0x1.1107605230bc4p-7, kS3 = -0x1.994eb3774cf24p-13;
// Below 2^-12 sin(x) rounds to x and cos(x) to 1; from 120 on the library reduces otherwise.
constexpr int32_t kTinyBits = 0x39800000;
constexpr int32_t kFarBits = 0x42f00000;

#define QUORIL_FUSED __attribute__((target("avx2,fma")))

// All bits of a double lane set where its int32 lane is.
QUORIL_FUSED __m256d laneMask(__m128i bits)
{
    return _mm256_castsi256_pd(_mm256_cvtepi32_epi64(bits));
}

QUORIL_FUSED __m256d signedWhere(__m256d negative, double c)
{
    return _mm256_blendv_pd(_mm256_set1_pd(c), _mm256_set1_pd(-c), negative);
}

QUORIL_FUSED __m128 fused4(__m128 y, Wave wave)
{
    const __m256d x = _mm256_cvtps_pd(y);
    const __m128i n = _mm_srai_epi32(
        _mm_add_epi32(_mm256_cvttpd_epi32(_mm256_mul_pd(x, _mm256_set1_pd(kTwoOverPiScaled))), _mm_set1_epi32(0x800000)),
        24);
    const __m256d reduced = _mm256_fnmadd_pd(_mm256_cvtepi32_pd(n), _mm256_set1_pd(kHalfPi), x);
    // The sine is negative in quadrants 1 and 2; the cosine polynomial is negated in 2 and 3.
    const __m128i one = _mm_set1_epi32(1), two = _mm_set1_epi32(2);
    const __m256d sineNegative = laneMask(_mm_cmpeq_epi32(_mm_and_si128(_mm_add_epi32(n, one), two), two));
    const __m256d cosineNegated = laneMask(_mm_cmpeq_epi32(_mm_and_si128(n, two), two));
    const __m128i odd = _mm_cmpeq_epi32(_mm_and_si128(n, one), one);
    const __m256d usesCosine = laneMask(wave == Wave::Sine ? odd : _mm_xor_si128(odd, _mm_set1_epi32(-1)));

    const __m256d sign = signedWhere(sineNegative, 1.0);
    const __m256d xs = _mm256_mul_pd(reduced, sign);
    const __m256d x2 = _mm256_mul_pd(reduced, reduced);

    const __m256d x3 = _mm256_mul_pd(xs, x2);
    const __m256d s1 = _mm256_fmadd_pd(x2, _mm256_set1_pd(kS3), _mm256_set1_pd(kS2));
    const __m256d x7 = _mm256_mul_pd(x3, x2);
    const __m256d s = _mm256_fmadd_pd(x3, _mm256_set1_pd(kS1), xs);
    const __m256d sine = _mm256_fmadd_pd(x7, s1, s);

    auto coefficient = [cosineNegated](double c) QUORIL_FUSED { return signedWhere(cosineNegated, c); };
    const __m256d x4 = _mm256_mul_pd(x2, x2);
    const __m256d c2 = _mm256_fmadd_pd(x2, coefficient(kC4), coefficient(kC3));
    const __m256d c1 = _mm256_fmadd_pd(x2, coefficient(kC1), coefficient(kC0));
    const __m256d x6 = _mm256_mul_pd(x4, x2);
    const __m256d c = _mm256_fmadd_pd(x4, coefficient(kC2), c1);
    const __m256d cosine = _mm256_fmadd_pd(x6, c2, c);

    const __m128 result = _mm256_cvtpd_ps(_mm256_blendv_pd(sine, cosine, usesCosine));
    const __m128i magnitude = _mm_castps_si128(_mm_andnot_ps(_mm_set1_ps(-0.0f), y));
    const __m128 tiny = _mm_castsi128_ps(_mm_cmplt_epi32(magnitude, _mm_set1_epi32(kTinyBits)));
    return _mm_blendv_ps(result, wave == Wave::Sine ? y : _mm_set1_ps(1.0f), tiny);
}

template <Wave wave>
QUORIL_FUSED void fused(const float* in, float* out, int count)
{
    const __m128i far = _mm_set1_epi32(kFarBits - 1);
    int k = 0;
    for (; k + 4 <= count; k += 4) {
        const __m128 y = _mm_loadu_ps(in + k);
        const __m128i magnitude = _mm_castps_si128(_mm_andnot_ps(_mm_set1_ps(-0.0f), y));
        _mm_storeu_ps(out + k, fused4(y, wave));
        if (_mm_movemask_epi8(_mm_cmpgt_epi32(magnitude, far)))
            byTheLibrary<wave>(in + k, out + k, 4);
    }
    byTheLibrary<wave>(in + k, out + k, count - k);
}

// The same test glibc makes to pick its fused forms.
bool fusedAsTheLibrary()
{
    static const bool fusedToo = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return fusedToo;
}
#endif

} // namespace

void sinFloats(const float* in, float* out, int count)
{
#ifdef QUORIL_FUSED_SINE_COSINE
    if (fusedAsTheLibrary())
        return fused<Wave::Sine>(in, out, count);
#endif
    byTheLibrary<Wave::Sine>(in, out, count);
}

void cosFloats(const float* in, float* out, int count)
{
#ifdef QUORIL_FUSED_SINE_COSINE
    if (fusedAsTheLibrary())
        return fused<Wave::Cosine>(in, out, count);
#endif
    byTheLibrary<Wave::Cosine>(in, out, count);
}
