#include "numerics/sine_cosine4.h"
#include "float_sweep.h"

#include <cmath>

// From below 2^-12 (where sin(x) rounds to x and cos(x) to 1) to past 120, where the library
// changes its reduction; the count of values at once varies so that the tail is covered too.
TEST(SineCosine4, SinAndCosAreTheLibrarysToTheBit)
{
    expectFloatsMatch([](const float* in, float* out) { sinFloats(in, out, 4); },
                      [](float x) { return std::sin(x); }, 0x39000000, 0x43000000);
    expectFloatsMatch([](const float* in, float* out) { cosFloats(in, out, 4); },
                      [](float x) { return std::cos(x); }, 0x39000000, 0x43000000);
    const float values[7] = {0.5f, -2.0f, 1e-5f, 130.0f, INFINITY, NAN, 3.1415927f};
    float sines[7], cosines[7];
    sinFloats(values, sines, 7);
    cosFloats(values, cosines, 7);
    for (int k = 0; k < 7; ++k) {
        EXPECT_EQ(bitsOf(sines[k]), bitsOf(std::sin(values[k]))) << values[k];
        EXPECT_EQ(bitsOf(cosines[k]), bitsOf(std::cos(values[k]))) << values[k];
    }
}
