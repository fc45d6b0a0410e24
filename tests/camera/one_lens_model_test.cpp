#include "camera/cam_params_ztm4.h"
#include "camera/cam_params_ztm5.h"
#include "camera/one_lens_render.h"
#include "camera/scan_json.h"
#include "imaging/gain_curve.h"
#include "support/one_lens_model.h"
#include "support/one_lens_scene.h"
#include "support/test_support.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace testsupport;

namespace {
constexpr int kSide = 256;
constexpr int kPanoWidth = 1800;

// Markers away from the seams (30, 150, 270 degrees), on the horizon, above and below it, and on
// both caps, each in its own colour.
OneLensScene markerScene()
{
    return OneLensScene{{{90, 0, 4, {255, 0, 0}},
                         {210, 15, 4, {0, 255, 0}},
                         {335, -20, 4, {0, 0, 255}},
                         {60, 62, 5, {255, 255, 0}},
                         {200, -65, 5, {255, 0, 255}},
                         {300, 70, 5, {0, 255, 255}}}};
}

ImageParams tiltedParams()
{
    ImageParams p;
    p[ImageParams::ROLL_2] = 0.02f, p[ImageParams::YAW_2] = -0.015f, p[ImageParams::PITCH_2] = 0.01f;
    p[ImageParams::ROLL_3] = -0.01f, p[ImageParams::YAW_3] = 0.02f, p[ImageParams::PITCH_3] = -0.02f;
    p[ImageParams::ROLL_GLOBAL] = 0.03f, p[ImageParams::PITCH_GLOBAL] = -0.025f;
    return p;
}

const uint8_t* bytes(const QByteArray& b) { return reinterpret_cast<const uint8_t*>(b.constData()); }

struct SceneShots {
    OneLensTestModel model{kSide};
    ImageParams p = tiltedParams();
    OneLensScene scene = markerScene();
    QByteArray shots[3];
    SceneShots()
    {
        model.initBlendMasks(7200, kPanoWidth);
        for (int k = 0; k < 3; ++k)
            shots[k] = renderSceneShot(model, p, k, scene);
    }
};

// Markers found in a render's buffer (rows bottom-up) where the scene has them.
void expectMarkersInPlace(const std::vector<uint8_t>& pano, int width, const OneLensScene& scene, double toleranceDeg)
{
    for (const SceneMarker& m : scene.markers) {
        const Direction found = markerCentroid(pano.data(), width, false, m.colour, 40);
        ASSERT_GT(std::abs(found[0]) + std::abs(found[1]) + std::abs(found[2]), 0.0)
            << "marker at " << m.azimuthDeg << "/" << m.elevationDeg << " is missing";
        EXPECT_LT(angleBetweenDeg(found, directionOf(m.azimuthDeg, m.elevationDeg)), toleranceDeg)
            << "marker at " << m.azimuthDeg << "/" << m.elevationDeg;
    }
}
// Masks 3 to 6 of initBlendMasks(7200, ...) split their 1200-pixel square along lines through its
// centre at 60 degrees to the rows. In each row the blurred step crosses 128 where that line is:
// 600 + (r - 600) sqrt(3) columns for mask 3, the mirror line for mask 5, and for the upper half
// of mask 4 and the lower half of mask 6 the line on the right-hand side. Rows the line leaves
// through the top or bottom are all 0 or all 255, except mask 6, which keeps its last column.
void expectDiagonalCapEdges(const OneLensTestModel& model)
{
    constexpr int n = 1200, h = n / 2;
    const double slope = std::sqrt(3.0);
    const auto row = [&](int mask, int r) {
        const QByteArray& m = model.blendMask(mask);
        return std::vector<uint8_t>(m.begin() + qsizetype(r) * n, m.begin() + qsizetype(r + 1) * n);
    };
    // The first column at or above 128 (rising) or below it (falling).
    const auto crossing = [](const std::vector<uint8_t>& values, bool rising) {
        for (int c = 0; c < int(values.size()); ++c)
            if ((values[c] >= 128) == rising)
                return c;
        return int(values.size());
    };
    struct Diagonal {
        int mask;
        bool rising;  // 255 to the right of the line
        int fromRow, toRow;
        double sign;  // the line's column: h + sign (r - h) sqrt(3)
    };
    // Rows where the line lies inside the square, a few rows clear of the kink at the centre.
    for (const Diagonal& d : {Diagonal{3, false, 260, 940, 1.0}, Diagonal{5, false, 260, 940, -1.0},
                              Diagonal{4, true, 260, h - 4, -1.0}, Diagonal{6, true, h + 4, 940, 1.0}}) {
        double worst = 0;
        for (int r = d.fromRow; r <= d.toRow; r += 4) {
            const double expected = h + d.sign * (r - h) * slope;
            worst = std::max(worst, std::fabs(crossing(row(d.mask, r), d.rising) - expected));
        }
        EXPECT_LE(worst, 1.5) << "mask " << d.mask;
    }
    // Mask 4's lower half and mask 6's upper half are the plain right half.
    for (const int r : {h + 10, 1000}) {
        EXPECT_EQ(crossing(row(4, r), true), h) << r;
        EXPECT_EQ(crossing(row(6, n - 1 - r), true), h) << r;
    }
    // Beyond the line's reach (|r - h| > h / sqrt(3), about 346 rows).
    const std::vector<uint8_t> zeros(n, 0), full(n, 255);
    for (const int r : {0, 100, 250}) {
        EXPECT_TRUE(row(3, r) == zeros) << r;
        EXPECT_TRUE(row(5, n - 1 - r) == zeros) << r;
        EXPECT_TRUE(row(3, n - 1 - r) == full) << r;
        EXPECT_TRUE(row(5, r) == full) << r;
        EXPECT_TRUE(row(4, r) == zeros) << r;
        const std::vector<uint8_t> last = row(6, n - 1 - r);
        EXPECT_EQ(last[n - 1], 255) << r;
        EXPECT_EQ(*std::max_element(last.begin(), last.end() - 3), 0) << r;
    }
}
} // namespace

TEST(OneLensModel, KeyNamesIdentityAndYawOffset)
{
    EXPECT_EQ(CamParamsOneLens::intKeyName(0), "TIMESTAMP");
    EXPECT_EQ(CamParamsOneLens::intKeyName(10), "COMPASS_FACTOR");
    EXPECT_EQ(CamParamsOneLens::intKeyName(11), "Undefined");
    EXPECT_EQ(CamParamsOneLens::doubleKeyName(3), "RY");
    EXPECT_EQ(CamParamsOneLens::doubleKeyName(-1), "Undefined");
    EXPECT_EQ(CamParamsOneLens::floatKeyName(13), "VC9");
    EXPECT_EQ(CamParamsOneLens::floatKeyName(14), "Undefined");
    OneLensTestModel model;
    model.setSerial("ABCDEFGHIJKLMNOPQRSTUVWX"); // all 24 bytes, no terminator
    EXPECT_EQ(model.systemSerial(), "ABCDEFGHIJKLMNOPQRSTUVWX");
    EXPECT_FLOAT_EQ(CamParamsZTM4().panoYawOffset(), 4.712389f);
    EXPECT_FLOAT_EQ(CamParamsZTM5().panoYawOffset(), 4.712389f);
    EXPECT_EQ(CamParamsZTM4().shotPath("/s", 2), "/s/hc.jpg");
    EXPECT_EQ(CamParamsZTM5().shotPath("/s", 2), "/s/h3.jpg");
}

TEST(OneLensModel, LevellingMapsAreInverseAndFollowTheLevellingMatrix)
{
    OneLensTestModel model;
    const ImageParams p = tiltedParams();
    double worst = 0.0;
    for (float u = 0.02f; u < 1.0f; u += 0.05f)
        for (float v = 0.05f; v < 0.96f; v += 0.05f) {
            float cu = 0, cv = 0, bu = 0, bv = 0;
            model.panoToCamera(u, v, p, cu, cv);
            model.cameraToPano(cu, cv, p, bu, bv);
            worst = std::max({worst, double(std::fabs(bu - u)), double(std::fabs(bv - v))});
        }
    EXPECT_LT(worst, 1e-4);
    // A pure pitch of the levelling tilts the horizon point straight ahead (u = 0.5, lambda 0) up
    // or down by that angle: its v moves by angle / pi.
    ImageParams pitch;
    pitch[ImageParams::PITCH_GLOBAL] = 0.1f;
    float u = 0, v = 0;
    model.cameraToPano(0.75f, 0.5f, pitch, u, v);
    EXPECT_NEAR(std::fabs(v - 0.5f), 0.1 / 3.14159265358979323846, 1e-5);
}

TEST(OneLensModel, BlendMaskSizesBoundariesAndPoleRows)
{
    OneLensTestModel model;
    model.initBlendMasks(7200, 1800);
    for (int k = 0; k <= 6; ++k)
        EXPECT_EQ(model.blendMask(k).size(), 1200 * 1200) << k;
    for (int k = 8; k <= 11; ++k)
        EXPECT_EQ(model.blendMask(k).size(), 300 * 300) << k;
    EXPECT_EQ(model.blendMask(7).size(), 900 * 3600);
    EXPECT_EQ(model.blendMask(12).size(), 225 * 900);
    const auto at = [&](int mask, int width, int row, int column) {
        return static_cast<uint8_t>(model.blendMask(mask).at(qsizetype(row) * width + column));
    };
    // The 255 columns start or end where the tangents put them: s0 = 238, s1 = 960, h = 600.
    for (const int row : {10, 600, 1190}) {
        EXPECT_EQ(at(0, 1200, row, 235), 0);
        EXPECT_EQ(at(0, 1200, row, 240), 255);
        EXPECT_EQ(at(1, 1200, row, 957), 255);
        EXPECT_EQ(at(1, 1200, row, 962), 0);
        EXPECT_EQ(at(2, 1200, row, 597), 255);
        EXPECT_EQ(at(2, 1200, row, 602), 0);
    }
    EXPECT_LT(at(0, 1200, 600, 237), at(0, 1200, 600, 239)) << "the blur softens the step";
    // Cap sectors: mask 4 holds the lower right quarter, mask 6 the upper right one.
    EXPECT_EQ(at(4, 1200, 900, 900), 255);
    EXPECT_EQ(at(4, 1200, 900, 300), 0);
    EXPECT_EQ(at(6, 1200, 300, 900), 255);
    EXPECT_EQ(at(6, 1200, 300, 300), 0);
    EXPECT_EQ(at(11, 300, 75, 225), 255);
    expectDiagonalCapEdges(model);
    // Seam mask at the horizon: a sharp step in the middle; at the pole rows (tangent beyond any
    // integer) the 128 band covers the width; the odd small mask keeps its last column 0.
    EXPECT_EQ(at(7, 900, 1800, 440), 0);
    EXPECT_EQ(at(7, 900, 1800, 460), 255);
    EXPECT_EQ(at(7, 900, 0, 450), 128);
    EXPECT_EQ(at(7, 900, 3599, 20), 128);
    EXPECT_EQ(at(12, 225, 450, 224), 0);
    EXPECT_EQ(at(12, 225, 0, 224), 0);
}

TEST(OneLensModel, RendersOfAWidthWithoutMasksThrow)
{
    SceneShots s;
    std::vector<uint8_t> out(size_t(1000) * 500 * 3);
    const std::string expected = "no mask was initialized for this image size";
    EXPECT_EQ(thrownMessage([&] {
                  renderThreeShotPano(s.model, bytes(s.shots[0]), bytes(s.shots[1]), bytes(s.shots[2]), 1000, s.p,
                                      out.data());
              }).toStdString(),
              expected);
    EXPECT_EQ(thrownMessage([&] {
                  renderCubeFace(s.model, bytes(s.shots[0]), bytes(s.shots[1]), bytes(s.shots[2]), 1000, 0, s.p,
                                 out.data());
              }).toStdString(),
              expected);
    OneLensTestModel bare;
    EXPECT_EQ(thrownMessage([&] {
                  renderThreeShotPano(bare, bytes(s.shots[0]), bytes(s.shots[1]), bytes(s.shots[2]), kPanoWidth,
                                      s.p, out.data());
              }).toStdString(),
              expected);
}

TEST(OneLensRender, ThreeShotPanoPutsTheSceneBackInPlace)
{
    SceneShots s;
    std::vector<uint8_t> pano(size_t(kPanoWidth) * kPanoWidth / 2 * 3);
    renderThreeShotPano(s.model, bytes(s.shots[0]), bytes(s.shots[1]), bytes(s.shots[2]), kPanoWidth, s.p, pano.data());
    expectMarkersInPlace(pano, kPanoWidth, s.scene, 0.5);
    // Away from markers and seams the ramp comes back within a few levels. The buffer's rows run
    // bottom-up like the quick render's: 30 degrees below the horizon is 150 rows up from row 450.
    const Direction d = directionOf(100, -30);
    const Rgb expected = s.scene.at(d);
    const int column = int(std::lround((360.0 - 100.0) / 360.0 * kPanoWidth));
    const int rowFromBottom = kPanoWidth / 4 - int(std::lround(30.0 / 360.0 * kPanoWidth));
    const uint8_t* px = pano.data() + (size_t(rowFromBottom) * kPanoWidth + column) * 3;
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(px[c], expected[c], 6) << c;
}

TEST(OneLensRender, QuickRendersShowTheSceneAndTheStripIsTheGreenChannel)
{
    SceneShots s;
    const int w = kPanoWidth, h = kPanoWidth / 2;
    std::vector<uint8_t> pano(size_t(w) * h * 3), strip(size_t(w) * h);
    s.model.renderPano(bytes(s.shots[0]), bytes(s.shots[1]), bytes(s.shots[2]), w, h, s.p, pano.data());
    s.model.renderStrip(bytes(s.shots[0]), bytes(s.shots[1]), bytes(s.shots[2]), w, h, s.p, strip.data());
    // Rows bottom-up; the polar markers are within the nearest-pixel render's reach too.
    expectMarkersInPlace(pano, w, s.scene, 0.5);
    for (size_t k = 0; k < strip.size(); ++k)
        ASSERT_EQ(strip[k], pano[k * 3 + 1]) << k;
    // A shot pixel on the last row or column is never sampled: a shot that is white only there
    // renders no white at all.
    QByteArray edge(kSide * kSide * 3, '\0');
    for (int i = 0; i < kSide; ++i) {
        std::fill_n(edge.data() + (qsizetype(kSide - 1) * kSide + i) * 3, 3, char(255));
        std::fill_n(edge.data() + (qsizetype(i) * kSide + kSide - 1) * 3, 3, char(255));
    }
    s.model.renderStrip(bytes(edge), bytes(edge), bytes(edge), w, h, ImageParams(), strip.data());
    EXPECT_EQ(std::count(strip.begin(), strip.end(), 255), 0);
}

TEST(OneLensRender, CubeFacesShowTheSceneWithTheirMasks)
{
    SceneShots s;
    const int size = 7200 / 6;
    std::vector<uint8_t> face(size_t(size) * size * 3);
    // Face 1 looks at azimuth 90: the red marker sits in its centre.
    renderCubeFace(s.model, bytes(s.shots[0]), bytes(s.shots[1]), bytes(s.shots[2]), 7200, 1, s.p, face.data());
    const uint8_t* centre = face.data() + (size_t(size / 2) * size + size / 2) * 3;
    EXPECT_GT(centre[0], 200);
    EXPECT_LT(centre[1], 60);
    // Side faces hold their rows bottom-up like the pano: face 2 looks at azimuth 180, and the
    // green marker at azimuth 210, 15 degrees up lies in its upper half.
    renderCubeFace(s.model, bytes(s.shots[0]), bytes(s.shots[1]), bytes(s.shots[2]), 7200, 2, s.p, face.data());
    const Direction g = directionOf(210, 15);
    const int gc = int((g[2] / -g[0] + 1) * 0.5 * size), gr = int((g[1] / -g[0] + 1) * 0.5 * size);
    ASSERT_GT(gr, size / 2 + 100);
    const uint8_t* green = face.data() + (size_t(gr) * size + gc) * 3;
    EXPECT_LT(green[0], 60);
    EXPECT_GT(green[1], 200);
    const uint8_t* mirrored = face.data() + (size_t(size - 1 - gr) * size + gc) * 3;
    EXPECT_LT(mirrored[1], 200) << "not below the horizon";
    // Face 5 looks at the ceiling (the lens frame's -y); the yellow marker at azimuth 60, 62
    // degrees up: a = x / up, b = z / up.
    renderCubeFace(s.model, bytes(s.shots[0]), bytes(s.shots[1]), bytes(s.shots[2]), 7200, 5, s.p, face.data());
    const Direction d = directionOf(60, 62);
    const int c = int((d[0] / d[1] + 1) * 0.5 * size), r = int((d[2] / d[1] + 1) * 0.5 * size);
    const uint8_t* yellow = face.data() + (size_t(r) * size + c) * 3;
    EXPECT_GT(yellow[0], 200);
    EXPECT_GT(yellow[1], 200);
    EXPECT_LT(yellow[2], 60);
    EXPECT_THROW(renderCubeFace(s.model, bytes(s.shots[0]), bytes(s.shots[1]), bytes(s.shots[2]), 7200, 6, s.p,
                                face.data()),
                 std::runtime_error);
}

TEST(OneLensRender, OverlapBandsOfTwoShotsAgreeOnTheSeams)
{
    OneLensTestModel model{kSide};
    ImageParams p = tiltedParams();
    p[ImageParams::ROLL_GLOBAL] = p[ImageParams::PITCH_GLOBAL] = 0.0f; // the bands carry no levelling
    const OneLensScene scene{};
    QByteArray shots[3];
    for (int k = 0; k < 3; ++k)
        shots[k] = renderSceneShot(model, p, k, scene);
    const int W = 40, L = 30;
    std::vector<float> cosA[3], sinA[3], cosE(L), sinE(L);
    const double seams[3] = {150.0, 30.0, 270.0}; // band 0: shots 1 | 2, band 1: 3 | 1, band 2: 2 | 3
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < W; ++j) {
            const double a = (seams[k] - 4.0 + 8.0 * j / W) * 3.14159265358979323846 / 180.0;
            cosA[k].push_back(float(std::cos(a)));
            sinA[k].push_back(float(std::sin(a)));
        }
    for (int i = 0; i < L; ++i) {
        const double e = (-30.0 + 60.0 * i / L) * 3.14159265358979323846 / 180.0;
        cosE[size_t(i)] = float(std::cos(e)), sinE[size_t(i)] = float(std::sin(e));
    }
    const float* ca[3] = {cosA[0].data(), cosA[1].data(), cosA[2].data()};
    const float* sa[3] = {sinA[0].data(), sinA[1].data(), sinA[2].data()};
    std::vector<uint8_t> A(size_t(3) * W * L * 3, 7), B(size_t(3) * W * L * 3, 7);
    renderShotOverlapBands(model, bytes(shots[0]), bytes(shots[1]), bytes(shots[2]), W, L, p.angles(), ca, sa,
                           cosE.data(), sinE.data(), A.data(), B.data());
    double sum = 0;
    for (size_t k = 0; k < A.size(); ++k)
        sum += std::abs(int(A[k]) - int(B[k]));
    EXPECT_LT(sum / double(A.size()), 2.0) << "both shots see the same scene in each band";
    // Without shot 1 its bands are left as they were.
    std::vector<uint8_t> A2(A.size(), 7), B2(B.size(), 7);
    renderShotOverlapBandsForCost(model, nullptr, bytes(shots[1]), bytes(shots[2]), W, L, p.angles(), ca, sa,
                                  cosE.data(), sinE.data(), A2.data(), B2.data());
    EXPECT_TRUE(std::all_of(A2.begin(), A2.begin() + 2 * W * L * 3, [](uint8_t v) { return v == 7; }));
    EXPECT_TRUE(std::equal(A2.begin() + 2 * W * L * 3, A2.end(), A.begin() + 2 * W * L * 3));
    EXPECT_EQ(B2, B);
}

// The inverse of a gain curve: the value the curve maps to y (the curves rise monotonically).
double inverseCurve(float g, double y)
{
    float table[256];
    gainCurve(g, table);
    const auto curve = [g](double x) {
        const double c1 = (g - 0.5) / (-2.0 * g * g * (g - 1.0)), c2 = (0.5 * g + g * g - 1.0) / (2.0 * g * (g - 1.0));
        const double c3 = g * c1 / (g - 1.0), c4 = (g * g - 2.5 * g + 0.5) / (2.0 * g * (g - 1.0));
        return x <= g ? c1 * x * x * x + c2 * x : c3 * (x - 1) * (x - 1) * (x - 1) + c4 * (x - 1) + 1;
    };
    double lo = 0.0, hi = 1.0;
    for (int k = 0; k < 60; ++k)
        (curve(0.5 * (lo + hi)) < y ? lo : hi) = 0.5 * (lo + hi);
    return 0.5 * (lo + hi);
}

TEST(OneLensColour, EqualisationRecoversTheGainsOfShotsTwoAndThree)
{
    SceneShots s;
    const float gains2[3] = {0.45f, 0.56f, 0.5f}, gains3[3] = {0.62f, 0.4f, 0.53f};
    // Shots 2 and 3 darkened or lightened so that their gain curves bring them back.
    for (int k = 1; k <= 2; ++k) {
        const float* g = k == 1 ? gains2 : gains3;
        uint8_t lut[3][256];
        for (int ch = 0; ch < 3; ++ch)
            for (int v = 0; v < 256; ++v)
                lut[ch][v] = uint8_t(std::lround(255.0 * inverseCurve(g[ch], v / 255.0)));
        auto* px = reinterpret_cast<uint8_t*>(s.shots[k].data());
        for (qsizetype i = 0; i < s.shots[k].size(); ++i)
            px[i] = lut[i % 3][px[i]];
    }
    ImageParams p = s.p;
    p[ImageParams::EXPOSURE] = 0.25f;
    s.model.equalizeShotColors(bytes(s.shots[0]), bytes(s.shots[1]), bytes(s.shots[2]), p);
    for (int ch = 0; ch < 3; ++ch) {
        EXPECT_NEAR(p[ImageParams::RED_GAIN_2 + ch], gains2[ch], 0.01) << ch;
        EXPECT_NEAR(p[ImageParams::RED_GAIN_3 + ch], gains3[ch], 0.01) << ch;
    }
    EXPECT_EQ(p[ImageParams::EXPOSURE], 0.25f);
    EXPECT_EQ(p[ImageParams::ROLL_2], s.p[ImageParams::ROLL_2]);
    // Black shots cost the same for every pair: the first pair, 0.3 and 0.3, stays.
    const QByteArray grey(kSide * kSide * 3, char(0));
    ImageParams flat;
    s.model.equalizeShotColors(bytes(grey), bytes(grey), bytes(grey), flat);
    EXPECT_FLOAT_EQ(flat[ImageParams::GREEN_GAIN_2], 0.3f);
    EXPECT_FLOAT_EQ(flat[ImageParams::BLUE_GAIN_3], 0.3f);
}

TEST(OneLensEdges, VerticalEdgeScoreCountsEdgesUpToTheLastColumnAndNoFurther)
{
    const int w = 12, h = 9;
    // Exactly w * h bytes: a read past the buffer is a sanitizer failure.
    const auto strip = [&](int edgeColumn) {
        std::vector<uint8_t> g(size_t(w) * h, 10);
        for (int r = 0; r < h; ++r)
            for (int c = edgeColumn; c < w; ++c)
                g[size_t(r) * w + c] = 200;
        return g;
    };
    double rowWeights = 0;
    for (int r = 1; r <= h - 2; ++r)
        rowWeights += 1.0f - float(std::abs(int(0.5 * h) - r)) / float(h);
    const double expected = (32.0 * rowWeights) * (32.0 * rowWeights);
    EXPECT_NEAR(verticalEdgeScore(w, h, strip(5).data()), expected, expected * 1e-6);
    // The edge between the last two columns is the last pair the loop takes.
    EXPECT_NEAR(verticalEdgeScore(w, h, strip(w - 1).data()), expected, expected * 1e-6);
    // Horizontal texture: vertical differences cancel what there is.
    std::vector<uint8_t> rows(size_t(w) * h);
    for (int r = 0; r < h; ++r)
        std::fill_n(rows.begin() + r * w, w, uint8_t(r % 2 ? 200 : 10));
    EXPECT_EQ(verticalEdgeScore(w, h, rows.data()), 0.0);
    EXPECT_EQ(verticalEdgeScore(w, 2, strip(5).data()), 0.0);
}

TEST(ScanJson, ReadsEveryKeyWithItsDefaults)
{
    QTemporaryDir dir;
    QPointF position(5, 6);
    float heading = 1, temperature = 9, score = 0;
    int counter = 3, uptime = 4;
    bool shown = false, bad = true;
    QString source = "x", globalId = "g", cfg = "c", hash = "h";
    QJsonObject system{{"a", 1}}, picture{{"b", 2}};
    QJsonArray tags{1};
    qint64 time = 7;
    const auto read = [&] {
        readScanJson(dir.path(), position, heading, counter, shown, temperature, source, system, tags, globalId, bad,
                     score, uptime, time, cfg, picture, hash);
    };
    read();
    EXPECT_EQ(position, QPointF(5, 6)) << "no file changes nothing";
    EXPECT_EQ(counter, 3);
    writeFile(dir.path() + "/scan.json", R"({"rot": 1.0})");
    read();
    EXPECT_NEAR(heading, -57.29578f, 1e-4);
    EXPECT_TRUE(shown);
    EXPECT_FLOAT_EQ(score, -1.0f);
    EXPECT_EQ(position, QPointF(5, 6));
    EXPECT_TRUE(bad) << "the flag stays without its key";
    EXPECT_EQ(counter, 0);
    EXPECT_TRUE(system.isEmpty());
    writeFile(dir.path() + "/scan.json",
              R"({"pos": [1000, 2000], "hidden": 1, "lensLidarOffset": 0.5, "rot": 0.25, "scan_hash": "abc",
                  "alignmentBad": false, "captureTimestamp": 1700000000123, "systemcfg": "system3.cfg",
                  "shutterCounter": 42, "tags": [{"t": 1}]})");
    read();
    EXPECT_EQ(position, QPointF(1000, -2000));
    EXPECT_FALSE(shown);
    EXPECT_NEAR(heading, 0.25 * 57.29577951308232, 1e-4);
    EXPECT_EQ(hash, "abc");
    EXPECT_FALSE(bad);
    EXPECT_EQ(time, 1700000000123);
    EXPECT_EQ(cfg, "system3.cfg");
    EXPECT_EQ(counter, 42);
    EXPECT_EQ(tags.size(), 1);
}
