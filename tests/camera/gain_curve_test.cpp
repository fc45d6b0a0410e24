#include "camera/gain_curve.h"
#include "support/two_lens_scan_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {
std::vector<uint8_t> allBytes()
{
    std::vector<uint8_t> rgb(256 * 3);
    for (int n = 0; n < 256; ++n)
        rgb[n * 3] = rgb[n * 3 + 1] = rgb[n * 3 + 2] = static_cast<uint8_t>(n);
    return rgb;
}
} // namespace

TEST(GainCurves, EachChannelFollowsItsOwnCurveRoundedToTheNearestByte)
{
    std::vector<uint8_t> rgb = allBytes();
    const double gains[3] = {0.42, 0.5, 0.615};
    applyGainCurves(rgb.data(), 256, static_cast<float>(gains[0]), static_cast<float>(gains[1]),
                    static_cast<float>(gains[2]));
    for (int n = 0; n < 256; ++n) {
        for (int ch = 0; ch < 3; ++ch) {
            // The curve in double precision, independent of the product's float code.
            const double expected = testsupport::gainCurveValue(gains[ch], n / 255.0) * 255.0;
            ASSERT_LE(std::fabs(rgb[n * 3 + ch] - expected), 0.5 + 1e-3) << "byte " << n << " channel " << ch;
        }
        ASSERT_EQ(rgb[n * 3 + 1], n) << "0.5 is the identity";
    }
}

TEST(GainCurves, GainsWithoutACurveLeaveTheBytesAsTheyAre)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float g : {0.0f, 1.0f, nan, inf, -inf}) {
        std::vector<uint8_t> rgb = allBytes();
        applyGainCurves(rgb.data(), 256, g, g, g);
        EXPECT_EQ(rgb, allBytes()) << g;
    }
}
