#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

inline float fromBits(uint32_t b)
{
    float f;
    std::memcpy(&f, &b, sizeof f);
    return f;
}

inline uint32_t bitsOf(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// Floats of both signs, four at a time through fourAtOnce(in, out), against the C library's one at
// a time: every magnitude in [low, high), where the function's branches and thresholds lie, and
// every 61st group of four outside it. Fails with the count of values whose bits differ and the
// lowest such input.
template <typename FourAtOnce, typename Library>
void expectFloatsMatch(FourAtOnce fourAtOnce, Library library, uint32_t low, uint32_t high)
{
    long long mismatches = 0;
    uint32_t firstBad = 0xffffffffu;
    constexpr int64_t kGroups = int64_t(1) << 29;
#pragma omp parallel for schedule(static, 1 << 16) reduction(+ : mismatches)
    for (int64_t g = 0; g < kGroups; ++g) {
        const uint32_t magnitude = static_cast<uint32_t>(g * 4);
        if ((magnitude < low || magnitude >= high) && g % 61 != 0)
            continue;
        for (uint32_t sign : {0u, 0x80000000u}) {
            alignas(16) float in[4], out[4];
            for (uint32_t i = 0; i < 4; ++i)
                in[i] = fromBits((magnitude + i) | sign);
            fourAtOnce(in, out);
            for (int i = 0; i < 4; ++i) {
                if (bitsOf(out[i]) == bitsOf(library(in[i])))
                    continue;
                ++mismatches;
#pragma omp critical
                firstBad = std::min(firstBad, bitsOf(in[i]));
            }
        }
    }
    EXPECT_EQ(mismatches, 0) << "lowest input that differs: " << std::hexfloat << fromBits(firstBad);
}
