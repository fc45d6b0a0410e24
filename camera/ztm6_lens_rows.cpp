#include "camera/ztm6_lens_rows.h"

#include "numerics/arc_functions4.h"
#include "numerics/sine_cosine4.h"

#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr float kHalfPiF = 1.5707964f;

#ifdef __SSE2__
__m128 select(__m128 mask, __m128 yes, __m128 no)
{
    return _mm_or_ps(_mm_and_ps(mask, yes), _mm_andnot_ps(mask, no));
}

// float(double(a) * b / c) lane by lane, as the one-position form rounds it.
__m128 scaledInDouble(__m128 a, __m128d b, __m128d c)
{
    const __m128d low = _mm_div_pd(_mm_mul_pd(_mm_cvtps_pd(a), b), c);
    const __m128d high = _mm_div_pd(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(a, a)), b), c);
    return _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));
}

// float(a * double(b) * c + double(d)) lane by lane.
__m128 fromAngle(__m128d a, __m128 b, __m128d c, __m128 d)
{
    auto half = [&](__m128 bb, __m128 dd) {
        return _mm_cvtpd_ps(_mm_add_pd(_mm_mul_pd(_mm_mul_pd(a, _mm_cvtps_pd(bb)), c), _mm_cvtps_pd(dd)));
    };
    return _mm_movelh_ps(half(b, d), half(_mm_movehl_ps(b, b), _mm_movehl_ps(d, d)));
}

// The terms of the lens model, lane by lane from one of two records.
struct Terms {
    __m128 U0, V0, K1, K2, K3, P1, P2, P3, P4;
};

// Each term of both records, spread over four lanes once per call.
class RecordTerms {
public:
    RecordTerms(const Ztm6LensRecord* first, const Ztm6LensRecord* second)
    {
        const Ztm6LensRecord none{};
        spread(first ? *first : none, m_first);
        spread(second ? *second : none, m_second);
    }

    // Lanes of the first record where the mask is set, of the second elsewhere.
    Terms pick(__m128 firstMask) const
    {
        __m128 t[kCount];
        for (int i = 0; i < kCount; ++i)
            t[i] = select(firstMask, m_first[i], m_second[i]);
        return {t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8]};
    }

private:
    static constexpr int kCount = 9;
    static void spread(const Ztm6LensRecord& r, __m128* out)
    {
        const float terms[kCount] = {r.U0, r.V0, r.K1, r.K2, r.K3, r.P1, r.P2, r.P3, r.P4};
        for (int i = 0; i < kCount; ++i)
            out[i] = _mm_set1_ps(terms[i]);
    }
    __m128 m_first[kCount];
    __m128 m_second[kCount];
};
#endif
} // namespace

Ztm6LensRows::Ztm6LensRows(const CamParamsZTM6& camera, float fadeStart, float fadeEnd)
    : m_camera(camera)
    , m_fadeStart(fadeStart)
    , m_fadeEnd(fadeEnd)
{
}

void Ztm6LensRows::project(const float* x, const float* y, int count, float* outX, float* outY) const
{
    const int ws = m_camera.header().IMG_WIDTH;
    const int hs = m_camera.header().IMG_HEIGHT;
#ifdef __SSE2__
    if (count <= 0)
        return;
    if (hs <= 0) {
        for (int k = 0; k < count; ++k)
            m_camera.lensProject(x[k], y[k], m_fadeStart, m_fadeEnd, outX[k], outY[k]);
        return;
    }
    // Per position: whether the lens model applies, then the inputs of each trigonometric step.
    alignas(16) float lon[kBlock], lat[kBlock];
    alignas(16) float sinLon[kBlock], sinLat[kBlock], cosLat[kBlock];
    alignas(16) float Xc[kBlock], latC[kBlock], cosLatC[kBlock], lonC[kBlock];
    alignas(16) int32_t corrected[kBlock], firstRecord[kBlock];

    const Ztm6LensRecord* record0 = m_camera.lensRecord(0);
    const Ztm6LensRecord* record1 = m_camera.lensRecord(1);
    const RecordTerms terms(record0, record1);
    const __m128 wrapAbove = _mm_set1_ps(static_cast<float>(3 * int64_t(ws) / 4));
    const __m128 firstFrom = _mm_set1_ps(static_cast<float>(ws / 4));
    const __m128 wsF = _mm_set1_ps(static_cast<float>(ws));
    const __m128 zero = _mm_setzero_ps();
    const __m128d piD = _mm_set1_pd(kPi);
    const __m128d hsD = _mm_set1_pd(static_cast<double>(hs));
    const __m128 fadeStart = _mm_set1_ps(m_fadeStart);
    const __m128 fadeEnd = _mm_set1_ps(m_fadeEnd);
    const __m128 fadeSpan = _mm_set1_ps(m_fadeEnd - m_fadeStart);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 two = _mm_set1_ps(2.0f);
    const __m128 minusOne = _mm_set1_ps(-1.0f);
    const __m128 signBit = _mm_set1_ps(-0.0f);
    const __m128 halfPi = _mm_set1_ps(kHalfPiF);
    const __m128 has0 = _mm_castsi128_ps(_mm_set1_epi32(record0 ? -1 : 0));
    const __m128 has1 = _mm_castsi128_ps(_mm_set1_epi32(record1 ? -1 : 0));

    // Whole groups of four: the lanes past count compute values nobody reads.
    const int groups = (count + 3) & ~3;
    for (int k = 0; k < groups; k += 4) {
        const __m128 xv = _mm_loadu_ps(x + k);
        const __m128 yv = _mm_loadu_ps(y + k);
        const __m128 wraps = _mm_cmpgt_ps(xv, wrapAbove);
        const __m128 first = _mm_andnot_ps(wraps, _mm_cmpge_ps(xv, firstFrom));
        const __m128 present = select(first, has0, has1);
        const Terms t = terms.pick(first);
        const __m128 offset = _mm_and_ps(wraps, _mm_sub_ps(zero, wsF));
        const __m128 x0 = _mm_add_ps(_mm_sub_ps(xv, t.U0), offset);
        const __m128 y0 = _mm_sub_ps(yv, t.V0);
        _mm_store_ps(lon + k, scaledInDouble(x0, piD, hsD));
        _mm_store_ps(lat + k, scaledInDouble(y0, piD, hsD));
        _mm_store_si128(reinterpret_cast<__m128i*>(corrected + k), _mm_castps_si128(present));
        _mm_store_si128(reinterpret_cast<__m128i*>(firstRecord + k), _mm_castps_si128(first));
    }
    sinFloats(lon, sinLon, groups);
    cosFloats(lat, cosLat, groups);
    sinFloats(lat, sinLat, groups);
    for (int k = 0; k < groups; k += 4) {
        const __m128 first = _mm_load_ps(reinterpret_cast<const float*>(firstRecord + k));
        const Terms t = terms.pick(first);
        const __m128 lensModel = _mm_load_ps(reinterpret_cast<const float*>(corrected + k));
        const __m128 X = _mm_and_ps(lensModel, _mm_mul_ps(_mm_load_ps(sinLon + k), _mm_load_ps(cosLat + k)));
        const __m128 Y = _mm_and_ps(lensModel, _mm_load_ps(sinLat + k));
        const __m128 r2 = _mm_add_ps(_mm_mul_ps(X, X), _mm_mul_ps(Y, Y));
        const __m128 r4 = _mm_mul_ps(r2, r2);
        const __m128 outside = _mm_cmpge_ps(r2, fadeEnd);
        const __m128 radial = _mm_add_ps(_mm_add_ps(_mm_mul_ps(t.K1, r2), _mm_mul_ps(t.K2, r4)),
                                         _mm_mul_ps(t.K3, _mm_mul_ps(r4, r2)));
        const __m128 scale = _mm_add_ps(_mm_add_ps(one, _mm_mul_ps(t.P3, r2)), _mm_mul_ps(t.P4, r4));
        const __m128 tanX = _mm_add_ps(_mm_mul_ps(_mm_add_ps(_mm_mul_ps(two, _mm_mul_ps(X, X)), r2), t.P1),
                                       _mm_mul_ps(_mm_mul_ps(_mm_mul_ps(two, t.P2), X), Y));
        const __m128 tanY = _mm_add_ps(_mm_mul_ps(_mm_add_ps(_mm_mul_ps(two, _mm_mul_ps(Y, Y)), r2), t.P2),
                                       _mm_mul_ps(_mm_mul_ps(_mm_mul_ps(two, t.P1), X), Y));
        __m128 dX = _mm_xor_ps(signBit, _mm_add_ps(_mm_mul_ps(tanX, scale), _mm_mul_ps(radial, X)));
        __m128 dY = _mm_xor_ps(signBit, _mm_add_ps(_mm_mul_ps(tanY, scale), _mm_mul_ps(radial, Y)));
        const __m128 fading = _mm_cmpge_ps(r2, fadeStart);
        const __m128 fade = _mm_div_ps(_mm_sub_ps(fadeEnd, r2), fadeSpan);
        dX = select(fading, _mm_mul_ps(dX, fade), dX);
        dY = select(fading, _mm_mul_ps(dY, fade), dY);
        const __m128 xc = _mm_add_ps(X, dX);
        const __m128 yc = _mm_add_ps(Y, dY);
        const __m128 stillCorrected = _mm_andnot_ps(outside, lensModel);
        const __m128 inRange = _mm_and_ps(_mm_cmpge_ps(yc, minusOne), _mm_cmple_ps(yc, one));
        _mm_store_ps(Xc + k, xc);
        _mm_store_ps(latC + k, _mm_and_ps(stillCorrected, select(inRange, asin4(yc), halfPi)));
        _mm_store_si128(reinterpret_cast<__m128i*>(corrected + k), _mm_castps_si128(stillCorrected));
    }
    cosFloats(latC, cosLatC, groups);
    const __m128 tiny = _mm_set1_ps(1.1754944e-38f);
    for (int k = 0; k < groups; k += 4) {
        const __m128 lensModel = _mm_load_ps(reinterpret_cast<const float*>(corrected + k));
        const __m128 c = _mm_and_ps(lensModel, _mm_load_ps(cosLatC + k));
        const __m128 ratio = _mm_div_ps(_mm_load_ps(Xc + k), c);
        const __m128 usable = _mm_cmpgt_ps(_mm_andnot_ps(signBit, c), tiny);
        const __m128 inRange =
            _mm_and_ps(usable, _mm_and_ps(_mm_cmpge_ps(ratio, minusOne), _mm_cmple_ps(ratio, one)));
        const __m128 keep = _mm_and_ps(inRange, lensModel);
        _mm_store_ps(lonC + k, _mm_and_ps(keep, asin4(ratio)));
    }
    const __m128d inversePi = _mm_set1_pd(1.0 / kPi);
    for (int k = 0; k < groups; k += 4) {
        const __m128 first = _mm_load_ps(reinterpret_cast<const float*>(firstRecord + k));
        const Terms t = terms.pick(first);
        const __m128 keep = _mm_load_ps(reinterpret_cast<const float*>(corrected + k));
        __m128 ox = fromAngle(hsD, _mm_load_ps(lonC + k), inversePi, t.U0);
        const __m128 oy = fromAngle(hsD, _mm_load_ps(latC + k), inversePi, t.V0);
        const __m128 below = _mm_cmplt_ps(ox, zero);
        const __m128 beyond = _mm_andnot_ps(below, _mm_cmpge_ps(ox, wsF));
        ox = select(below, _mm_add_ps(ox, wsF), select(beyond, _mm_sub_ps(ox, wsF), ox));
        _mm_storeu_ps(outX + k, select(keep, ox, _mm_loadu_ps(x + k)));
        _mm_storeu_ps(outY + k, select(keep, oy, _mm_loadu_ps(y + k)));
    }
#else
    (void)ws;
    (void)hs;
    for (int k = 0; k < count; ++k)
        m_camera.lensProject(x[k], y[k], m_fadeStart, m_fadeEnd, outX[k], outY[k]);
#endif
}
