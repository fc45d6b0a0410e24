#include "numerics/features.h"
#include "numerics/gaussian_kernels.h"

#include "feature_images.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <cmath>
#include <random>
#include <vector>

using namespace featureimages;

namespace {
// The settings shot alignment uses.
constexpr float kSigmaD = 1.0f;
constexpr float kSigmaI = 1.9f;
constexpr float kThreshold = 0.02f;
constexpr int32_t kPatch = 11;
// 7 degrees in pixels of a band 300 columns (45 degrees) wide, as shot alignment sets it.
const float kSigmaDistance = float(0.12217305 / (0.7853981 / 299.0));

std::vector<FeaturePoint> detect(const Image& image, int32_t maxPoints = 100)
{
    std::vector<FeaturePoint> points;
    detectFeatures(image.pixels.data(), image.w, image.h, kSigmaD, kSigmaI, kThreshold, maxPoints, points);
    return points;
}

// Pixels from a corner to the nearest detected point, in the farther axis. (A minimum-eigenvalue
// response peaks about one pixel inside a right-angled corner, along its bisector.)
int32_t nearestDistance(const Corner& c, const std::vector<FeaturePoint>& points)
{
    int32_t best = INT32_MAX;
    for (const FeaturePoint& p : points)
        best = std::min(best, chebyshev(p.x, p.y, c.x, c.y));
    return best;
}

const std::vector<Rect> kRects = {{20, 15, 60, 45, 200.0f}, {90, 30, 150, 90, 120.0f}, {30, 70, 55, 100, 255.0f}};

Image renderedRectangles()
{
    Image image(180, 120, 40.0f);
    for (const Rect& r : kRects)
        fill(image, r);
    return image;
}

// The literal definition of the suppression radii, to check the fast one against.
std::vector<int32_t> bruteForceRadii(const std::vector<FeaturePoint>& points, int32_t w, int32_t h)
{
    std::vector<int32_t> radii(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        int32_t best = (w + h) * (w + h);
        for (size_t j = 0; j < i; ++j) {
            if (points[j].response * 0.9f > points[i].response) {
                const int32_t dx = points[j].x - points[i].x, dy = points[j].y - points[i].y;
                best = std::min(best, dx * dx + dy * dy);
            }
        }
        radii[i] = best;
    }
    return radii;
}

// FNV-1a over the bytes of every value, to pin long results in one line.
class Digest {
public:
    template <typename T>
    void add(const T& value)
    {
        unsigned char bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof(T));
        for (unsigned char b : bytes)
            hash_ = (hash_ ^ b) * 1099511628211ull;
    }
    uint64_t value() const { return hash_; }

private:
    uint64_t hash_ = 14695981039346656037ull;
};

uint64_t digestOf(const std::vector<FeaturePoint>& points)
{
    Digest d;
    for (const FeaturePoint& p : points) {
        d.add(p.x);
        d.add(p.y);
        d.add(p.radiusSquared);
        d.add(p.response);
    }
    return d.value();
}
}  // namespace

TEST(GaussianKernels, SizesWeightsAndOrientation)
{
    EXPECT_EQ(gaussianKernel(1.0f).size(), 5u);
    EXPECT_EQ(gaussianKernel(1.2f).size(), 7u);  // (int)6 made odd
    EXPECT_EQ(gaussianKernel(1.9f).size(), 9u);
    EXPECT_EQ(gaussianKernel(0.1f), std::vector<float>{1.0f});

    for (float sigma : {1.0f, 1.9f, 3.3f}) {
        const std::vector<float> g = gaussianKernel(sigma);
        const std::vector<float> d = gaussianDerivativeKernel(sigma);
        ASSERT_EQ(g.size(), d.size());
        const int32_t c = int32_t(g.size()) / 2;
        float sum = 0.0f, ramp = 0.0f;
        for (int32_t i = 0; i < int32_t(g.size()); ++i) {
            sum += g[size_t(i)];
            ramp += d[size_t(i)] * float(i - c);
            EXPECT_EQ(g[size_t(i)], g[g.size() - 1 - size_t(i)]);
            EXPECT_EQ(d[size_t(i)], -d[d.size() - 1 - size_t(i)]);
            if (i < c) {
                EXPECT_LT(d[size_t(i)], 0.0f);
            }
        }
        EXPECT_NEAR(sum, 1.0f, 1e-6f) << sigma;
        EXPECT_NEAR(ramp, 1.0f, 1e-6f) << sigma;
        EXPECT_EQ(d[size_t(c)], 0.0f);
        // Before normalisation the centre weight is 1: the ratio to a neighbour is exp(0.5 / s^2).
        EXPECT_NEAR(g[size_t(c)] / g[size_t(c) + 1], std::exp(0.5f / (sigma * sigma)), 1e-5f);
    }
}

TEST(StructureTensor, DerivativesPointUpTheRampInBothAxes)
{
    // Brightness rising by 1 per column and 2 per row: Ix = 1, Iy = 2 wherever both are defined.
    const int32_t w = 20, h = 16;
    Image ramp(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            ramp.at(x, y) = float(x) + 2.0f * float(y);
    std::vector<float> ixx(size_t(w * h), -1.0f), iyy(size_t(w * h), -1.0f), ixy(size_t(w * h), -1.0f);
    structureTensor(ramp.pixels.data(), w, h, kSigmaD, ixx.data(), iyy.data(), ixy.data());
    const int32_t c = 2;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const size_t i = size_t(y * w + x);
            const bool inside = x >= c && x < w - c && y >= c && y < h - c;
            EXPECT_NEAR(ixx[i], inside ? 1.0f : 0.0f, 1e-4f) << x << "," << y;
            EXPECT_NEAR(iyy[i], inside ? 4.0f : 0.0f, 1e-3f) << x << "," << y;
            EXPECT_NEAR(ixy[i], inside ? 2.0f : 0.0f, 1e-3f) << x << "," << y;
        }
    }
}

TEST(MinEigenResponse, SmallerEigenvalueInsideTheMarginAndZeroOutside)
{
    // A constant tensor [[5, 2], [2, 2]] has eigenvalues 6 and 1.
    const int32_t w = 30, h = 24;
    std::vector<float> a(size_t(w * h), 5.0f), b(size_t(w * h), 2.0f), e(size_t(w * h), 2.0f), r(size_t(w * h), -1.0f);
    const float maximum = minEigenResponse(a.data(), b.data(), e.data(), w, h, kSigmaD, kSigmaI, r.data());
    EXPECT_NEAR(maximum, 1.0f, 1e-5f);
    const int32_t o = 6;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const bool inside = x >= o && x < w - o && y >= o && y < h - o;
            EXPECT_NEAR(r[size_t(y * w + x)], inside ? 1.0f : 0.0f, 1e-5f) << x << "," << y;
        }
}

TEST(DetectFeatures, FindsTheCornersOfRenderedRectangles)
{
    const Image image = renderedRectangles();
    const std::vector<FeaturePoint> points = detect(image);
    size_t corners = 0;
    for (const Rect& r : kRects) {
        for (const Corner& c : cornersOf(r)) {
            EXPECT_LE(nearestDistance(c, points), 1) << c.x << "," << c.y;
            ++corners;
        }
    }
    // Nothing but corners: each point lies by one.
    for (const FeaturePoint& p : points) {
        int32_t best = INT32_MAX;
        for (const Rect& r : kRects)
            for (const Corner& c : cornersOf(r))
                best = std::min(best, chebyshev(p.x, p.y, c.x, c.y));
        EXPECT_LE(best, 1) << p.x << "," << p.y;
    }
    EXPECT_EQ(points.size(), corners);
}

TEST(DetectFeatures, FewCandidatesComeInRowOrderWithoutRadius)
{
    const std::vector<FeaturePoint> points = detect(renderedRectangles());
    ASSERT_FALSE(points.empty());
    for (size_t i = 1; i < points.size(); ++i) {
        EXPECT_TRUE(points[i - 1].y < points[i].y || (points[i - 1].y == points[i].y && points[i - 1].x < points[i].x));
        EXPECT_EQ(points[i].radiusSquared, 0);
    }
}

TEST(DetectFeatures, NothingOnAFlatImageOrForRefusedArguments)
{
    const Image flat(120, 80, 90.0f);
    std::vector<FeaturePoint> points = {FeaturePoint{1, 2, 3, 4.0f}};
    detectFeatures(flat.pixels.data(), flat.w, flat.h, kSigmaD, kSigmaI, kThreshold, 100, points);
    EXPECT_TRUE(points.empty());

    const Image image = renderedRectangles();
    auto found = [&](int32_t w, int32_t h, float sd, float si, int32_t n) {
        std::vector<FeaturePoint> out = {FeaturePoint{}};
        detectFeatures(image.pixels.data(), w, h, sd, si, kThreshold, n, out);
        return out.size();
    };
    EXPECT_GT(found(image.w, image.h, kSigmaD, kSigmaI, 100), 0u);
    EXPECT_EQ(found(image.w, image.h, kSigmaD, kSigmaI, 0), 0u);
    EXPECT_EQ(found(image.w, image.h, kSigmaD, kSigmaI, -5), 0u);
    EXPECT_EQ(found(-image.w, image.h, kSigmaD, kSigmaI, 100), 0u);
    EXPECT_EQ(found(image.w, 0, kSigmaD, kSigmaI, 100), 0u);
    EXPECT_EQ(found(image.w, image.h, 0.39f, kSigmaI, 100), 0u);
    EXPECT_EQ(found(image.w, image.h, kSigmaD, 0.3f, 100), 0u);
    EXPECT_EQ(found(10, 10, kSigmaD, kSigmaI, 100), 0u);  // no room inside the margins
}

TEST(DetectFeatures, AdaptiveSuppressionKeepsIsolatedWeakCorners)
{
    // A field of strong corners on the left, one of them brighter than the rest (equal responses
    // never suppress each other), and one faint rectangle far to the right. The faint corners'
    // responses are the lowest of all, but they are the most isolated.
    Image image(400, 120, 0.0f);
    for (int32_t row = 0; row < 5; ++row)
        for (int32_t col = 0; col < 6; ++col)
            fill(image, Rect{10 + col * 16, 10 + row * 20, 18 + col * 16, 20 + row * 20,
                             row == 2 && col == 3 ? 250.0f : 200.0f});
    const Rect faint{330, 40, 360, 80, 60.0f};
    fill(image, faint);
    const int32_t n = 12;
    const std::vector<FeaturePoint> points = detect(image, n);
    ASSERT_EQ(points.size(), size_t(n));
    for (const Corner& c : cornersOf(faint))
        EXPECT_LE(nearestDistance(c, points), 1) << c.x << "," << c.y;
    for (size_t i = 1; i < points.size(); ++i)
        EXPECT_GE(points[i - 1].radiusSquared, points[i].radiusSquared);
    // The strongest point overall is kept with the largest radius.
    EXPECT_EQ(points[0].radiusSquared, (400 + 120) * (400 + 120));
}

// The corners of the bands the benchmark times, and the response map under them, as they were
// before the filters were tuned for speed; the same on one thread and on several.
TEST(DetectFeatures, CornersOfTexturedAndNoiseBandsStayAsPinned)
{
    struct Band {
        Image image;
        uint64_t points;
        uint64_t response;
    };
    const Band bands[] = {{blobTexture(300, 924, 2500, 1), 0x9ccf29c7e4b989f7, 0x48dc8b804860491d},
                          {whiteNoise(300, 924, 2), 0x4699a77712a73481, 0x41094f6ba5e44e9a},
                          {blobTexture(211, 97, 300, 3), 0x9bbb978003e66597, 0x24be196df57c89ca}};
    const int threads = omp_get_max_threads();
    for (const Band& band : bands) {
        for (int team : {1, 4}) {
            SCOPED_TRACE(testing::Message() << band.image.w << " x " << band.image.h << " on " << team);
            omp_set_num_threads(team);
            const std::vector<FeaturePoint> points = detect(band.image);
            const size_t n = band.image.pixels.size();
            std::vector<float> ixx(n), iyy(n), ixy(n), response(n);
            structureTensor(band.image.pixels.data(), band.image.w, band.image.h, kSigmaD, ixx.data(), iyy.data(),
                            ixy.data());
            minEigenResponse(ixx.data(), iyy.data(), ixy.data(), band.image.w, band.image.h, kSigmaD, kSigmaI,
                             response.data());
            Digest map;
            for (float v : response)
                map.add(v);
            EXPECT_EQ(points.size(), 100u);
            EXPECT_EQ(digestOf(points), band.points);
            EXPECT_EQ(map.value(), band.response);
        }
    }
    omp_set_num_threads(threads);
}

TEST(SuppressNonMaximaAdaptive, SameRadiiAsTheDefinition)
{
    // Random points with many equal responses and coinciding positions.
    std::mt19937 rng(11);
    for (int trial = 0; trial < 20; ++trial) {
        const int32_t w = 64 + trial * 13, h = 40 + trial * 7;
        const int32_t count = 50 + trial * 97;
        std::uniform_int_distribution<int32_t> ux(0, w - 1), uy(0, h - 1), level(1, trial % 2 ? 8 : 4000);
        std::vector<FeaturePoint> points(static_cast<size_t>(count));
        for (FeaturePoint& p : points)
            p = FeaturePoint{ux(rng), uy(rng), -1, float(level(rng)) * 0.37f};
        std::sort(points.begin(), points.end(), [](const FeaturePoint& a, const FeaturePoint& b) {
            return a.response > b.response;
        });
        const std::vector<int32_t> expected = bruteForceRadii(points, w, h);
        suppressNonMaximaAdaptive(points.data(), count, w, h);
        for (size_t i = 0; i < points.size(); ++i)
            ASSERT_EQ(points[i].radiusSquared, expected[i]) << "trial " << trial << " point " << i;
    }
    // Uneven spreads: two tight clusters far apart, one of them left of and above the image, a
    // lone far point, and a single point.
    std::uniform_int_distribution<int32_t> jitter(-6, 6), level(1, 50);
    std::vector<FeaturePoint> points;
    for (int32_t k = 0; k < 300; ++k) {
        const bool first = k % 3 != 0;
        points.push_back(FeaturePoint{(first ? -40 : 2900) + jitter(rng), (first ? -25 : 1700) + jitter(rng), -1,
                                      float(level(rng))});
    }
    points.push_back(FeaturePoint{1400, 4000, -1, 3.0f});
    std::sort(points.begin(), points.end(), [](const FeaturePoint& a, const FeaturePoint& b) {
        return a.response > b.response;
    });
    const std::vector<int32_t> expected = bruteForceRadii(points, 3000, 2000);
    suppressNonMaximaAdaptive(points.data(), int32_t(points.size()), 3000, 2000);
    for (size_t i = 0; i < points.size(); ++i)
        ASSERT_EQ(points[i].radiusSquared, expected[i]) << "uneven spread, point " << i;
    FeaturePoint single{5, 7, -1, 1.0f};
    suppressNonMaximaAdaptive(&single, 1, 30, 20);
    EXPECT_EQ(single.radiusSquared, 50 * 50);
}

TEST(SuppressNonMaximaAdaptive, NoiseBandKeepsTheLimit)
{
    const Image noise = whiteNoise(300, 924, 5);
    const std::vector<FeaturePoint> points = detect(noise);
    ASSERT_EQ(points.size(), 100u);
    for (size_t i = 1; i < points.size(); ++i)
        EXPECT_GE(points[i - 1].radiusSquared, points[i].radiusSquared);
}

TEST(ProximityMatrix, DistanceAndCorrelationWeights)
{
    const Image a = blobTexture(80, 60, 120, 3);
    const std::vector<FeaturePoint> pa = {{30, 30, 0, 1.0f}, {3, 30, 0, 1.0f}, {50, 20, 0, 1.0f}};
    const std::vector<FeaturePoint> pb = {{30, 30, 0, 1.0f}, {50, 20, 0, 1.0f}, {40, 57, 0, 1.0f}};
    std::vector<double> g(9, -1.0);
    proximityMatrix(a.pixels.data(), a.pixels.data(), a.w, a.h, pa.data(), 3, pb.data(), 3, kPatch, 7.0f, 0.4f,
                    g.data());
    const double outside = std::ldexp(1.0, -1021);
    EXPECT_EQ(g[0], 1.0);  // the same patch at the same place
    EXPECT_EQ(g[2 * 3 + 1], 1.0);
    for (int j = 0; j < 3; ++j)
        EXPECT_EQ(g[size_t(3 + j)], outside);  // A's point 1 is 3 px from the left edge
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(g[size_t(i * 3 + 2)], outside);  // B's point 2 is 2 px from the bottom edge
    // Different patches 20 px and 10 px apart: distance term exp(-d^2 / 98) times a correlation term.
    EXPECT_LT(g[1], std::exp(-500.0 * 0.5 / 49.0) * (1.0 + 1e-12));
    EXPECT_GT(g[1], 0.0);
}

TEST(MatchFeatures, AShiftedCopyMatchesAtTheShift)
{
    const int32_t w = 300, h = 200, sx = 3, sy = -2;
    const Image a = blobTexture(w, h, 500, 21);
    Image b(w, h, 128.0f);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            if (x - sx >= 0 && x - sx < w && y - sy >= 0 && y - sy < h)
                b.at(x, y) = a.at(x - sx, y - sy);
    const std::vector<FeaturePoint> pa = detect(a), pb = detect(b);
    std::vector<FeatureMatch> matches;
    matchFeatures(a.pixels.data(), b.pixels.data(), w, h, pa, pb, kPatch, kSigmaDistance, 0.4f, matches);
    ASSERT_GE(matches.size(), 40u);
    int32_t previousB = -1;
    for (const FeatureMatch& m : matches) {
        EXPECT_EQ(m.xB - m.xA, sx);
        EXPECT_EQ(m.yB - m.yA, sy);
        EXPECT_GT(m.score, 0.89f);
        // Ascending order of the B point.
        int32_t indexB = -1;
        for (size_t j = 0; j < pb.size(); ++j)
            if (pb[j].x == m.xB && pb[j].y == m.yB)
                indexB = int32_t(j);
        EXPECT_GT(indexB, previousB);
        previousB = indexB;
    }
}

TEST(MatchFeatures, TooFewPointsOrBadSizesGiveNoMatches)
{
    const Image a = blobTexture(120, 90, 150, 8);
    const std::vector<FeaturePoint> pa = detect(a);
    ASSERT_GE(pa.size(), 2u);
    std::vector<FeatureMatch> matches(3);
    matchFeatures(a.pixels.data(), a.pixels.data(), a.w, a.h, pa, {pa[0]}, kPatch, 20.0f, 0.4f, matches);
    EXPECT_TRUE(matches.empty());
    matchFeatures(a.pixels.data(), a.pixels.data(), a.w, a.h, {pa[0]}, pa, kPatch, 20.0f, 0.4f, matches);
    EXPECT_TRUE(matches.empty());
    matchFeatures(a.pixels.data(), a.pixels.data(), -a.w, a.h, pa, pa, kPatch, 20.0f, 0.4f, matches);
    EXPECT_TRUE(matches.empty());
    matchFeatures(a.pixels.data(), a.pixels.data(), a.w, a.h, pa, pa, -3, 20.0f, 0.4f, matches);
    EXPECT_TRUE(matches.empty());

    // An image matched with itself pairs every point with itself; an even patch is made odd.
    std::vector<FeatureMatch> odd, even;
    matchFeatures(a.pixels.data(), a.pixels.data(), a.w, a.h, pa, pa, kPatch, 20.0f, 0.4f, odd);
    matchFeatures(a.pixels.data(), a.pixels.data(), a.w, a.h, pa, pa, kPatch - 1, 20.0f, 0.4f, even);
    ASSERT_FALSE(odd.empty());
    ASSERT_EQ(odd.size(), even.size());
    for (size_t k = 0; k < odd.size(); ++k) {
        EXPECT_EQ(odd[k].xA, odd[k].xB);
        EXPECT_EQ(odd[k].yA, odd[k].yB);
        EXPECT_EQ(odd[k].score, even[k].score);
    }
}
