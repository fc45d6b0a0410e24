#include "imaging/gain_pair_search.h"

#include <algorithm>
#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {
// The b side runs in lanes: one pass over the points gives the costs of eight gains b.
constexpr int kLanes = 8;

// The costs of one a and eight b: e1Squared and mapped23 hold the a-side terms per point, curves
// points at the first of the eight b columns of the curves' transpose (`stride` floats a byte).
void laneCosts(const SeamSamples& s, size_t points, const float* e1Squared, const float* mapped23,
               const float* curves, size_t stride, double cost[kLanes])
{
#ifdef __SSE2__
    // The lanes side by side: the same float operations in the same order as the scalar form below
    // (sqrtps rounds as sqrtss does), each lane's double sum its own.
    __m128d sums[4] = {_mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd()};
    for (size_t k = 0; k < points; ++k) {
        const float* b23 = curves + static_cast<size_t>(s.third23[k]) * stride;
        const float* b31 = curves + static_cast<size_t>(s.third31[k]) * stride;
        const __m128 a23 = _mm_set1_ps(mapped23[k]);
        const __m128 e1e1 = _mm_set1_ps(e1Squared[k]);
        const __m128 f31 = _mm_set1_ps(s.first31[k]);
        for (int half = 0; half < 2; ++half) {
            const __m128 e2 = _mm_sub_ps(a23, _mm_loadu_ps(b23 + 4 * half));
            const __m128 e3 = _mm_sub_ps(_mm_loadu_ps(b31 + 4 * half), f31);
            const __m128 root = _mm_sqrt_ps(_mm_add_ps(_mm_add_ps(e1e1, _mm_mul_ps(e2, e2)), _mm_mul_ps(e3, e3)));
            sums[2 * half] = _mm_add_pd(sums[2 * half], _mm_cvtps_pd(root));
            sums[2 * half + 1] = _mm_add_pd(sums[2 * half + 1], _mm_cvtps_pd(_mm_movehl_ps(root, root)));
        }
    }
    for (int pair = 0; pair < 4; ++pair)
        _mm_storeu_pd(cost + 2 * pair, sums[pair]);
#else
    for (int lane = 0; lane < kLanes; ++lane)
        cost[lane] = 0.0;
    for (size_t k = 0; k < points; ++k) {
        const float* b23 = curves + static_cast<size_t>(s.third23[k]) * stride;
        const float* b31 = curves + static_cast<size_t>(s.third31[k]) * stride;
        for (int lane = 0; lane < kLanes; ++lane) {
            const float e2 = mapped23[k] - b23[lane];
            const float e3 = b31[lane] - s.first31[k];
            cost[lane] += static_cast<double>(std::sqrt(e1Squared[k] + e2 * e2 + e3 * e3));
        }
    }
#endif
}
} // namespace

void searchGainPairs(const SeamSamples channels[3], size_t points, const std::vector<std::array<float, 256>>& curves,
                     std::vector<double>& bestCost, std::vector<int>& bestB)
{
    const int count = static_cast<int>(curves.size());
    bestCost.assign(static_cast<size_t>(3 * count), 0.0);
    bestB.assign(static_cast<size_t>(3 * count), 0);
    if (count == 0)
        return;
    // The curves transposed, so that one byte's values for consecutive b lie side by side; the
    // columns past the last curve repeat it and are never read back.
    const int blocks = (count + kLanes - 1) / kLanes;
    const size_t stride = static_cast<size_t>(blocks) * kLanes;
    std::vector<float> transposed(256 * stride);
    for (size_t v = 0; v < 256; ++v)
        for (size_t b = 0; b < stride; ++b)
            transposed[v * stride + b] = curves[std::min(b, curves.size() - 1)][v];

    // 3 x count equal jobs, each one pass of the lanes over the points per block of b.
#pragma omp parallel
    {
        std::vector<float> e1Squared(points), mapped23(points);
        std::vector<double> cost(stride);
#pragma omp for schedule(dynamic)
        for (int job = 0; job < 3 * count; ++job) {
            const SeamSamples& s = channels[job / count];
            const std::array<float, 256>& curveA = curves[static_cast<size_t>(job % count)];
            for (size_t k = 0; k < points; ++k) {
                const float e1 = s.first12[k] - curveA[static_cast<size_t>(s.second12[k])];
                e1Squared[k] = e1 * e1;
                mapped23[k] = curveA[static_cast<size_t>(s.second23[k])];
            }
            for (int block = 0; block < blocks; ++block)
                laneCosts(s, points, e1Squared.data(), mapped23.data(),
                          transposed.data() + static_cast<size_t>(block) * kLanes, stride,
                          cost.data() + static_cast<size_t>(block) * kLanes);
            int best = 0;
            for (int b = 1; b < count; ++b)
                if (cost[static_cast<size_t>(b)] < cost[static_cast<size_t>(best)])
                    best = b;
            bestCost[static_cast<size_t>(job)] = cost[static_cast<size_t>(best)];
            bestB[static_cast<size_t>(job)] = best;
        }
    }
}
