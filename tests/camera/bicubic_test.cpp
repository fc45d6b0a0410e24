#include "camera/bicubic.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {
// A 4 x 4 RGB block with value(column, row) in every channel.
template <typename F>
void fillBlock(uint8_t block[48], F value)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            for (int ch = 0; ch < 3; ++ch)
                block[(r * 4 + c) * 3 + ch] = static_cast<uint8_t>(value(c, r) + ch);
}
} // namespace

TEST(Bicubic, TableWeightsSumToOneAndHitPixelsAtTheEnds)
{
    const BicubicTable& t = bicubicTable();
    for (int i = 0; i < 256; ++i)
        EXPECT_NEAR(t.weights[i][0] + t.weights[i][1] + t.weights[i][2] + t.weights[i][3], 1.0f, 1e-5f) << i;
    EXPECT_EQ(t.weights[0][2], 1.0f);
    EXPECT_EQ(t.weights[0][0] + std::fabs(t.weights[0][1]) + std::fabs(t.weights[0][3]), 0.0f);
    EXPECT_EQ(t.weights[255][1], 1.0f);
    // Keys' cubic convolution kernel with a = -0.5, entry i at u = i / 255.
    auto keys = [](double x) {
        x = std::fabs(x);
        return x <= 1 ? 1.5 * x * x * x - 2.5 * x * x + 1 : (x < 2 ? -0.5 * x * x * x + 2.5 * x * x - 4 * x + 2 : 0.0);
    };
    for (int i : {1, 64, 128, 200}) {
        const double u = i / 255.0;
        EXPECT_NEAR(t.weights[i][0], keys(2 - u), 1e-6) << i;
        EXPECT_NEAR(t.weights[i][1], keys(1 - u), 1e-6) << i;
        EXPECT_NEAR(t.weights[i][2], keys(u), 1e-6) << i;
        EXPECT_NEAR(t.weights[i][3], keys(1 + u), 1e-6) << i;
    }
}

TEST(Bicubic, OvershootAtEdgesIsClampedNotWrapped)
{
    uint8_t block[48];
    uint8_t rgb[3];
    fillBlock(block, [](int c, int) { return c == 3 ? 250 : 0; });
    sampleBicubic(0.5f, 1.0f, block, 12, rgb); // undershoot below 0
    EXPECT_EQ(rgb[0], 0);
    fillBlock(block, [](int c, int) { return c == 3 ? 0 : 250; });
    sampleBicubic(0.5f, 1.0f, block, 12, rgb); // overshoot above 255 in the last channel
    EXPECT_EQ(rgb[2], 255);
}

TEST(Bicubic, EachChannelIsTheRowWeightedSumOfColumnWeightedSumsInThatOrder)
{
    const QByteArray noise = testsupport::pseudoRandomBytes(4 * 4 * 3 * 200, 11);
    const BicubicTable& t = bicubicTable();
    for (int n = 0; n < 200; ++n) {
        const auto* block = reinterpret_cast<const uint8_t*>(noise.constData()) + n * 48;
        const float dx = static_cast<float>((n * 37) % 101) / 100.0f;
        const float dy = static_cast<float>((n * 53) % 97) / 96.0f;
        const float* wx = t.weights[static_cast<int>(dx * 255.0f + 0.5f)];
        const float* wy = t.weights[static_cast<int>(dy * 255.0f + 0.5f)];
        uint8_t rgb[3];
        sampleBicubic(dx, dy, block, 12, rgb);
        for (int ch = 0; ch < 3; ++ch) {
            float sum = 0.0f;
            for (int r = 0; r < 4; ++r) {
                const uint8_t* p = block + r * 12;
                const float across = wx[0] * p[ch] + wx[1] * p[3 + ch] + wx[2] * p[6 + ch] + wx[3] * p[9 + ch];
                sum += wy[r] * across;
            }
            const float clamped = std::min(std::max(sum + 0.5f, 0.0f), 255.0f);
            ASSERT_EQ(rgb[ch], static_cast<uint8_t>(clamped)) << "block " << n << " channel " << ch;
        }
    }
}
