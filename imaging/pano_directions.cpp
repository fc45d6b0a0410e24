#include "imaging/pano_directions.h"

#include "imaging/rotation.h"
#include "numerics/arc_functions4.h"

#include <algorithm>

namespace {
constexpr double kPiDouble = 3.14159265358979323846;
// The azimuth tables run this far past the last column, so that a group of columns can always be
// read at once.
constexpr size_t kTablePadding = 7;
// The largest float below pi/2: its cosine is positive, so a pole row keeps its azimuth.
constexpr float kElevationLimit = 1.5707963f;
} // namespace

PanoDirections::PanoDirections(int width, int height, int lensHeight, const ImageParams& p)
    : m_step(static_cast<float>(2.0 * kPiDouble / width))
    , m_scale(static_cast<float>(lensHeight / kPiDouble))
    , m_cosAz(static_cast<size_t>(width) + kTablePadding, 0.0f)
    , m_sinAz(static_cast<size_t>(width) + kTablePadding, 0.0f)
    , m_cosEl(static_cast<size_t>(height))
    , m_sinEl(static_cast<size_t>(height))
{
    rotationFromAngles(-p[ImageParams::PITCH_GLOBAL], 0.0f, -p[ImageParams::ROLL_GLOBAL], m_levelling);
    for (int c = 0; c < width; ++c) {
        const float a = static_cast<float>(c) * m_step - kPi;
        m_cosAz[static_cast<size_t>(c)] = std::cos(a);
        m_sinAz[static_cast<size_t>(c)] = std::sin(a);
    }
    // Built from cos and sin rather than tan: at the pole row tan(pi/2) in float is a huge
    // negative number and would point at the opposite pole.
    const int hh = static_cast<int>(height * 0.5);
    for (int r = 0; r < height; ++r) {
        const float e = std::clamp(static_cast<float>(hh - r) * m_step, -kElevationLimit, kElevationLimit);
        m_cosEl[static_cast<size_t>(r)] = std::cos(e);
        m_sinEl[static_cast<size_t>(r)] = std::sin(e);
    }
}

#ifdef QUORIL_ARC_FUNCTIONS8
// Eight columns at a time: the operations of four at a time, on wider registers.
__attribute__((target("avx2"))) void PanoDirections::lensPositionsEight(int row, int begin, int count, float* x,
                                                                        float* y) const
{
    const float* L = m_levelling;
    const float v1 = m_sinEl[static_cast<size_t>(row)];
    const __m256 ce = _mm256_set1_ps(m_cosEl[static_cast<size_t>(row)]);
    const __m256 l0 = _mm256_set1_ps(L[0]), l2 = _mm256_set1_ps(L[2]), l3 = _mm256_set1_ps(L[3]);
    const __m256 l5 = _mm256_set1_ps(L[5]), l6 = _mm256_set1_ps(L[6]), l8 = _mm256_set1_ps(L[8]);
    const __m256 l1v1 = _mm256_set1_ps(L[1] * v1);
    const __m256 l4v1 = _mm256_set1_ps(L[4] * v1);
    const __m256 l7v1 = _mm256_set1_ps(L[7] * v1);
    const __m256 scale = _mm256_set1_ps(m_scale);
    const int groups = (count + 7) & ~7;
    for (int k = 0; k < groups; k += 8) {
        const size_t column = static_cast<size_t>(begin + k);
        const __m256 v0 = _mm256_mul_ps(ce, _mm256_loadu_ps(m_cosAz.data() + column));
        const __m256 v2 = _mm256_mul_ps(ce, _mm256_loadu_ps(m_sinAz.data() + column));
        const __m256 p0 = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(l0, v0), l1v1), _mm256_mul_ps(l2, v2));
        const __m256 p1 = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(l3, v0), l4v1), _mm256_mul_ps(l5, v2));
        const __m256 p2 = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(l6, v0), l7v1), _mm256_mul_ps(l8, v2));
        const __m256 horizontal = _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(p0, p0), _mm256_mul_ps(p2, p2)));
        const __m256 el = atan8(_mm256_div_ps(p1, horizontal));
        const __m256 az = atan2_8(p2, p0);
        _mm256_storeu_ps(x + k, _mm256_mul_ps(_mm256_add_ps(az, _mm256_set1_ps(kPi)), scale));
        _mm256_storeu_ps(y + k, _mm256_mul_ps(_mm256_sub_ps(_mm256_set1_ps(kHalfPi), el), scale));
    }
}
#endif

void PanoDirections::lensPositions(int row, int begin, int count, float* x, float* y) const
{
#ifdef QUORIL_ARC_FUNCTIONS8
    static const bool eightAtOnce = __builtin_cpu_supports("avx2");
    if (eightAtOnce)
        return lensPositionsEight(row, begin, count, x, y);
#endif
#ifdef __SSE2__
    const float* L = m_levelling;
    const float v1 = m_sinEl[static_cast<size_t>(row)];
    const __m128 ce = _mm_set1_ps(m_cosEl[static_cast<size_t>(row)]);
    auto term = [](float l, __m128 v) { return _mm_mul_ps(_mm_set1_ps(l), v); };
    // The products with the row's sine are the same for every column of the row.
    const __m128 l1v1 = _mm_set1_ps(L[1] * v1);
    const __m128 l4v1 = _mm_set1_ps(L[4] * v1);
    const __m128 l7v1 = _mm_set1_ps(L[7] * v1);
    const __m128 scale = _mm_set1_ps(m_scale);
    const int groups = (count + 3) & ~3;
    for (int k = 0; k < groups; k += 4) {
        const size_t column = static_cast<size_t>(begin + k);
        const __m128 v0 = _mm_mul_ps(ce, _mm_loadu_ps(m_cosAz.data() + column));
        const __m128 v2 = _mm_mul_ps(ce, _mm_loadu_ps(m_sinAz.data() + column));
        const __m128 p0 = _mm_add_ps(_mm_add_ps(term(L[0], v0), l1v1), term(L[2], v2));
        const __m128 p1 = _mm_add_ps(_mm_add_ps(term(L[3], v0), l4v1), term(L[5], v2));
        const __m128 p2 = _mm_add_ps(_mm_add_ps(term(L[6], v0), l7v1), term(L[8], v2));
        const __m128 horizontal = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(p0, p0), _mm_mul_ps(p2, p2)));
        const __m128 el = atan4(_mm_div_ps(p1, horizontal));
        const __m128 az = atan2_4(p2, p0);
        _mm_storeu_ps(x + k, _mm_mul_ps(_mm_add_ps(az, _mm_set1_ps(kPi)), scale));
        _mm_storeu_ps(y + k, _mm_mul_ps(_mm_sub_ps(_mm_set1_ps(kHalfPi), el), scale));
    }
#else
    for (int k = 0; k < count; ++k)
        lensPosition(row, begin + k, x[k], y[k]);
#endif
}
