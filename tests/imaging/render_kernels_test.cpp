#include "imaging/bicubic.h"
#include "imaging/blend_plan.h"
#include "imaging/multiband_blend.h"
#include "imaging/pano_directions.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>
#include <vector>

using namespace testsupport;

namespace {
// Equal to the bit, or both not a number.
bool same(float a, float b)
{
    return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b) || (std::isnan(a) && std::isnan(b));
}

ImageParams levelled(float roll, float pitch)
{
    ImageParams p;
    p[ImageParams::ROLL_GLOBAL] = roll;
    p[ImageParams::PITCH_GLOBAL] = pitch;
    return p;
}
} // namespace

TEST(PanoDirections, ABlockOfColumnsGetsThePositionsOfItsColumnsOneByOne)
{
    const float inf = std::numeric_limits<float>::infinity();
    for (const auto& [roll, pitch] : {std::pair{0.0f, 0.0f}, {0.035f, -0.05f}, {1e7f, -3.0f}, {inf, 0.0f}}) {
        SCOPED_TRACE(testing::Message() << "roll " << roll << ", pitch " << pitch);
        const int width = 1800, height = 900;
        const PanoDirections directions(width, height, 1920, levelled(roll, pitch));
        // Whole blocks, a single column, the last columns and blocks that end off a multiple of four.
        for (const auto& [begin, count] : {std::pair{0, 64}, {5, 1}, {1795, 5}, {101, 63}, {1737, 63}}) {
            for (int row : {0, 1, 300, 449, 450, 451, 898, 899}) {
                float x[PanoDirections::kBlock], y[PanoDirections::kBlock];
                directions.lensPositions(row, begin, count, x, y);
                for (int k = 0; k < count; ++k) {
                    float ex = 0, ey = 0;
                    directions.lensPosition(row, begin + k, ex, ey);
                    ASSERT_TRUE(same(x[k], ex) && same(y[k], ey))
                        << "row " << row << " column " << begin + k << ": " << x[k] << ", " << y[k] << " against " << ex
                        << ", " << ey;
                }
            }
        }
    }
}

TEST(Bicubic, SamplesTakenTogetherAreTheSamplesTakenOneByOne)
{
    // Noise with runs of 0 and 255, so that sums fall outside 0..255 and are clamped.
    const int width = 96, height = 24, stride = width * 3;
    QByteArray image = pseudoRandomBytes(qsizetype(stride) * height, 91u);
    for (qsizetype i = 0; i < image.size(); i += 37)
        image[i] = char(i % 2 ? 255 : 0);
    const auto* pixels = reinterpret_cast<const uint8_t*>(image.constData());
    // Enough samples that a sum taken in another order would round one of them differently.
    const int most = 400001;
    const QByteArray picks = pseudoRandomBytes(4 * most, 92u);
    const BicubicTable& table = bicubicTable();
    for (int count : {0, 1, 2, 7, most}) {
        SCOPED_TRACE(testing::Message() << count << " samples");
        std::vector<uint8_t> together(size_t(count) * 3, 0), alone(together.size(), 1);
        std::vector<BicubicSample> samples;
        for (int i = 0; i < count; ++i) {
            const auto pick = [&](int j) { return uint8_t(picks[qsizetype(i) * 4 + j]); };
            // Blocks anywhere with 16 bytes behind each of their rows.
            const int column = pick(0) % (width - 6), row = pick(1) % (height - 3);
            const uint8_t* block = pixels + size_t(row) * stride + size_t(column) * 3;
            samples.push_back({block, table.weights[pick(2)], table.weights[pick(3)], together.data() + i * 3});
            sampleBicubicWeighted(table.weights[pick(2)], table.weights[pick(3)], block, stride, alone.data() + i * 3);
        }
        sampleBicubicMany(samples.data(), count, stride);
        EXPECT_EQ(together, alone);
    }
    // The distances name the table rows the weighted form takes.
    uint8_t byDistance[3], byRow[3];
    sampleBicubic(0.3f, 0.8f, pixels + stride + 3, stride, byDistance);
    sampleBicubicWeighted(table.weights[77], table.weights[204], pixels + stride + 3, stride, byRow);
    EXPECT_EQ(std::vector<uint8_t>(byDistance, byDistance + 3), std::vector<uint8_t>(byRow, byRow + 3));
}

// The blend worked out for every pixel of every level, straight from its definition, in the
// operations and order the blend uses.
class WholePyramidBlend {
public:
    static void blend(uint8_t* first, const uint8_t* second, const uint8_t* mask, int width, int height)
    {
        std::vector<Plane> g{Plane(width, height)};
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const size_t p = (size_t(y) * width + x) * 4;
                float* q = g[0].at(x, y);
                if (first[p] == 0 && second[p] == 0)
                    continue;
                const uint8_t* a = first[p] != 0 ? first : second;
                const uint8_t* b = second[p] != 0 ? second : first;
                for (int ch = 0; ch < 3; ++ch)
                    q[ch] = float(b[p + 1 + ch]) - float(a[p + 1 + ch]);
                q[3] = BlendPlan::secondWeight(first[p], second[p], mask[size_t(y) * width + x]);
            }
        }
        int side = std::min(width, height);
        while (g.size() < 6 && side >= 2) {
            side = (side + 1) / 2;
            g.push_back(reduce(g.back()));
        }
        Plane b = g.back();
        for (int y = 0; y < b.height; ++y)
            for (int x = 0; x < b.width; ++x)
                for (int ch = 0; ch < 4; ++ch)
                    b.at(x, y)[ch] = ch < 3 ? g.back().at(x, y)[ch] * g.back().at(x, y)[3] : 0.0f;
        for (size_t k = g.size() - 1; k > 0; --k) {
            const Plane up = expand(g[k], g[k - 1].width, g[k - 1].height), upB = expand(b, up.width, up.height);
            Plane next(up.width, up.height);
            for (int y = 0; y < up.height; ++y)
                for (int x = 0; x < up.width; ++x)
                    for (int ch = 0; ch < 3; ++ch)
                        next.at(x, y)[ch] = (g[k - 1].at(x, y)[ch] - up.at(x, y)[ch]) * g[k - 1].at(x, y)[3] + upB.at(x, y)[ch];
            b = next;
        }
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const size_t p = (size_t(y) * width + x) * 4;
                if (first[p] == 0 && second[p] == 0)
                    continue;
                const uint8_t* base = first[p] != 0 ? first : second;
                for (int ch = 0; ch < 3; ++ch)
                    first[p + 1 + ch] = uint8_t(std::clamp(base[p + 1 + ch] + b.at(x, y)[ch] + 0.5f, 0.0f, 255.0f));
            }
        }
    }

private:
    static constexpr float kTaps[5] = {0.0625f, 0.25f, 0.375f, 0.25f, 0.0625f};
    struct Plane {
        Plane(int w, int h) : width(w), height(h), values(size_t(w) * h * 4, 0.0f) {}
        float* at(int x, int y) { return &values[(size_t(y) * width + x) * 4]; }
        const float* at(int x, int y) const { return &values[(size_t(y) * width + x) * 4]; }
        int width, height;
        std::vector<float> values;
    };
    static int mirror(int i, int n)
    {
        while (n > 1 && (i < 0 || i >= n))
            i = i < 0 ? -i : 2 * n - 2 - i;
        return n > 1 ? i : 0;
    }
    // Horizontal then vertical 5-tap filter at every second sample, sums from zero in tap order.
    static Plane reduce(const Plane& fine)
    {
        Plane across((fine.width + 1) / 2, fine.height), coarse(across.width, (fine.height + 1) / 2);
        for (int y = 0; y < fine.height; ++y)
            for (int x = 0; x < across.width; ++x)
                for (int k = 0; k < 5; ++k)
                    for (int ch = 0; ch < 4; ++ch)
                        across.at(x, y)[ch] += kTaps[k] * fine.at(mirror(2 * x + k - 2, fine.width), y)[ch];
        for (int y = 0; y < coarse.height; ++y)
            for (int x = 0; x < coarse.width; ++x)
                for (int k = 0; k < 5; ++k)
                    for (int ch = 0; ch < 4; ++ch)
                        coarse.at(x, y)[ch] += kTaps[k] * across.at(x, mirror(2 * y + k - 2, fine.height))[ch];
        return coarse;
    }
    // Zeros between the coarse samples and the filter times 2, each way.
    static Plane expand(const Plane& coarse, int width, int height)
    {
        Plane across(width, coarse.height), fine(width, height);
        for (int y = 0; y < coarse.height; ++y) {
            for (int x = 0; x < width; ++x) {
                float sum[4] = {0, 0, 0, 0};
                if (x >= 2 && x + 2 < width) {
                    const int c = (x & 1) == 0 ? x / 2 - 1 : x / 2;
                    for (int ch = 0; ch < 4; ++ch)
                        sum[ch] = (x & 1) == 0 ? kTaps[0] * coarse.at(c, y)[ch] + kTaps[2] * coarse.at(c + 1, y)[ch]
                                                     + kTaps[4] * coarse.at(c + 2, y)[ch]
                                               : kTaps[1] * coarse.at(c, y)[ch] + kTaps[3] * coarse.at(c + 1, y)[ch];
                } else {
                    for (int k = 0; k < 5; ++k) {
                        const int at = mirror(x + k - 2, width);
                        for (int ch = 0; ch < 4 && (at & 1) == 0; ++ch)
                            sum[ch] += kTaps[k] * coarse.at(std::min(at / 2, coarse.width - 1), y)[ch];
                    }
                }
                for (int ch = 0; ch < 4; ++ch)
                    across.at(x, y)[ch] = 2.0f * sum[ch];
            }
        }
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                float sum[4] = {0, 0, 0, 0};
                for (int k = 0; k < 5; ++k) {
                    const int at = mirror(y + k - 2, height);
                    for (int ch = 0; ch < 4 && (at & 1) == 0; ++ch)
                        sum[ch] += 2.0f * kTaps[k] * across.at(x, at / 2)[ch];
                }
                std::copy(sum, sum + 4, fine.at(x, y));
            }
        }
        return fine;
    }
};

TEST(MultiBandBlend, GivesWhatTheWholePyramidGivesWhereverItLeavesPixelsToOneImage)
{
    // Masks whose weight-0 runs end next to weight 254/255 and whose weight-1 runs next to 1/255,
    // over colours of 0 or 255 at random: detail as strong as it gets at every level, next to
    // every end of a run.
    for (const auto& [width, height, seed] : {std::tuple{300, 200, 1u}, {97, 131, 2u}, {64, 33, 3u}, {5, 300, 4u}}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        const size_t pixels = size_t(width) * height;
        const QByteArray noise = pseudoRandomBytes(qsizetype(pixels) * 8 + height * 2, seed);
        auto random = [&](size_t i) { return uint8_t(noise[qsizetype(i)]); };
        std::vector<uint8_t> first(pixels * 4), second(pixels * 4), mask(pixels);
        for (int y = 0; y < height; ++y) {
            const int from = random(pixels * 8 + y) % (width / 2 + 1);
            const int to = std::min(width, from + 2 + random(pixels * 8 + height + y) % 9);
            for (int x = 0; x < width; ++x) {
                const size_t i = size_t(y) * width + x;
                mask[i] = x < from ? 0 : x >= to ? 255 : x == from ? 254 : x == to - 1 ? 1 : random(i * 8);
                first[i * 4] = random(i * 8 + 1) < 3 ? 0 : 255;
                second[i * 4] = random(i * 8 + 2) < 3 ? 0 : 255;
                for (int ch = 1; ch < 4; ++ch) {
                    first[i * 4 + ch] = random(i * 8 + 2 + ch) & 1 ? 255 : 0;
                    second[i * 4 + ch] = random(i * 8 + 5 + ch / 2) & ch ? 255 : 0;
                }
            }
        }
        std::vector<uint8_t> expected = first;
        WholePyramidBlend::blend(expected.data(), second.data(), mask.data(), width, height);
        multiBandBlend(first.data(), second.data(), mask.data(), width, height);
        EXPECT_EQ(first, expected);
    }
}

// A seam band's mask: 0 on the left, 255 on the right, a ramp between that widens down the rows
// to the whole width, as towards a pole.
std::vector<uint8_t> seamMask(int width, int height)
{
    std::vector<uint8_t> mask(size_t(width) * height);
    for (int y = 0; y < height; ++y) {
        const int half = 2 + (width / 2) * y / std::max(1, height - 1);
        for (int x = 0; x < width; ++x) {
            const int from = width / 2 - half, to = width / 2 + half;
            mask[size_t(y) * width + x] = x < from ? 0 : x >= to ? 255 : uint8_t(255 * (x - from) / (to - from));
        }
    }
    return mask;
}

TEST(MultiBandBlend, UnderAPlanFromTheMaskEachImageIsReadOnlyOnItsSideOfTheSpanBothAreReadIn)
{
    for (const auto& [width, height] : {std::pair{900, 1200}, {225, 300}, {64, 64}, {7, 5}, {1, 1}}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        const size_t pixels = size_t(width) * height;
        const std::vector<uint8_t> mask = seamMask(width, height);
        const QByteArray noise = pseudoRandomBytes(qsizetype(pixels) * 16, quint32(width + height));
        std::vector<uint8_t> first(noise.begin(), noise.begin() + qsizetype(pixels) * 4);
        std::vector<uint8_t> second(noise.begin() + qsizetype(pixels) * 4, noise.begin() + qsizetype(pixels) * 8);
        for (size_t i = 0; i < pixels; ++i)
            first[i * 4] = second[i * 4] = 255;
        std::vector<uint8_t> expected = first;
        multiBandBlend(expected.data(), second.data(), mask.data(), width, height);

        // Outside the span the image of the other side holds noise of any coverage.
        const BlendPlan plan = BlendPlan::forMask(mask.data(), width, height);
        std::vector<uint8_t> planned = first, other = second;
        int narrowRows = 0;
        for (int y = 0; y < height; ++y) {
            const ColumnSpan both = plan.bothImages(y), worked = plan.blended(0, y);
            ASSERT_TRUE(both.begin <= worked.begin && worked.end <= both.end) << "row " << y;
            narrowRows += both.end - both.begin < 3 * width / 4;
            for (int x = 0; x < width; ++x) {
                const size_t p = (size_t(y) * width + x) * 4;
                for (int b = 0; b < 4; ++b) {
                    if (x < both.begin)
                        other[p + b] = uint8_t(noise[qsizetype(pixels * 8 + p + b)]);
                    if (x >= both.end)
                        planned[p + b] = uint8_t(noise[qsizetype(pixels * 12 + p + b)]);
                }
            }
        }
        std::vector<uint8_t> out(pixels * 3);
        const BlendJob job{planned.data(), other.data(), out.data(), 3, size_t(width) * 3};
        multiBandBlend(&job, 1, mask.data(), plan);
        for (size_t i = 0; i < pixels; ++i) {
            for (int ch = 0; ch < 3; ++ch)
                ASSERT_EQ(out[i * 3 + ch], expected[i * 4 + 1 + ch]) << "pixel " << i % width << ", " << i / width;
        }
        // Where the ramp is narrow, the plan leaves a good part of the row to one image at either end.
        if (width >= 900) {
            EXPECT_GT(narrowRows, height / 8);
        }
    }
}
