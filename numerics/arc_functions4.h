#pragma once

// Arc tangent, two-argument arc tangent and arc sine of four floats at once. Each lane is, to the
// bit, what the C library's atanf, atan2f and asinf return (glibc's single-precision forms: the
// same reductions, the same polynomials and the same order of float operations), so that a render
// that takes them four at a time keeps every pixel of the one that calls the library value by
// value. Lanes outside the common path (zeros, infinities, NaNs, ratios beyond 2^60, x = 1 in
// atan2) are handed to the library one by one.

#ifdef __SSE2__
#include <immintrin.h>

#include <cmath>
#include <cstdint>

// Clang refuses eight-lane values passing through functions not built for AVX, inlined or not:
// there the eight-lane forms are left out and callers take four lanes.
#if defined(__GNUC__) && !defined(__clang__)
#define QUORIL_ARC_FUNCTIONS8 1
#endif

namespace arcdetail {

// The arc tangents are written once for four and eight lanes with the compiler's vector operators
// (exact IEEE operations, as the intrinsics): inlined into a function built for AVX2, eight lanes
// take one instruction, elsewhere two.
typedef float Float4 __attribute__((vector_size(16)));
typedef float Float8 __attribute__((vector_size(32)));
typedef int32_t Int4 __attribute__((vector_size(16)));
typedef int32_t Int8 __attribute__((vector_size(32)));
typedef uint64_t Pair __attribute__((vector_size(16)));
typedef uint64_t Quad __attribute__((vector_size(32)));

template <class F>
struct LanesOf;
template <>
struct LanesOf<Float4> {
    using Int = Int4;
    using Wide = Pair;
};
#ifdef QUORIL_ARC_FUNCTIONS8
template <>
struct LanesOf<Float8> {
    using Int = Int8;
    using Wide = Quad;
};
#endif
template <class F>
using IntOf = typename LanesOf<F>::Int;

template <class F>
[[gnu::always_inline]] inline F lanes(float v)
{
    return F{} + v;
}

template <class F>
[[gnu::always_inline]] inline IntOf<F> lanesOfInt(int32_t v)
{
    return IntOf<F>{} + v;
}

template <class F>
[[gnu::always_inline]] inline F pick(IntOf<F> mask, F yes, F no)
{
    using I = IntOf<F>;
    return (F)(((I)yes & mask) | ((I)no & ~mask));
}

template <class F>
[[gnu::always_inline]] inline F withSignOf(IntOf<F> signBits, F v)
{
    using I = IntOf<F>;
    return (F)((I)v ^ signBits);
}

template <class F>
[[gnu::always_inline]] inline bool anyLane(IntOf<F> mask)
{
    using W = typename LanesOf<F>::Wide;
    const W wide = (W)mask;
    uint64_t any = 0;
    for (unsigned i = 0; i < sizeof(W) / sizeof(uint64_t); ++i)
        any |= wide[i];
    return any != 0;
}

template <class F>
[[gnu::always_inline]] inline F atanLanes(F x)
{
    using I = IntOf<F>;
    const I signBits = (I)x & lanesOfInt<F>(INT32_MIN);
    const I ix = (I)x & lanesOfInt<F>(INT32_MAX);
    const F ax = (F)ix;
    const I tiny = ix < lanesOfInt<F>(0x31000000);        // below 2^-29: atan(x) rounds to x
    const I small = ix < lanesOfInt<F>(0x3ee00000);       // below 7/16: no reduction
    const I nearHalf = ix < lanesOfInt<F>(0x3f300000);    // below 11/16: about atan(1/2)
    const I nearOne = ix < lanesOfInt<F>(0x3f980000);     // below 19/16: about atan(1)
    const I nearOneHalf = ix < lanesOfInt<F>(0x401c0000); // below 39/16: about atan(3/2)
    const I finiteRange = ix < lanesOfInt<F>(0x4c000000); // below 2^25; above it, +-pi/2

    const F one = lanes<F>(1.0f), two = lanes<F>(2.0f), oneHalf = lanes<F>(1.5f);
    const F numerator =
        pick<F>(nearHalf, two * ax - one,
                pick<F>(nearOne, ax - one, pick<F>(nearOneHalf, ax - oneHalf, lanes<F>(-1.0f))));
    const F denominator =
        pick<F>(nearHalf, two + ax, pick<F>(nearOne, ax + one, pick<F>(nearOneHalf, one + oneHalf * ax, ax)));
    const F t = pick<F>(small, x, numerator / denominator);

    const F z = t * t;
    const F w = z * z;
    const F odd =
        z * (0x1.555556p-2f
             + w * (0x1.24924ap-3f + w * (0x1.745cdcp-4f + w * (0x1.10d66ap-4f + w * (0x1.97b4b2p-5f + w * 0x1.0ad3aep-6f)))));
    const F even =
        w * (-0x1.99999ap-3f + w * (-0x1.c71c70p-4f + w * (-0x1.3b0f2ap-4f + w * (-0x1.dde2d6p-5f + w * -0x1.2b4442p-5f))));
    const F sum = odd + even;

    const F unreduced = t - t * sum;
    // atan(a) + atan(t) split in a high and a low part, a = 1/2, 1, 3/2 or infinity.
    const F high = pick<F>(nearHalf, lanes<F>(0x1.dac670p-2f),
                           pick<F>(nearOne, lanes<F>(0x1.921fb4p-1f),
                                   pick<F>(nearOneHalf, lanes<F>(0x1.f730bcp-1f), lanes<F>(0x1.921fb4p+0f))));
    const F low = pick<F>(nearHalf, lanes<F>(0x1.586ed2p-28f),
                          pick<F>(nearOne, lanes<F>(0x1.4442d0p-25f),
                                  pick<F>(nearOneHalf, lanes<F>(0x1.281f68p-25f), lanes<F>(0x1.4442d0p-24f))));
    const F reduced = withSignOf<F>(signBits, high - ((t * sum - low) - t));

    F result = pick<F>(small, unreduced, reduced);
    result = pick<F>(tiny, x, result);
    result = pick<F>(finiteRange, result, withSignOf<F>(signBits, lanes<F>(0x1.921fb6p+0f)));
    return pick<F>(x != x, x + x, result);
}

template <class F>
[[gnu::always_inline]] inline F atan2Lanes(F y, F x)
{
    using I = IntOf<F>;
    const I ix = (I)x & lanesOfInt<F>(INT32_MAX);
    const I iy = (I)y & lanesOfInt<F>(INT32_MAX);
    const I zero = lanesOfInt<F>(0);
    const I infinity = lanesOfInt<F>(0x7f800000);
    // Exponent difference: past 60 either way the library takes a shortcut.
    const I k = (iy - ix) >> 23;
    const I xNegative = (I)x >> 31;
    const I yNegative = (I)y >> 31;
    const I special = (ix == zero) | (iy == zero) | (ix >= infinity) | (iy >= infinity)
                      | ((I)x == lanesOfInt<F>(0x3f800000)) | (k > lanesOfInt<F>(60))
                      | (xNegative & (k < lanesOfInt<F>(-60)));

    const F z = atanLanes<F>((F)((I)(y / x) & lanesOfInt<F>(INT32_MAX)));
    const F piLow = lanes<F>(-0x1.777a5cp-24f), pi = lanes<F>(0x1.921fb6p+1f);
    const F right = withSignOf<F>(yNegative & lanesOfInt<F>(INT32_MIN), z);
    const F leftAbove = pi - (z - piLow);
    const F leftBelow = (z - piLow) - pi;
    F result = pick<F>(xNegative, pick<F>(yNegative, leftBelow, leftAbove), right);
    if (anyLane<F>(special)) {
        for (unsigned i = 0; i < sizeof(F) / sizeof(float); ++i)
            if (special[i])
                result[i] = std::atan2(y[i], x[i]);
    }
    return result;
}

} // namespace arcdetail

inline __m128 atan4(__m128 x)
{
    using arcdetail::Float4;
    return (__m128)arcdetail::atanLanes<Float4>((Float4)x);
}

inline __m128 atan2_4(__m128 y, __m128 x)
{
    using arcdetail::Float4;
    return (__m128)arcdetail::atan2Lanes<Float4>((Float4)y, (Float4)x);
}

#ifdef QUORIL_ARC_FUNCTIONS8
// Eight lanes at once, for code built for AVX2.
[[gnu::always_inline]] __attribute__((target("avx2"))) inline __m256 atan8(__m256 x)
{
    using arcdetail::Float8;
    return (__m256)arcdetail::atanLanes<Float8>((Float8)x);
}

[[gnu::always_inline]] __attribute__((target("avx2"))) inline __m256 atan2_8(__m256 y, __m256 x)
{
    using arcdetail::Float8;
    return (__m256)arcdetail::atan2Lanes<Float8>((Float8)y, (Float8)x);
}
#endif


namespace arcdetail {

inline __m128 select(__m128 mask, __m128 yes, __m128 no)
{
    return _mm_or_ps(_mm_and_ps(mask, yes), _mm_andnot_ps(mask, no));
}

// Lanes whose bit pattern, read as a signed integer, is below limit (magnitudes only).
inline __m128 bitsBelow(__m128i bits, int32_t limit)
{
    return _mm_castsi128_ps(_mm_cmplt_epi32(bits, _mm_set1_epi32(limit)));
}

inline __m128 signOf(__m128 v)
{
    return _mm_and_ps(v, _mm_set1_ps(-0.0f));
}

inline __m128 all(float v)
{
    return _mm_set1_ps(v);
}

} // namespace arcdetail

inline __m128 asin4(__m128 x)
{
    using namespace arcdetail;
    const __m128 ax = _mm_andnot_ps(all(-0.0f), x);
    const __m128i ix = _mm_castps_si128(ax);
    const __m128 p0 = all(0x1.5555c8p-3f), p1 = all(0x1.3301e4p-4f), p2 = all(0x1.747e4ap-5f),
                 p3 = all(0x1.8c283cp-6f), p4 = all(0x1.596d28p-5f);
    auto polynomial = [&](__m128 t) {
        const __m128 inner = _mm_add_ps(p3, _mm_mul_ps(t, p4));
        return _mm_mul_ps(
            t, _mm_add_ps(p0, _mm_mul_ps(t, _mm_add_ps(p1, _mm_mul_ps(t, _mm_add_ps(p2, _mm_mul_ps(t, inner))))))); };
    const __m128 halfPiHigh = all(0x1.921fb6p+0f), halfPiLow = all(-0x1.777a5cp-25f), quarterPiHigh = all(0x1.921fb6p-1f);
    const __m128 two = all(2.0f);

    // |x| < 1/2: x + x^3 p(x^2).
    const __m128 square = _mm_mul_ps(x, x);
    const __m128 nearZero = _mm_add_ps(x, _mm_mul_ps(x, polynomial(square)));

    // 1/2 <= |x| < 1: from the half-angle t = (1 - |x|) / 2.
    const __m128 t = _mm_mul_ps(_mm_sub_ps(all(1.0f), ax), all(0.5f));
    const __m128 p = polynomial(t);
    const __m128 s = _mm_sqrt_ps(t);
    const __m128 steep = _mm_sub_ps(halfPiHigh, _mm_sub_ps(_mm_mul_ps(two, _mm_add_ps(s, _mm_mul_ps(s, p))), halfPiLow));
    const __m128 sHigh = _mm_castsi128_ps(_mm_and_si128(_mm_castps_si128(s), _mm_set1_epi32(static_cast<int32_t>(0xfffff000u))));
    const __m128 c = _mm_div_ps(_mm_sub_ps(t, _mm_mul_ps(sHigh, sHigh)), _mm_add_ps(s, sHigh));
    const __m128 pp = _mm_sub_ps(_mm_mul_ps(_mm_mul_ps(two, s), p), _mm_sub_ps(halfPiLow, _mm_mul_ps(two, c)));
    const __m128 q = _mm_sub_ps(quarterPiHigh, _mm_mul_ps(two, sHigh));
    const __m128 moderate = _mm_sub_ps(quarterPiHigh, _mm_sub_ps(pp, q));
    const __m128 fromHalfAngle = _mm_xor_ps(signOf(x), select(bitsBelow(ix, 0x3f79999a), moderate, steep));

    __m128 result = select(bitsBelow(ix, 0x3f000000), nearZero, fromHalfAngle);
    result = select(bitsBelow(ix, 0x32000000), x, result);
    const __m128 unit = _mm_castsi128_ps(_mm_cmpeq_epi32(ix, _mm_set1_epi32(0x3f800000)));
    result = select(unit, _mm_add_ps(_mm_mul_ps(x, halfPiHigh), _mm_mul_ps(x, halfPiLow)), result);
    // Beyond [-1, 1] the library answers a NaN with x's payload, or the positive default NaN.
    const __m128 outside = _mm_castsi128_ps(_mm_cmpgt_epi32(ix, _mm_set1_epi32(0x3f800000)));
    const __m128 invalid = select(_mm_cmpunord_ps(x, x), _mm_add_ps(x, x), _mm_castsi128_ps(_mm_set1_epi32(0x7fc00000)));
    return select(outside, invalid, result);
}

#endif
