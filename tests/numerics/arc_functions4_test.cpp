#include "numerics/arc_functions4.h"
#include "float_sweep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#ifdef __SSE2__
namespace {

#ifdef QUORIL_ARC_FUNCTIONS8
// Eight lanes: the four inputs in the low half and reversed in the high half; a lane pair that
// disagrees comes out as a value the library cannot have given (its bits flipped).
__attribute__((target("avx2"))) void atanEight(const float* in, float* out)
{
    alignas(32) float lanes[8] = {in[0], in[1], in[2], in[3], in[3], in[2], in[1], in[0]};
    _mm256_store_ps(lanes, atan8(_mm256_load_ps(lanes)));
    for (int i = 0; i < 4; ++i)
        out[i] = bitsOf(lanes[i]) == bitsOf(lanes[7 - i]) ? lanes[i] : fromBits(~bitsOf(lanes[i]));
}

__attribute__((target("avx2"))) void atan2Eight(const float* y, const float* x, float* out)
{
    alignas(32) float ys[8] = {y[0], y[1], y[2], y[3], y[3], y[2], y[1], y[0]};
    alignas(32) float xs[8] = {x[0], x[1], x[2], x[3], x[3], x[2], x[1], x[0]};
    _mm256_store_ps(ys, atan2_8(_mm256_load_ps(ys), _mm256_load_ps(xs)));
    for (int i = 0; i < 4; ++i)
        out[i] = bitsOf(ys[i]) == bitsOf(ys[7 - i]) ? ys[i] : fromBits(~bitsOf(ys[i]));
}

bool eightLanes()
{
    return __builtin_cpu_supports("avx2");
}
#endif

void atan2Four(const float* y, const float* x, float* out)
{
    _mm_storeu_ps(out, atan2_4(_mm_loadu_ps(y), _mm_loadu_ps(x)));
}



} // namespace

TEST(ArcFunctions4, AtanIsTheLibrarysToTheBit)
{
    // From below 2^-29 (where atan(x) rounds to x) to past 2^25 (where it rounds to pi/2).
    expectFloatsMatch([](const float* in, float* out) { _mm_store_ps(out, atan4(_mm_load_ps(in))); },
                      [](float x) { return std::atan(x); }, 0x30000000, 0x4d000000);
#ifdef QUORIL_ARC_FUNCTIONS8
    if (eightLanes())
        expectFloatsMatch(atanEight, [](float x) { return std::atan(x); }, 0x30000000, 0x4d000000);
#endif
}

TEST(ArcFunctions4, AsinIsTheLibrarysToTheBit)
{
    // From below 2^-27 (where asin(x) rounds to x) to just past 1.
    expectFloatsMatch([](const float* in, float* out) { _mm_store_ps(out, asin4(_mm_load_ps(in))); },
                      [](float x) { return std::asin(x); }, 0x31000000, 0x3f800100);
}

TEST(ArcFunctions4, Atan2IsTheLibrarysToTheBitInEveryQuadrantAndAtTheEdges)
{
    // Edge values of either argument: zeros, subnormals, 1 (a shortcut of the library), ratios
    // around 2^60, the largest float, infinities and NaN, each with both signs.
    std::vector<float> edges;
    for (float v : {0.0f, 1e-45f, 1.1754942e-38f, 1e-30f, 0.5f, 1.0f, 1.0000001f, 3.0f, 0x1p60f, 0x1p61f, 0x1p62f,
                    3.4028235e38f, INFINITY, NAN}) {
        edges.push_back(v);
        edges.push_back(-v);
    }
    std::vector<float> ys, xs;
    for (float y : edges)
        for (float x : edges) {
            ys.push_back(y);
            xs.push_back(x);
        }
    // Directions as the pano's levelled rays give them (components within [-1, 1]) and arbitrary
    // bit patterns, NaNs and infinities among them.
    std::mt19937 random(22);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int i = 0; i < 4'000'000; ++i) {
        ys.push_back(unit(random));
        xs.push_back(unit(random));
    }
    for (int i = 0; i < 4'000'000; ++i) {
        ys.push_back(fromBits(static_cast<uint32_t>(random())));
        xs.push_back(fromBits(static_cast<uint32_t>(random())));
    }
    while (ys.size() % 4) {
        ys.push_back(1.0f);
        xs.push_back(1.0f);
    }

    std::vector<void (*)(const float*, const float*, float*)> forms{atan2Four};
#ifdef QUORIL_ARC_FUNCTIONS8
    if (eightLanes())
        forms.push_back(atan2Eight);
#endif
    for (auto form : forms) {
        long long mismatches = 0;
        for (size_t i = 0; i < ys.size(); i += 4) {
            float out[4];
            form(ys.data() + i, xs.data() + i, out);
            for (size_t lane = i; lane < i + 4; ++lane) {
                const float expected = std::atan2(ys[lane], xs[lane]);
                if (bitsOf(out[lane - i]) != bitsOf(expected) && mismatches++ < 5)
                    ADD_FAILURE() << std::hexfloat << "atan2(" << ys[lane] << ", " << xs[lane] << "): " << out[lane - i]
                                  << ", the library " << expected;
            }
        }
        EXPECT_EQ(mismatches, 0) << (form == atan2Four ? "four lanes" : "eight lanes");
    }
}
#endif
