#include "camera/cam_params_ztm6.h"
#include "camera/ztm6_lens_rows.h"
#include "imaging/rotation.h"
#include "support/test_support.h"
#include "support/two_lens_scan_fixture.h"
#include "support/ztm6_model.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

using namespace testsupport;

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr int kH = 900, kW = 1800, kLensH = 600, kLensW = 1200;
using Rgb = std::array<uint8_t, 3>;

// A lens pixel that tells which lens, column and row it was taken from.
Rgb code(int lens, int column, int row)
{
    return {uint8_t(column & 0xff), uint8_t((column >> 8) | (lens << 4)), uint8_t(row % 251)};
}
QByteArray codedLens(int lens)
{
    return makeLensImage(kW, kH, [lens](int c, int r, uint8_t* p) { std::ranges::copy(code(lens, c, r), p); });
}
const uint8_t* bytes(const QByteArray& image) { return reinterpret_cast<const uint8_t*>(image.constData()); }
Rgb at(const std::vector<uint8_t>& image, int width, int row, int column)
{
    const uint8_t* p = image.data() + (size_t(row) * width + column) * 3;
    return {p[0], p[1], p[2]};
}
size_t countOf(const std::vector<uint8_t>& image, uint8_t value) { return size_t(std::ranges::count(image, value)); }

class IdentityRender : public ::testing::Test {
protected:
    void SetUp() override { model->initBlendMasks(7200, kW); }
    std::unique_ptr<CamParamsZTM6> model = makeIdentityZtm6(kH);
    const QByteArray image1 = codedLens(1), image2 = codedLens(2);
    std::vector<uint8_t> pano = std::vector<uint8_t>(size_t(kW) * kH * 3, 0);
};

// Distortion on both lenses, the fade terms on lens 1.
std::unique_ptr<CamParamsZTM6> makeDistortedModel(int lensHeight)
{
    auto model = makeIdentityZtm6(lensHeight);
    const float h = float(lensHeight);
    Ztm6LensRecord& a = model->lenses()[0];
    a.U0 = h + 3.5f, a.V0 = h / 2 - 2.25f, a.K1 = 0.03f, a.K2 = -0.01f, a.K3 = 0.002f;
    a.P1 = 0.002f, a.P2 = -0.0015f, a.P3 = 0.1f, a.P4 = 0.05f, a.RM = 1.2f;
    Ztm6LensRecord& b = model->lenses()[1];
    b.U0 = -4.0f, b.V0 = h / 2 + 1.5f, b.K1 = 0.025f, b.K2 = -0.008f, b.P1 = -0.001f, b.P2 = 0.002f;
    return model;
}

const ImageParams kLevelled = [] {
    ImageParams p;
    p[ImageParams::ROLL_GLOBAL] = 0.035f, p[ImageParams::PITCH_GLOBAL] = -0.05f;
    return p;
}();

// Smooth colours over the sphere of pano directions (y up), with fine detail that vanishes at the poles.
void sceneColour(double v0, double v1, double v2, uint8_t* rgb)
{
    const double base[3] = {128 + 70 * v0 + 20 * v1, 128 + 70 * v1 + 15 * v2, 128 + 70 * v2 - 20 * v0};
    for (int ch = 0; ch < 3; ++ch) {
        const double detail = 25 * (1 - v1 * v1) * std::sin(40 * v0 + 25 * v2 + ch);
        rgb[ch] = uint8_t(std::lround(std::clamp(base[ch] + detail, 0.0, 255.0)));
    }
}

// A scene with every brightness present at both seams.
void scene(int column, int row, uint8_t* rgb)
{
    for (int ch = 0; ch < 3; ++ch)
        rgb[ch] = uint8_t(127.5 + 120 * std::sin(column * 0.37 + row * 0.051 + ch * 1.3) * std::cos(row * 0.023 - ch));
}
// Brightness-weighted centre (column, row) of the pixels brighter than the background near a point.
std::pair<double, double> findDot(const std::vector<uint8_t>& pano, int width, int height, int column, int row)
{
    double sumC = 0, sumR = 0, weight = 0;
    for (int r = std::max(0, row - 12); r < std::min(height, row + 12); ++r) {
        for (int c = column - 12; c < column + 12; ++c) {
            const double w = std::max(0, pano[(size_t(r) * width + (c + width) % width) * 3] - 40);
            sumC += w * c, sumR += w * r, weight += w;
        }
    }
    return weight > 0 ? std::pair{sumC / weight, sumR / weight} : std::pair{-1e9, -1e9};
}
// Pixels of (coverage 255, R, G, B), every colour byte of one value.
} // namespace

TEST_F(IdentityRender, EachPanoPixelIsTheLensPixelTheGeometryNames)
{
    model->blendTwoLensPano(bytes(image1), bytes(image2), kW, kH, ImageParams(), pano.data());
    // Seams at azimuth -90 and +90 degrees, each an eighth of the pano wide.
    const int band = kW / 8, start1 = kW / 4 - (band + 1) / 2, start2 = 3 * kW / 4 - (band + 1) / 2;
    for (int r = 0; r < kH; ++r) {
        for (int c = 0; c < kW; ++c) {
            if ((c < start1 || c >= start1 + band) && (c < start2 || c >= start2 + band)) {
                ASSERT_EQ(at(pano, kW, r, c), code(c > start1 && c < start2 ? 1 : 2, c, r)) << r << "," << c;
            }
        }
    }
    // On the equator the mask steps from lens 2 to lens 1 in band 1 and back in band 2.
    const int r = kH / 2 + 3;
    for (const auto& [c, lens] :
         {std::pair{start1 + 2, 2}, {start1 + band - 4, 1}, {start2 + 2, 1}, {start2 + band - 4, 2}})
        EXPECT_EQ(at(pano, kW, r, c), code(lens, c, r)) << c;

    // A width without its mask is refused before any pixel is written.
    model->initBlendMasks(7200, 3600);
    std::ranges::fill(pano, 77);
    EXPECT_EQ(thrownMessage([&] {
                  model->blendTwoLensPano(bytes(image1), bytes(image2), kW, kH, ImageParams(), pano.data());
              }),
              "no mask was initialized for this image size");
    EXPECT_EQ(countOf(pano, 77), pano.size());
}

TEST_F(IdentityRender, PoleRowsShowTheirOwnPoleAndSeamPixelsThereKeepTheirColour)
{
    // Lens row 0 is the pole at elevation +90 degrees, the last row the other one.
    const QByteArray poles = makeLensImage(kW, kH, [](int, int r, uint8_t* p) {
        p[0] = r < 3 ? 200 : (r >= kH - 3 ? 20 : 100), p[1] = 90, p[2] = 60;
    });
    model->blendTwoLensPano(bytes(poles), bytes(poles), kW, kH, ImageParams(), pano.data());
    for (int c = 0; c < kW; ++c) {
        ASSERT_NEAR(at(pano, kW, 0, c)[0], 200, 2) << c;
        ASSERT_NEAR(at(pano, kW, 0, c)[1], 90, 2) << c;
        ASSERT_NEAR(at(pano, kW, kH - 1, c)[0], 20, 2) << c;
        ASSERT_NEAR(at(pano, kW, kH - 1, c)[2], 60, 2) << c;
    }
}

TEST(Ztm6RenderRefusals, UnusableModelsAreRefusedAndWildOnesNeverSampleOutsideTheImages)
{
    const QByteArray image(64 * 32 * 3, '\x40');
    const uint8_t* flat = bytes(image);
    const ImageParams none;
    std::vector<uint8_t> pano(64 * 32 * 3);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Lens sizes not 2:1, not positive or beyond the decoder's budget, terms that are not finite,
    // centres more than an image size outside their image: refused before any pixel is written.
    struct Unusable {
        int width, height;
        float k2, u0, v0;
    };
    for (const Unusable& u : {Unusable{64, 33, 0, 0, 16}, {0, 0, 0, 0, 16}, {-64, -32, 0, 0, 16}, {64, 0, 0, 0, 16},
                              {2, 1, 0, 0, 16}, {1 << 15, 1 << 14, 0, 0, 16}, {64, 32, nan, 0, 16},
                              {64, 32, 0, 1e9f, 16}, {64, 32, 0, -64.5f, 16}, {64, 32, 0, 0, 64.5f}}) {
        SCOPED_TRACE(testing::Message() << u.width << " x " << u.height << " " << u.k2 << " " << u.u0 << " " << u.v0);
        auto model = makeIdentityZtm6(32);
        model->initBlendMasks(64, 128);
        model->header().IMG_WIDTH = u.width;
        model->header().IMG_HEIGHT = u.height;
        model->lenses()[1].K2 = u.k2;
        model->lenses()[1].U0 = u.u0;
        model->lenses()[1].V0 = u.v0;
        EXPECT_TRUE(CamParamsZTM6::unusableCalibration(model->header(), model->lenses()).has_value());
        std::ranges::fill(pano, 9);
        EXPECT_THROW(model->blendTwoLensPano(flat, flat, 64, 32, none, pano.data()), std::runtime_error);
        EXPECT_THROW(model->renderPano(flat, flat, nullptr, 64, 32, none, pano.data()), std::runtime_error);
        EXPECT_THROW(model->renderStrip(flat, flat, nullptr, 64, 32, none, pano.data()), std::runtime_error);
        EXPECT_EQ(countOf(pano, 9), pano.size());
    }
    // Centres at the edges of what is taken, huge distortion terms and levelling angles: the
    // sanitizer run checks every read (the seam render's wrap table included), and the output keeps
    // the images' one colour; a levelling that is not finite (the last case) leaves black.
    for (const auto& [u0, v0] : {std::pair{128.0f, -32.0f}, {-64.0f, 64.0f}, {127.9f, 63.9f}, {-63.7f, -31.7f},
                                 {70.0f, -5.0f}, {0.0f, 0.0f}}) {
        SCOPED_TRACE(testing::Message() << u0 << ", " << v0);
        auto model = makeIdentityZtm6(32);
        model->initBlendMasks(64, 128);
        for (Ztm6LensRecord& lens : model->lenses())
            lens.U0 = u0, lens.V0 = v0, lens.K1 = 0.3f, lens.K3 = 3e38f, lens.RM = 1.5f;
        EXPECT_FALSE(CamParamsZTM6::unusableCalibration(model->header(), model->lenses()).has_value());
        ImageParams p;
        p[ImageParams::ROLL_GLOBAL] = u0 == 0.0f ? std::numeric_limits<float>::infinity() : 1e7f;
        p[ImageParams::PITCH_GLOBAL] = -3.0f;
        model->blendTwoLensPano(flat, flat, 64, 32, p, pano.data());
        EXPECT_EQ(countOf(pano, u0 == 0.0f ? 0 : 0x40), pano.size());
    }
}

// Lens images as wide as an int allows, as a damaged calibration may claim: mapping a position
// (as the load does for every tag) stays in range and leaves the position where no lens corrects it.
TEST(Ztm6LensModel, HugeLensImageWidthsDoNotRunOverTheIntRange)
{
    auto model = makeIdentityZtm6(32);
    model->header().IMG_WIDTH = 2147483646;
    model->header().IMG_HEIGHT = 1073741823;
    float x = 0, y = 0;
    model->lensProject(2.0e9f, 5.0e8f, 0.1f, 0.2f, x, y);
    EXPECT_TRUE(std::isfinite(x) && std::isfinite(y));
    float u = 0, v = 0;
    model->panoToCamera(0.9f, 0.5f, ImageParams(), u, v);
    EXPECT_TRUE(std::isfinite(u) && std::isfinite(v));
}

TEST(Ztm6Geometry, DistortedLevelledLensImagesOfASceneRenderToThatScene)
{
    const int hs = 600, ws = 1200, w = 1600, h = 800;
    auto model = makeDistortedModel(hs);
    model->initBlendMasks(7200, w);
    const ImageParams& p = kLevelled;
    float L[9];
    rotationFromAngles(-p[ImageParams::PITCH_GLOBAL], 0.0f, -p[ImageParams::ROLL_GLOBAL], L);
    const double rm = model->lenses()[0].RM;
    const float fadeStart = float(std::pow(std::sin(rm), 2));
    const float fadeEnd = float(std::pow(std::sin(rm + (kPi / 2 - rm) / 2), 2));

    // Each lens image shows the scene where the lens sees it; where only the other lens is used
    // (well away from both seams) it holds magenta, which must never reach the pano.
    auto lensImage = [&](int lens) {
        return makeLensImage(ws, hs, [&](int column, int row, uint8_t* rgb) {
            const bool outer = column < ws / 8 || column >= 7 * ws / 8;
            if (row > hs / 6 && row < 5 * hs / 6 && (lens == 1 ? outer : column >= 3 * ws / 8 && column < 5 * ws / 8)) {
                rgb[0] = 255, rgb[1] = 0, rgb[2] = 255;
                return;
            }
            // The undistorted lens position by fixed-point iteration, then its levelled direction.
            float x = float(column), y = float(row);
            for (int i = 0; i < 20; ++i) {
                float px = 0, py = 0;
                model->lensProject(x, y, fadeStart, fadeEnd, px, py);
                const float dx = float(column) - px;
                x += dx - float(ws) * std::round(dx / float(ws));
                y += float(row) - py;
            }
            const double az = x * kPi / hs - kPi, el = kPi / 2 - y * kPi / hs;
            const double d[3] = {std::cos(el) * std::cos(az), std::sin(el), std::cos(el) * std::sin(az)};
            sceneColour(L[0] * d[0] + L[3] * d[1] + L[6] * d[2], L[1] * d[0] + L[4] * d[1] + L[7] * d[2],
                        L[2] * d[0] + L[5] * d[1] + L[8] * d[2], rgb);
        });
    };
    const QByteArray image1 = lensImage(1), image2 = lensImage(2);
    std::vector<uint8_t> pano(size_t(w) * h * 3, 0), expected(pano.size());
    model->blendTwoLensPano(bytes(image1), bytes(image2), w, h, p, pano.data());
    const double step = 2 * kPi / w;
    for (int r = 0; r < h; ++r) {
        const double e = std::min((h / 2 - r) * step, kPi / 2);
        for (int c = 0; c < w; ++c) {
            const double a = c * step - kPi;
            uint8_t* rgb = &expected[(size_t(r) * w + c) * 3];
            sceneColour(std::cos(e) * std::cos(a), std::sin(e), std::cos(e) * std::sin(a), rgb);
        }
    }
    auto rowsPsnr = [&](int first, int rows) {
        return psnr(&pano[size_t(first) * w * 3], &expected[size_t(first) * w * 3], size_t(rows) * w * 3);
    };
    EXPECT_GE(rowsPsnr(0, h), 35.0);
    EXPECT_GE(rowsPsnr(0, 4), 35.0) << "rows at elevation +90";
    EXPECT_GE(rowsPsnr(h - 4, 4), 35.0) << "rows at elevation -90";
}

TEST(Ztm6Geometry, ADotInALensImageLandsWherePanoToCameraSays)
{
    const int hs = 600, ws = 1200;
    auto model = makeDistortedModel(hs);
    model->initBlendMasks(7200, ws);
    const ImageParams& p = kLevelled;
    // Away from the seam bands; lens 1 looks at the middle half, lens 2 at the outer halves.
    for (const auto& [lens, column, row] : {std::tuple{1, 700, 200}, {1, 620, 80}, {2, 1150, 350}, {2, 30, 520}}) {
        SCOPED_TRACE(testing::Message() << "lens " << lens << " dot at " << column << "," << row);
        auto fill = [&, lens = lens, column = column, row = row](int k) {
            return makeLensImage(ws, hs, [&](int c, int r, uint8_t* rgb) {
                rgb[0] = k == lens && std::abs(c - column) <= 1 && std::abs(r - row) <= 1 ? 240 : 30;
                rgb[1] = rgb[2] = 30;
            });
        };
        const QByteArray image1 = fill(1), image2 = fill(2);
        std::vector<uint8_t> pano(size_t(ws) * hs * 3, 0);
        model->blendTwoLensPano(bytes(image1), bytes(image2), ws, hs, p, pano.data());
        // The pano's fractions count from its top, which is the last buffer row.
        float u = 0, v = 0;
        model->panoToCamera(float(column) / ws, 1.0f - float(row) / hs, p, u, v);
        const double predictedColumn = u * ws, predictedRow = hs * (1.0 - v);
        const auto [foundColumn, foundRow] = findDot(pano, ws, hs, int(predictedColumn), int(predictedRow));
        EXPECT_NEAR(foundColumn, predictedColumn, 1.5);
        EXPECT_NEAR(foundRow, predictedRow, 1.5);
    }
}

// Camera-sized lens images of pseudo-random bytes (xorshift32): every colour, every clamp.
QByteArray noiseLens(uint32_t seed)
{
    QByteArray image(3840 * 1920 * 3, Qt::Uninitialized);
    for (char& byte : image) {
        seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
        byte = char(seed >> 24);
    }
    return image;
}

// The SHA-1 of a render of the noise lenses through the distorted model (hex digits).
std::string renderDigest(const CamParamsZTM6& model, const QByteArray& image1, const QByteArray* image2, int width,
                        const ImageParams& p)
{
    std::vector<uint8_t> pano(size_t(width) * (width / 2) * 3, 0);
    model.blendTwoLensPano(bytes(image1), image2 ? bytes(*image2) : nullptr, width, width / 2, p, pano.data());
    return QCryptographicHash::hash(QByteArrayView(pano.data(), qsizetype(pano.size())), QCryptographicHash::Sha1)
        .toHex()
        .toStdString();
}

// These digests pin the output of the render as it stood before its speed work: distortion, fade,
// levelling, both seams, the pole and wrap paths at the preview and the full size, with and without
// the second lens. A faster render must reproduce every byte, whatever the number of threads.
TEST(Ztm6RenderPinned, TheRenderOfADistortedLevelledModelKeepsEveryByte)
{
    // The C library picks its float sine, cosine and arc tangents by processor; the digests were
    // taken with the forms it picks where FMA is there.
    if (!__builtin_cpu_supports("fma"))
        GTEST_SKIP() << "the digests hold for the C library's FMA forms of its float functions";
    auto model = makeDistortedModel(1920);
    model->initBlendMasks(7200, 1800);
    const QByteArray image1 = noiseLens(0x9e3779b9u), image2 = noiseLens(0x7f4a7c15u);
    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    const std::string previewOnOneThread = renderDigest(*model, image1, &image2, 1800, kLevelled);
    omp_set_num_threads(std::max(threads, 4));
    EXPECT_EQ(previewOnOneThread, "4c7b6f6d1a2237cc0a3ff7ad13b1a3fd6d3eb6fc");
    EXPECT_EQ(renderDigest(*model, image1, &image2, 1800, kLevelled), "4c7b6f6d1a2237cc0a3ff7ad13b1a3fd6d3eb6fc");
    EXPECT_EQ(renderDigest(*model, image1, &image2, 7200, kLevelled), "cec708ad762a473ce215bf34a383aca2e8d4ad6c");
    EXPECT_EQ(renderDigest(*model, image1, nullptr, 1800, kLevelled), "e51811e9c69b5a2147ff9fa2bcb448cd7b693181");
    EXPECT_EQ(renderDigest(*model, image1, &image2, 1800, ImageParams()), "262f91c407d02e74fefebc1632c3ac1a216868f0");
    omp_set_num_threads(threads);
}

TEST(Ztm6LensModel, ABlockOfPositionsMapsAsEachPositionDoesAlone)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    auto oneRecord = makeIdentityZtm6(kLensH, 1);
    oneRecord->lenses()[0].K1 = 0.05f, oneRecord->lenses()[0].RM = 1.2f;
    auto wild = makeIdentityZtm6(kLensH);
    for (Ztm6LensRecord& lens : wild->lenses())
        lens.K1 = 0.3f, lens.K3 = 3e38f, lens.RM = 1.5f;
    auto distorted = makeDistortedModel(kLensH);
    for (const CamParamsZTM6* model : {distorted.get(), oneRecord.get(), wild.get()}) {
        // Positions over the image and past its edges, the record boundaries at a quarter and three
        // quarters of the width and a float either side of them, and positions that are no number.
        std::vector<float> xs, ys;
        for (float x = -40.5f; x < kLensW + 40; x += 13.37f)
            for (float y = -20.25f; y < kLensH + 20; y += 11.3f)
                xs.push_back(x), ys.push_back(y);
        for (float edge : {float(kLensW / 4), float(3 * kLensW / 4)})
            for (float x : {std::nextafter(edge, 0.0f), edge, std::nextafter(edge, 1e9f)})
                xs.push_back(x), ys.push_back(float(kLensH / 3));
        for (const auto& [x, y] : {std::pair{nan, 10.0f}, {10.0f, nan}, {inf, 5.0f}, {-inf, inf}})
            xs.push_back(x), ys.push_back(y);
        for (const auto& [fadeStart, fadeEnd] : {std::pair{0.868f, 0.966f}, {0.2f, 0.4f}}) {
            const Ztm6LensRows rows(*model, fadeStart, fadeEnd);
            for (size_t begin = 0; begin < xs.size(); begin += 61) {
                // Blocks of 61 positions: not a multiple of four, so the last lanes carry over.
                const int count = int(std::min<size_t>(61, xs.size() - begin));
                float x[Ztm6LensRows::kBlock] = {}, y[Ztm6LensRows::kBlock] = {};
                float outX[Ztm6LensRows::kBlock], outY[Ztm6LensRows::kBlock];
                std::copy_n(xs.begin() + ptrdiff_t(begin), count, x);
                std::copy_n(ys.begin() + ptrdiff_t(begin), count, y);
                rows.project(x, y, count, outX, outY);
                for (int k = 0; k < count; ++k) {
                    float ex = 0, ey = 0;
                    model->lensProject(x[k], y[k], fadeStart, fadeEnd, ex, ey);
                    auto same = [](float a, float b) {
                        return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b) || (std::isnan(a) && std::isnan(b));
                    };
                    ASSERT_TRUE(same(outX[k], ex) && same(outY[k], ey))
                        << "(" << x[k] << ", " << y[k] << ") gives (" << outX[k] << ", " << outY[k] << ") against ("
                        << ex << ", " << ey << ")";
                }
            }
        }
    }
}

TEST(Ztm6LensModel, ACalibrationWithOneLensRecordLeavesTheSecondLensUncorrected)
{
    auto model = makeIdentityZtm6(kLensH, 1);
    model->lenses()[0].K1 = 0.05f;
    model->lenses()[0].RM = 1.2f;
    auto displacement = [&](float x) {
        float ox = 0, oy = 0;
        model->lensProject(x, 200.0f, 0.868f, 0.966f, ox, oy);
        return std::hypot(ox - x, oy - 200.0f);
    };
    for (float x : {5.0f, 150.0f, 290.0f, 950.0f, 1195.0f})
        EXPECT_EQ(displacement(x), 0.0f) << x;
    EXPECT_GT(displacement(750.0f), 0.5f);
    model->initBlendMasks(kLensW, 7200);
    const QByteArray image(kLensW * kLensH * 3, '\x55');
    std::vector<uint8_t> pano(size_t(kLensW) * kLensH * 3, 0);
    model->blendTwoLensPano(bytes(image), bytes(image), kLensW, kLensH, ImageParams(), pano.data());
    EXPECT_EQ(countOf(pano, 0x55), pano.size());
}

TEST(Ztm6LaserOffset, IsTheNegatedPositionTruncatedAndZeroForValuesNoIntCanHold)
{
    auto model = makeIdentityZtm6(kLensH);
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    for (const auto& [posY, expected] : {std::pair{12.7f, -12}, {-12.7f, 12}, {-0.9f, 0}, {nan, 0}, {inf, 0},
                                         {-3.0e9f, 0}, {2147483520.0f, -2147483520}}) {
        model->header().POSY = posY;
        EXPECT_EQ(model->laserOffset(), expected) << posY;
    }
}

TEST(Ztm6ColourEqualisation, RecoversTheGainCurveOfTheSecondLensPerChannelFromImagesOfAnySize)
{
    auto model = makeIdentityZtm6(kLensH);
    const double gains[3] = {0.42, 0.5, 0.615};
    // Lens 2 saw the scene through the inverse curves, so the curves map it back onto lens 1.
    uint8_t inverse[3][256];
    for (int n = 0; n < 256 * 3; ++n)
        inverse[n / 256][n % 256] = inverseGain(gains[n / 256], (n % 256) / 255.0);
    const QByteArray image1 = makeLensImage(kLensW, kLensH, scene);
    const QByteArray image2 = makeLensImage(kLensW, kLensH, [&](int c, int r, uint8_t* rgb) {
        scene(c, r, rgb);
        for (int ch = 0; ch < 3; ++ch)
            rgb[ch] = inverse[ch][rgb[ch]];
    });
    ImageParams p;
    for (int i = ImageParams::RED_GAIN_3; i <= ImageParams::BLUE_GAIN_3; ++i)
        p[i] = 0.9f;
    model->equalizeShotColors(bytes(image1), bytes(image2), nullptr, p);
    for (int ch = 0; ch < 3; ++ch) {
        EXPECT_NEAR(p[ImageParams::RED_GAIN_2 + ch], gains[ch], 0.005) << "one search step";
        EXPECT_EQ(p[ImageParams::RED_GAIN_3 + ch], 0.5f);
    }

    // Without the second lens nothing changes.
    const ImageParams before = p;
    model->equalizeShotColors(bytes(image1), nullptr, nullptr, p);
    EXPECT_EQ(p, before);
    // 150 grid rows over a 40-row image would round past the last row without the limit.
    model = makeIdentityZtm6(40);
    const QByteArray small = makeLensImage(80, 40, scene);
    model->equalizeShotColors(bytes(small), bytes(small), nullptr, p);
    EXPECT_NEAR(p[ImageParams::GREEN_GAIN_2], 0.5f, 0.003f);
}
