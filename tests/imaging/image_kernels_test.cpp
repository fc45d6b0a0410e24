#include "imaging/box_blur.h"
#include "imaging/equirect_strip.h"
#include "imaging/rotation.h"
#include "imaging/multiband_blend.h"
#include "support/test_support.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
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

// Two images of noise, each with holes in its coverage, under a mask that is 0 on the left, 255 on
// the right and mixed between (a band that widens towards the last rows, as at the poles), with a
// few stray values on either side.
std::string blendDigest(int width, int height, quint32 seed)
{
    const QByteArray noise = pseudoRandomBytes(qsizetype(width) * height * 10, seed);
    auto byte = [&](size_t i) { return uint8_t(noise[qsizetype(i)]); };
    const size_t pixels = size_t(width) * height;
    std::vector<uint8_t> first(pixels * 4), second(pixels * 4), mask(pixels);
    for (size_t i = 0; i < pixels; ++i) {
        for (int ch = 1; ch < 4; ++ch)
            first[i * 4 + ch] = byte(i * 10 + ch), second[i * 4 + ch] = byte(i * 10 + 3 + ch);
        first[i * 4] = byte(i * 10 + 7) < 6 ? 0 : 255;
        second[i * 4] = byte(i * 10 + 8) < 6 ? 0 : 255;
        const int x = int(i % width), y = int(i / width);
        const int half = 2 + width * y / (3 * height) + (y % 7);
        const int from = width / 2 - half, to = width / 2 + half;
        const uint8_t stray = byte(i * 10 + 9);
        mask[i] = x < from ? (stray == 1 ? 40 : 0) : x >= to ? (stray == 2 ? 200 : 255) : uint8_t(255 * (x - from) / (to - from));
    }
    multiBandBlend(first.data(), second.data(), mask.data(), width, height);
    return QCryptographicHash::hash(QByteArrayView(first.data(), qsizetype(first.size())), QCryptographicHash::Sha1)
        .toHex()
        .toStdString();
}

// These digests pin the blend's output as it stood before its speed work, at sizes from a single
// pixel to a full-size seam band: a faster blend must reproduce every byte.
TEST(MultiBandBlend, KeepsEveryByteOfItsPinnedOutputs)
{
    const std::tuple<int, int, quint32, const char*> cases[] = {
        {1, 1, 1u, "cce7d41e9c1e3097ea21e0e9fff4ce9bdab60ca2"},
        {2, 3, 2u, "4e18aba80005a862cbfe0ac827825023c349d1d9"},
        {5, 2, 3u, "38c087db728dbf2ee92acc518291ca2c48ab0885"},
        {17, 9, 4u, "6e436558f7a57a91c35b483cad12241b2a8077c5"},
        {64, 64, 5u, "efd6f709440b7993f269ffe43ccf0355746a737e"},
        {225, 900, 6u, "9eb0968c33963f45740d5c156d59bf1bfdbfce87"},
        {900, 3600, 7u, "2684c2e62b7124af2ef3f1c2161962a4a1b3dd96"},
        {333, 97, 8u, "16b5f632d878ac78cda8ac2472735a90c3be4823"},
    };
    for (const auto& [width, height, seed, digest] : cases)
        EXPECT_EQ(blendDigest(width, height, seed), digest) << width << " x " << height;
}

TEST(Rotation, ProductIsRightWhenTheOutputIsAnInput)
{
    float a[9], b[9], expected[9];
    rotationFromAngles(0.3f, -0.2f, 0.7f, a);
    rotationFromAngles(-1.1f, 0.4f, 0.25f, b);
    mul3x3(a, b, expected);
    float left[9], right[9];
    std::copy(a, a + 9, left);
    std::copy(b, b + 9, right);
    mul3x3(left, b, left);
    mul3x3(a, right, right);
    for (int k = 0; k < 9; ++k) {
        EXPECT_EQ(left[k], expected[k]) << k;
        EXPECT_EQ(right[k], expected[k]) << k;
    }
    double ad[9], bd[9], ed[9];
    rotationFromAnglesDouble(0.3, -0.2, 0.7, ad);
    rotationFromAnglesDouble(-1.1, 0.4, 0.25, bd);
    multiplyMat3(ad, bd, ed);
    multiplyMat3(ad, bd, ad);
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(ad[k], ed[k]) << k;
}

TEST(EquirectStrip, LevelledStripLooksUpTheSourceAndClearsFirst)
{
    // A source whose green channel tells the row band: 0 above the horizon, 200 below.
    const int sw = 360, sh = 180;
    std::vector<uint8_t> source(size_t(sw) * sh * 3, 0);
    for (int y = sh / 2; y < sh; ++y)
        for (int x = 0; x < sw; ++x)
            source[(size_t(y) * sw + x) * 3 + 1] = 200;
    const int w = 360, h = 40;
    std::vector<uint8_t> strip(size_t(w) * h, 77);
    ImageParams level;
    renderEquirectStripGray(source.data(), nullptr, sw, sh, w, h, level, strip.data());
    EXPECT_EQ(strip[size_t(2) * w + 10], 0) << "above the horizon";
    EXPECT_EQ(strip[size_t(h - 3) * w + 10], 200) << "below it";
    // A pitch of 10 degrees tilts the horizon: one side of the strip sees sky lower down.
    ImageParams tilted;
    tilted[ImageParams::PITCH_GLOBAL] = 0.17f;
    renderEquirectStripGray(source.data(), nullptr, sw, sh, w, h, tilted, strip.data());
    int below[2] = {0, 0};
    for (int side = 0; side < 2; ++side)
        for (int r = 0; r < h; ++r)
            below[side] += strip[size_t(r) * w + (side ? 270 : 90)] == 200;
    EXPECT_NE(below[0], below[1]);
    std::vector<uint8_t> none(size_t(w) * h, 77);
    renderEquirectStripGray(nullptr, nullptr, sw, sh, w, h, level, none.data());
    EXPECT_TRUE(std::all_of(none.begin(), none.end(), [](uint8_t v) { return v == 0; }));
}
