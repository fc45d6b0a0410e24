#include "imaging/chromatic_aberration.h"
#include "imaging/hdr_merge.h"
#include "imaging/square_crop.h"
#include "support/test_support.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <tuple>

using namespace testsupport;

namespace {

// A size x size RGB image whose pixels come from f(x, y, channel).
QByteArray image(int width, int height, const std::function<int(int, int, int)>& f)
{
    QByteArray rgb(qsizetype(width) * height * 3, '\0');
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                rgb[(qsizetype(y) * width + x) * 3 + c] = char(std::clamp(f(x, y, c), 0, 255));
    return rgb;
}

int at(const QByteArray& rgb, int width, int x, int y, int c)
{
    return uint8_t(rgb[(qsizetype(y) * width + x) * 3 + c]);
}

// Mean and standard deviation of one channel over a block of columns.
std::pair<double, double> statistics(const QByteArray& rgb, int size, int fromX, int toX, int c)
{
    double sum = 0, squares = 0;
    int n = 0;
    for (int y = 4; y < size - 4; ++y)
        for (int x = fromX; x < toX; ++x, ++n) {
            const double v = at(rgb, size, x, y, c);
            sum += v;
            squares += v * v;
        }
    const double mean = sum / n;
    return {mean, std::sqrt(std::max(squares / n - mean * mean, 0.0))};
}

// Where a channel's light lies: its brightness-weighted mean position.
std::pair<double, double> centroid(const QByteArray& rgb, int width, int height, int c)
{
    double sx = 0, sy = 0, total = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double v = at(rgb, width, x, y, c);
            sx += v * x;
            sy += v * y;
            total += v;
        }
    return {sx / total, sy / total};
}

} // namespace

TEST(MergeHdr, ThreeEqualExposuresGiveTheImageBackAtEveryDepth)
{
    for (const auto& [size, levels, contrast] : {std::tuple{300, -1, true}, {97, -1, false}, {64, 2, true}, {33, 0, true},
                                                 {5, -1, true}, {1, -1, false}}) {
        SCOPED_TRACE(testing::Message() << size << " levels " << levels << " contrast " << contrast);
        const QByteArray noise = pseudoRandomBytes(qsizetype(size) * size * 3, quint32(size * 31 + levels));
        QByteArray out;
        mergeHdr(noise, noise, noise, out, size, contrast, 0.2f, levels);
        ASSERT_EQ(out.size(), noise.size());
        int worst = 0;
        for (qsizetype i = 0; i < out.size(); ++i)
            worst = std::max(worst, std::abs(int(uint8_t(out[i])) - int(uint8_t(noise[i]))));
        EXPECT_LE(worst, 1);
    }
}

TEST(MergeHdr, EachPartOfThePictureComesFromTheExposureThatShowsIt)
{
    // Left half: a bright wall the long exposure clips to white; right half: a dark corner the
    // short exposure crushes to black. Both carry a coloured checker texture where exposed.
    const int size = 128;
    auto texture = [](int x, int y) { return ((x / 4 + y / 4) % 2) ? 28 : -28; };
    auto colour = [](int v, int c) { return c == 0 ? v : c == 1 ? v * 4 / 5 : v * 3 / 5; };
    const QByteArray dark = image(size, size, [&](int x, int y, int c) {
        return x < size / 2 ? colour(140 + texture(x, y), c) : colour(6, c);
    });
    const QByteArray middle = image(size, size, [&](int x, int y, int c) {
        return x < size / 2 ? colour(235 + texture(x, y) / 4, c) : colour(60 + texture(x, y) / 3, c);
    });
    const QByteArray bright = image(size, size, [&](int x, int y, int c) {
        return x < size / 2 ? 253 : colour(130 + texture(x, y), c);
    });
    for (bool contrast : {true, false}) {
        SCOPED_TRACE(contrast ? "with contrast" : "without contrast");
        QByteArray fused;
        mergeHdr(dark, middle, bright, fused, size, contrast, 0.2f, -1);
        // Every pixel between the darkest and the brightest exposure, up to the pyramid's ringing.
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int lo = std::min({at(dark, size, x, y, c), at(middle, size, x, y, c), at(bright, size, x, y, c)});
                    const int hi = std::max({at(dark, size, x, y, c), at(middle, size, x, y, c), at(bright, size, x, y, c)});
                    ASSERT_GE(at(fused, size, x, y, c), lo - 12) << x << ", " << y;
                    ASSERT_LE(at(fused, size, x, y, c), hi + 12) << x << ", " << y;
                }
        // The texture survives in both halves: each half shows the exposure that held it.
        const auto [leftMean, leftSpread] = statistics(fused, size, 8, size / 2 - 8, 0);
        const auto [rightMean, rightSpread] = statistics(fused, size, size / 2 + 8, size - 8, 0);
        EXPECT_GT(leftSpread, 0.6 * statistics(dark, size, 8, size / 2 - 8, 0).second);
        EXPECT_GT(rightSpread, 0.6 * statistics(bright, size, size / 2 + 8, size - 8, 0).second);
        // And the fused picture lies between the exposures in brightness.
        EXPECT_GT(leftMean, statistics(dark, size, 8, size / 2 - 8, 0).first);
        EXPECT_LT(leftMean, 253);
        EXPECT_GT(rightMean, 6);
        EXPECT_LT(rightMean, statistics(bright, size, size / 2 + 8, size - 8, 0).first);
    }
}

// Three bracketed exposures of a shaded, colourful scene with a checker in it, as a camera brings
// them: the long one clips, the short one crushes.
std::array<QByteArray, 3> bracketedExposures(int size)
{
    const float gains[3] = {0.3f, 1.0f, 3.5f};
    std::array<QByteArray, 3> exposures;
    for (int k = 0; k < 3; ++k)
        exposures[size_t(k)] = image(size, size, [&](int x, int y, int c) {
            const float light = (0.15f + 0.85f * float(y) / float(size)) * (0.6f + 0.2f * float(c))
                * (1.0f + 0.15f * std::sin(float(x) * 0.05f + float(c)) + 0.1f * float(((x >> 3) ^ (y >> 3)) & 1));
            return int(255.0f * std::pow(std::min(light * gains[k], 1.0f), 1.0f / 2.2f) + 0.5f);
        });
    return exposures;
}

// The fusion as it was before its passes were rearranged for speed, on one thread and on several:
// any changed byte is a changed algorithm.
TEST(MergeHdr, FusionOfBracketedExposuresStaysAsPinnedOnAnyNumberOfThreads)
{
    const std::array<QByteArray, 3> e = bracketedExposures(777);
    const int threads = omp_get_max_threads();
    for (const auto& [levels, contrast, pinned] : {std::tuple{-1, true, "da949cb251ef94e8ae24aadb55a331e7d1455732"}, {-1, false, "8f4ade98719e67783934ac928b9ca29a09f611be"}, {3, true, "0b059d0751671fb9757dfa363a8427a0269e8cae"},
                                                   {0, true, "a02e40b3a7a8c69e15cca67690c6a7c09030d1f8"}}) {
        for (int team : {1, 4}) {
            SCOPED_TRACE(testing::Message() << "levels " << levels << " contrast " << contrast << " threads " << team);
            omp_set_num_threads(team);
            QByteArray fused;
            mergeHdr(e[0], e[1], e[2], fused, 777, contrast, 0.2f, levels);
            EXPECT_EQ(QCryptographicHash::hash(fused, QCryptographicHash::Sha1).toHex().toStdString(), pinned);
        }
    }
    omp_set_num_threads(threads);
}

TEST(MergeHdr, RefusesExposuresThatAreNotTheGivenSquareAndASigmaThatIsNoWidth)
{
    const QByteArray square(8 * 8 * 3, char(100)), other(8 * 7 * 3, char(100));
    QByteArray out("kept");
    EXPECT_THROW(mergeHdr(square, square, other, out, 8, true, 0.2f, -1), std::invalid_argument);
    EXPECT_THROW(mergeHdr(square, square, square, out, 9, true, 0.2f, -1), std::invalid_argument);
    EXPECT_THROW(mergeHdr(square, square, square, out, 8, true, 0.0f, -1), std::invalid_argument);
    EXPECT_THROW(mergeHdr(square, square, square, out, 8, true, std::nanf(""), -1), std::invalid_argument);
    EXPECT_THROW(mergeHdr({}, {}, {}, out, 0, true, 0.2f, -1), std::invalid_argument);
    EXPECT_EQ(out, "kept");
}

TEST(CropCenterSquare, KeepsTheMiddleColumnsAndRefusesAPortraitOrAWrongSize)
{
    const auto pixel = [](int x, int y, int c) { return x * 16 + y * 3 + c; };
    for (const auto& [width, height, left] : {std::tuple{7, 4, 1}, {8, 4, 2}, {5, 5, 0}}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        QByteArray rgb = image(width, height, pixel);
        ASSERT_TRUE(cropCenterSquare(rgb, width, height));
        EXPECT_EQ(rgb, image(height, height, [&, left = left](int x, int y, int c) { return pixel(x + left, y, c); }));
    }
    const QByteArray portrait = image(4, 7, pixel);
    QByteArray rgb = portrait;
    EXPECT_FALSE(cropCenterSquare(rgb, 4, 7));
    EXPECT_FALSE(cropCenterSquare(rgb, 6, 4)) << "a buffer of another size";
    EXPECT_FALSE(cropCenterSquare(rgb, 0, 0));
    EXPECT_EQ(rgb, portrait);
}

TEST(ChromaticAberration, RedAndBlueMoveTowardsOrAwayFromTheCentreByTheirFactorsGreenStays)
{
    // A soft white spot well away from the centre, so that its channels' centroids are sharp.
    const int size = 201;
    const double spotX = 170, spotY = 40, centre = (size - 1) / 2.0;
    const QByteArray spot = image(size, size, [&](int x, int y, int) {
        return int(std::lround(250 * std::exp(-((x - spotX) * (x - spotX) + (y - spotY) * (y - spotY)) / 18.0)));
    });
    QByteArray rgb = spot;
    const float red = 1.012f, blue = 0.991f;
    scaleRedAndBlueAboutCentre(reinterpret_cast<uint8_t*>(rgb.data()), size, size, red, blue);
    // A channel the lens drew larger by s is drawn back at 1/s of its distance from the centre.
    const auto [rx, ry] = centroid(rgb, size, size, 0);
    EXPECT_NEAR(rx, centre + (spotX - centre) / red, 0.15);
    EXPECT_NEAR(ry, centre + (spotY - centre) / red, 0.15);
    const auto [bx, by] = centroid(rgb, size, size, 2);
    EXPECT_NEAR(bx, centre + (spotX - centre) / blue, 0.15);
    EXPECT_NEAR(by, centre + (spotY - centre) / blue, 0.15);
    for (qsizetype i = 1; i < rgb.size(); i += 3)
        ASSERT_EQ(rgb[i], spot[i]) << "green pixel " << i / 3;

    // A shift of at most 0.05 pixel at the edge, or a factor that is no scale, changes nothing.
    for (float factor : {1.0f + 0.045f / 100.5f, 0.0f, -1.0f, std::nanf("")}) {
        QByteArray same = spot;
        scaleRedAndBlueAboutCentre(reinterpret_cast<uint8_t*>(same.data()), size, size, factor, factor);
        EXPECT_EQ(same, spot) << factor;
    }
}
