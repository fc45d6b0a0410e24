#include "numerics/arc_functions4.h"
#include "float_sweep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#ifdef __SSE2__

TEST(ArcFunctions4, AtanIsTheLibrarysToTheBit)
{
    // From below 2^-29 (where atan(x) rounds to x) to past 2^25 (where it rounds to pi/2).
    expectFloatsMatch([](const float* in, float* out) { _mm_store_ps(out, atan4(_mm_load_ps(in))); }, [](float x) { return std::atan(x); }, 0x30000000, 0x4d000000);
}

TEST(ArcFunctions4, AsinIsTheLibrarysToTheBit)
{
    // From below 2^-27 (where asin(x) rounds to x) to just past 1.
    expectFloatsMatch([](const float* in, float* out) { _mm_store_ps(out, asin4(_mm_load_ps(in))); }, [](float x) { return std::asin(x); }, 0x31000000, 0x3f800100);
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
    std::vector<std::pair<float, float>> pairs;
    for (float y : edges)
        for (float x : edges)
            pairs.emplace_back(y, x);
    // Directions as the pano's levelled rays give them (components within [-1, 1]) and arbitrary
    // bit patterns, NaNs and infinities among them.
    std::mt19937 random(22);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int i = 0; i < 4'000'000; ++i)
        pairs.emplace_back(unit(random), unit(random));
    for (int i = 0; i < 4'000'000; ++i)
        pairs.emplace_back(fromBits(static_cast<uint32_t>(random())), fromBits(static_cast<uint32_t>(random())));
    while (pairs.size() % 4)
        pairs.emplace_back(1.0f, 1.0f);

    long long mismatches = 0;
    for (size_t i = 0; i < pairs.size(); i += 4) {
        alignas(16) float ys[4], xs[4], out[4];
        for (int lane = 0; lane < 4; ++lane) {
            ys[lane] = pairs[i + lane].first;
            xs[lane] = pairs[i + lane].second;
        }
        _mm_store_ps(out, atan2_4(_mm_load_ps(ys), _mm_load_ps(xs)));
        for (int lane = 0; lane < 4; ++lane) {
            const float expected = std::atan2(ys[lane], xs[lane]);
            if (bitsOf(out[lane]) != bitsOf(expected) && mismatches++ < 5)
                ADD_FAILURE() << std::hexfloat << "atan2(" << ys[lane] << ", " << xs[lane] << "): " << out[lane]
                              << ", the library " << expected;
        }
    }
    EXPECT_EQ(mismatches, 0);
}
#endif
