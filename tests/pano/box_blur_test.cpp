#include "pano/box_blur.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {
// The rounded mean of the window around each pixel where it fits; the source elsewhere.
std::vector<uint8_t> directBlur(const std::vector<uint8_t>& src, int width, int height, int window)
{
    const int r = window / 2;
    std::vector<uint8_t> out(src);
    for (int y = r; y < height - r; ++y) {
        for (int x = r; x < width - r; ++x) {
            double sum = 0;
            for (int dy = -r; dy <= r; ++dy)
                for (int dx = -r; dx <= r; ++dx)
                    sum += src[static_cast<size_t>(y + dy) * width + x + dx];
            out[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(std::floor(sum / (window * window) + 0.5));
        }
    }
    return out;
}

std::vector<uint8_t> noise(int count, quint32 seed)
{
    const QByteArray bytes = testsupport::pseudoRandomBytes(count, seed);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}
} // namespace

TEST(BoxBlur, MatchesTheDirectWindowMeanAndKeepsTheBorder)
{
    for (int window : {3, 5, 7}) {
        const int width = 53, height = 31;
        const std::vector<uint8_t> src = noise(width * height, 7u + window);
        std::vector<uint8_t> dst(src.size(), 0);
        boxBlurGray(src.data(), dst.data(), width, height, window);
        EXPECT_EQ(dst, directBlur(src, width, height, window)) << "window " << window;
    }
}

TEST(BoxBlur, BlursInPlaceLikeIntoASecondBuffer)
{
    const int width = 40, height = 64;
    std::vector<uint8_t> image = noise(width * height, 99);
    std::vector<uint8_t> separate(image.size(), 0);
    boxBlurGray(image.data(), separate.data(), width, height, 5);
    boxBlurGray(image.data(), image.data(), width, height, 5);
    EXPECT_EQ(image, separate);
}

TEST(BoxBlur, PlanesNarrowerThanTheWindowAreCopied)
{
    const std::vector<uint8_t> src = noise(4 * 30, 3);
    std::vector<uint8_t> dst(src.size(), 0);
    boxBlurGray(src.data(), dst.data(), 4, 30, 5);
    EXPECT_EQ(dst, src);
}
