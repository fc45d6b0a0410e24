#pragma once

// Arc tangent, two-argument arc tangent and arc sine of four floats at once. Each lane is, to the
// bit, what the C library's atanf, atan2f and asinf return (glibc's single-precision forms: the
// same reductions, the same polynomials and the same order of float operations), so that a render
// that takes them four at a time keeps every pixel of the one that calls the library value by
// value. Lanes outside the common path (zeros, infinities, NaNs, ratios beyond 2^60, x = 1 in
// atan2) are handed to the library one by one.

#ifdef __SSE2__
#include <emmintrin.h>

#include <cmath>
#include <cstdint>

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

inline __m128 atan4(__m128 x)
{
    using namespace arcdetail;
    const __m128 ax = _mm_andnot_ps(all(-0.0f), x);
    const __m128i ix = _mm_castps_si128(ax);
    const __m128 tiny = bitsBelow(ix, 0x31000000);       // below 2^-29: atan(x) rounds to x
    const __m128 small = bitsBelow(ix, 0x3ee00000);      // below 7/16: no reduction
    const __m128 nearHalf = bitsBelow(ix, 0x3f300000);   // below 11/16: about atan(1/2)
    const __m128 nearOne = bitsBelow(ix, 0x3f980000);    // below 19/16: about atan(1)
    const __m128 nearOneHalf = bitsBelow(ix, 0x401c0000); // below 39/16: about atan(3/2)
    const __m128 finiteRange = bitsBelow(ix, 0x4c000000); // below 2^25; above it, +-pi/2

    const __m128 one = all(1.0f), two = all(2.0f), oneHalf = all(1.5f);
    const __m128 numerator =
        select(nearHalf, _mm_sub_ps(_mm_mul_ps(two, ax), one),
               select(nearOne, _mm_sub_ps(ax, one), select(nearOneHalf, _mm_sub_ps(ax, oneHalf), all(-1.0f))));
    const __m128 denominator =
        select(nearHalf, _mm_add_ps(two, ax),
               select(nearOne, _mm_add_ps(ax, one), select(nearOneHalf, _mm_add_ps(one, _mm_mul_ps(oneHalf, ax)), ax)));
    const __m128 t = select(small, x, _mm_div_ps(numerator, denominator));

    const __m128 z = _mm_mul_ps(t, t);
    const __m128 w = _mm_mul_ps(z, z);
    auto step = [&](float c, __m128 rest) { return _mm_add_ps(all(c), _mm_mul_ps(w, rest)); };
    const __m128 odd = _mm_mul_ps(
        z, step(0x1.555556p-2f,
                step(0x1.24924ap-3f, step(0x1.745cdcp-4f, step(0x1.10d66ap-4f, step(0x1.97b4b2p-5f, all(0x1.0ad3aep-6f)))))));
    const __m128 even = _mm_mul_ps(
        w, step(-0x1.99999ap-3f, step(-0x1.c71c70p-4f, step(-0x1.3b0f2ap-4f, step(-0x1.dde2d6p-5f, all(-0x1.2b4442p-5f))))));
    const __m128 sum = _mm_add_ps(odd, even);

    const __m128 unreduced = _mm_sub_ps(t, _mm_mul_ps(t, sum));
    // atan(a) + atan(t) split in a high and a low part, a = 1/2, 1, 3/2 or infinity.
    const __m128 high = select(nearHalf, all(0x1.dac670p-2f),
                               select(nearOne, all(0x1.921fb4p-1f), select(nearOneHalf, all(0x1.f730bcp-1f), all(0x1.921fb4p+0f))));
    const __m128 low = select(nearHalf, all(0x1.586ed2p-28f),
                              select(nearOne, all(0x1.4442d0p-25f), select(nearOneHalf, all(0x1.281f68p-25f), all(0x1.4442d0p-24f))));
    const __m128 reduced =
        _mm_xor_ps(signOf(x), _mm_sub_ps(high, _mm_sub_ps(_mm_sub_ps(_mm_mul_ps(t, sum), low), t)));

    __m128 result = select(small, unreduced, reduced);
    result = select(tiny, x, result);
    result = select(finiteRange, result, _mm_xor_ps(signOf(x), all(0x1.921fb6p+0f)));
    return select(_mm_cmpunord_ps(x, x), _mm_add_ps(x, x), result);
}

inline __m128 atan2_4(__m128 y, __m128 x)
{
    using namespace arcdetail;
    const __m128i ix = _mm_castps_si128(_mm_andnot_ps(all(-0.0f), x));
    const __m128i iy = _mm_castps_si128(_mm_andnot_ps(all(-0.0f), y));
    const __m128i zero = _mm_setzero_si128();
    const __m128i infinity = _mm_set1_epi32(0x7f800000);
    // Exponent difference: past 60 either way the library takes a shortcut.
    const __m128i k = _mm_srai_epi32(_mm_sub_epi32(iy, ix), 23);
    const __m128i xNegative = _mm_srai_epi32(_mm_castps_si128(x), 31);
    __m128i special = _mm_or_si128(_mm_cmpeq_epi32(ix, zero), _mm_cmpeq_epi32(iy, zero));
    special = _mm_or_si128(special, _mm_cmpgt_epi32(ix, _mm_sub_epi32(infinity, _mm_set1_epi32(1))));
    special = _mm_or_si128(special, _mm_cmpgt_epi32(iy, _mm_sub_epi32(infinity, _mm_set1_epi32(1))));
    special = _mm_or_si128(special, _mm_cmpeq_epi32(_mm_castps_si128(x), _mm_set1_epi32(0x3f800000)));
    special = _mm_or_si128(special, _mm_cmpgt_epi32(k, _mm_set1_epi32(60)));
    special = _mm_or_si128(special, _mm_and_si128(xNegative, _mm_cmplt_epi32(k, _mm_set1_epi32(-60))));

    const __m128 z = atan4(_mm_andnot_ps(all(-0.0f), _mm_div_ps(y, x)));
    const __m128 piLow = all(-0x1.777a5cp-24f), pi = all(0x1.921fb6p+1f);
    const __m128 right = _mm_xor_ps(signOf(y), z);
    const __m128 leftAbove = _mm_sub_ps(pi, _mm_sub_ps(z, piLow));
    const __m128 leftBelow = _mm_sub_ps(_mm_sub_ps(z, piLow), pi);
    const __m128 below = _mm_castsi128_ps(_mm_srai_epi32(_mm_castps_si128(y), 31));
    __m128 result = select(_mm_castsi128_ps(xNegative), select(below, leftBelow, leftAbove), right);

    if (_mm_movemask_ps(_mm_castsi128_ps(special))) {
        alignas(16) float ys[4], xs[4], out[4];
        alignas(16) int32_t lanes[4];
        _mm_store_ps(ys, y);
        _mm_store_ps(xs, x);
        _mm_store_ps(out, result);
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), special);
        for (int i = 0; i < 4; ++i)
            if (lanes[i])
                out[i] = std::atan2(ys[i], xs[i]);
        result = _mm_load_ps(out);
    }
    return result;
}

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
