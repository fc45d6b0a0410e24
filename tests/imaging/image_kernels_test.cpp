#include "imaging/box_blur.h"
#include "imaging/multiband_blend.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

using namespace testsupport;

namespace {

std::vector<uint8_t> flatImage(int width, int height, uint8_t value)
{
    std::vector<uint8_t> pixels(size_t(width) * height * 4, value);
    for (size_t i = 0; i < pixels.size(); i += 4)
        pixels[i] = 255;
    return pixels;
}

} // namespace

TEST(BoxBlur, MatchesTheDirectWindowMeanKeepsTheBorderAndWorksInPlace)
{
    // The last plane is narrower than its window: it is copied.
    for (const auto& [width, height, window] : {std::tuple{53, 31, 3}, {53, 31, 5}, {40, 64, 7}, {4, 30, 5}}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height << ", window " << window);
        const QByteArray noise = pseudoRandomBytes(width * height, quint32(7 + window + width));
        const std::vector<uint8_t> src(noise.begin(), noise.end());
        // The rounded mean of the window around each pixel where it fits; the source elsewhere.
        std::vector<uint8_t> expected(src), dst(src.size(), 0), inPlace(src);
        const int r = window / 2;
        for (int y = r; y < height - r; ++y) {
            for (int x = r; x < width - r; ++x) {
                double sum = 0;
                for (int dy = -r; dy <= r; ++dy)
                    for (int dx = -r; dx <= r; ++dx)
                        sum += src[size_t(y + dy) * width + x + dx];
                expected[size_t(y) * width + x] = uint8_t(std::floor(sum / (window * window) + 0.5));
            }
        }
        boxBlurGray(src.data(), dst.data(), width, height, window);
        boxBlurGray(inPlace.data(), inPlace.data(), width, height, window);
        EXPECT_EQ(dst, expected);
        EXPECT_EQ(inPlace, expected);
    }
}

TEST(MultiBandBlend, AStepMaskBecomesASmoothTransitionAndUncoveredPixelsNeverShow)
{
    const int width = 256, height = 64;
    std::vector<uint8_t> out = flatImage(width, height, 40), mask(size_t(width) * height);
    for (size_t i = 0; i < mask.size(); ++i)
        mask[i] = i % width >= width / 2 ? 255 : 0;
    multiBandBlend(out.data(), flatImage(width, height, 200).data(), mask.data(), width, height);
    for (int y = 0; y < height; y += 9) {
        auto at = [&](int x) { return out[(size_t(y) * width + x) * 4 + 2]; };
        EXPECT_EQ(at(0), 40);
        EXPECT_EQ(at(width - 1), 200);
        int largestStep = 0, changed = 0;
        for (int x = 1; x < width; ++x) {
            ASSERT_GE(at(x), at(x - 1)) << "row " << y << " column " << x;
            largestStep = std::max(largestStep, at(x) - at(x - 1));
            changed += at(x) != at(x - 1);
        }
        // A 160-level jump spread over many columns, not a hard seam.
        EXPECT_LE(largestStep, 24) << "row " << y;
        EXPECT_GE(changed, 16) << "row " << y;
    }

    // The second image's right half is white without coverage; the mask asks for both alike.
    out = flatImage(width, height, 90);
    std::vector<uint8_t> second = out;
    for (size_t i = 0; i < second.size(); i += 4)
        if ((i / 4) % width >= width / 2)
            second[i] = 0, second[i + 1] = second[i + 2] = second[i + 3] = 255;
    std::ranges::fill(mask, 128);
    multiBandBlend(out.data(), second.data(), mask.data(), width, height);
    for (size_t i = 1; i < out.size(); i += (i % 4 == 3) ? 2 : 1)
        ASSERT_NEAR(out[i], 90, 1) << "byte " << i;
}
