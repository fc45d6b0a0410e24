#include "pano/multiband_blend.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {
// Pixels of (coverage, R, G, B) with random colours.
std::vector<uint8_t> texture(int width, int height, quint32 seed, uint8_t coverage = 255)
{
    const QByteArray bytes = testsupport::pseudoRandomBytes(static_cast<qsizetype>(width) * height * 4, seed);
    std::vector<uint8_t> pixels(bytes.begin(), bytes.end());
    for (size_t i = 0; i < pixels.size(); i += 4)
        pixels[i] = coverage;
    return pixels;
}

std::vector<uint8_t> flatImage(int width, int height, uint8_t value)
{
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4, value);
    for (size_t i = 0; i < pixels.size(); i += 4)
        pixels[i] = 255;
    return pixels;
}

std::vector<uint8_t> stepMask(int width, int height)
{
    std::vector<uint8_t> mask(static_cast<size_t>(width) * height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = width / 2; x < width; ++x)
            mask[static_cast<size_t>(y) * width + x] = 255;
    return mask;
}
} // namespace

TEST(MultiBandBlend, MaskZeroKeepsTheFirstImageAndFullMaskTakesTheSecondExactly)
{
    // Odd sizes on purpose: every pyramid level has a ragged edge.
    const int width = 225, height = 451;
    const std::vector<uint8_t> a = texture(width, height, 1), b = texture(width, height, 2);
    for (uint8_t m : {uint8_t(0), uint8_t(255)}) {
        std::vector<uint8_t> out(a);
        const std::vector<uint8_t> mask(static_cast<size_t>(width) * height, m);
        multiBandBlend(out.data(), b.data(), mask.data(), width, height);
        const std::vector<uint8_t>& expected = m == 0 ? a : b;
        for (size_t i = 0; i < out.size(); ++i) {
            if (i % 4 == 0)
                ASSERT_EQ(out[i], a[i]) << "coverage byte " << i;
            else
                ASSERT_EQ(out[i], expected[i]) << "mask " << int(m) << " byte " << i;
        }
    }
}

TEST(MultiBandBlend, AnEvenMaskIsThePixelwiseWeightedAverage)
{
    // With one weight everywhere every level blends alike, so the pyramid must collapse back to
    // the plain average, detail included.
    const int width = 130, height = 97;
    const std::vector<uint8_t> a = texture(width, height, 3), b = texture(width, height, 4);
    std::vector<uint8_t> out(a);
    const std::vector<uint8_t> mask(static_cast<size_t>(width) * height, 64);
    multiBandBlend(out.data(), b.data(), mask.data(), width, height);
    for (size_t i = 0; i < out.size(); ++i) {
        if (i % 4 == 0)
            continue;
        const double expected = (a[i] * (255.0 - 64) + b[i] * 64.0) / 255.0;
        ASSERT_NEAR(out[i], expected, 1.0) << "byte " << i;
    }
}

TEST(MultiBandBlend, AStepMaskBecomesASmoothTransitionWithoutOvershoot)
{
    const int width = 256, height = 64;
    std::vector<uint8_t> out = flatImage(width, height, 40);
    const std::vector<uint8_t> second = flatImage(width, height, 200);
    const std::vector<uint8_t> mask = stepMask(width, height);
    multiBandBlend(out.data(), second.data(), mask.data(), width, height);
    for (int y = 0; y < height; y += 9) {
        auto at = [&](int x) { return out[(static_cast<size_t>(y) * width + x) * 4 + 2]; };
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
}

TEST(MultiBandBlend, PixelsOfNoCoverageNeverShow)
{
    // The second image holds garbage without coverage on its right part; even where the mask asks
    // for the second image only the covered image may show there.
    const int width = 128, height = 80;
    std::vector<uint8_t> out = flatImage(width, height, 90);
    std::vector<uint8_t> second = flatImage(width, height, 90);
    for (int y = 0; y < height; ++y)
        for (int x = 64; x < width; ++x) {
            uint8_t* p = second.data() + (static_cast<size_t>(y) * width + x) * 4;
            p[0] = 0;
            p[1] = p[2] = p[3] = 255;
        }
    const std::vector<uint8_t> mask(static_cast<size_t>(width) * height, 128);
    multiBandBlend(out.data(), second.data(), mask.data(), width, height);
    for (size_t i = 0; i < out.size(); ++i) {
        if (i % 4 != 0) {
            ASSERT_NEAR(out[i], 90, 1) << "byte " << i;
        }
    }
}
