#include "camera/cam_params_ztm6.h"
#include "camera/rotation.h"
#include "support/ztm6_model.h"

#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using testsupport::makeIdentityZtm6;
using testsupport::makeLensImage;

namespace {
constexpr double kPi = 3.14159265358979323846;

// A calibration with distortion on both lenses, and a levelled scan.
std::unique_ptr<CamParamsZTM6> makeDistortedModel(int lensHeight)
{
    auto model = makeIdentityZtm6(lensHeight);
    Ztm6LensRecord& lens1 = model->lenses()[0];
    lens1.U0 += 3.5f;
    lens1.V0 -= 2.25f;
    lens1.K1 = 0.03f;
    lens1.K2 = -0.01f;
    lens1.K3 = 0.002f;
    lens1.P1 = 0.002f;
    lens1.P2 = -0.0015f;
    lens1.P3 = 0.1f;
    lens1.P4 = 0.05f;
    lens1.RM = 1.2f;
    Ztm6LensRecord& lens2 = model->lenses()[1];
    lens2.U0 = -4.0f;
    lens2.V0 += 1.5f;
    lens2.K1 = 0.025f;
    lens2.K2 = -0.008f;
    lens2.P1 = -0.001f;
    lens2.P2 = 0.002f;
    return model;
}

ImageParams levelledScan()
{
    ImageParams p;
    p[ImageParams::ROLL_GLOBAL] = 0.035f;
    p[ImageParams::PITCH_GLOBAL] = -0.05f;
    return p;
}

// Lens-image position whose distorted position is (targetX, targetY), by fixed-point iteration.
void undistort(const CamParamsZTM6& model, float targetX, float targetY, float fadeStart, float fadeEnd, float& x,
               float& y)
{
    const float width = static_cast<float>(model.imageWidth());
    x = targetX;
    y = targetY;
    for (int i = 0; i < 20; ++i) {
        float px = 0.0f, py = 0.0f;
        model.lensProject(x, y, fadeStart, fadeEnd, px, py);
        float dx = targetX - px;
        dx -= width * std::round(dx / width);
        x += dx;
        y += targetY - py;
    }
}

void fadeLimitsOf(const CamParamsZTM6& model, float& fadeStart, float& fadeEnd)
{
    const double rm = model.lenses()[0].RM;
    fadeStart = static_cast<float>(std::pow(std::sin(rm), 2));
    fadeEnd = static_cast<float>(std::pow(std::sin(rm + (kPi / 2 - rm) / 2), 2));
}

// The scene: smooth colours over the sphere of pano directions (y up), with fine detail that
// vanishes at the poles.
void sceneColour(double v0, double v1, double v2, uint8_t* rgb)
{
    const double base[3] = {128 + 70 * v0 + 20 * v1, 128 + 70 * v1 + 15 * v2, 128 + 70 * v2 - 20 * v0};
    for (int ch = 0; ch < 3; ++ch) {
        const double detail = 25 * (1 - v1 * v1) * std::sin(40 * v0 + 25 * v2 + ch);
        rgb[ch] = static_cast<uint8_t>(std::lround(std::clamp(base[ch] + detail, 0.0, 255.0)));
    }
}

// Pano direction of a lens position for a levelling L (lens direction p = L v).
void panoDirection(double x, double y, double scale, const float L[9], double v[3])
{
    const double az = x / scale - kPi;
    const double el = kPi / 2 - y / scale;
    const double p[3] = {std::cos(el) * std::cos(az), std::sin(el), std::cos(el) * std::sin(az)};
    for (int i = 0; i < 3; ++i)
        v[i] = L[i] * p[0] + L[3 + i] * p[1] + L[6 + i] * p[2];
}

double regionPsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int width, int firstRow, int rows)
{
    const size_t begin = static_cast<size_t>(firstRow) * width * 3;
    return testsupport::psnr(a.data() + begin, b.data() + begin, static_cast<size_t>(rows) * width * 3);
}

struct DotCentre {
    double column = 0, row = 0, weight = 0;
};

// Brightness-weighted centre of the pixels brighter than the background in a window.
DotCentre findDot(const std::vector<uint8_t>& pano, int width, int height, int nearColumn, int nearRow, int reach)
{
    DotCentre dot;
    for (int r = std::max(0, nearRow - reach); r < std::min(height, nearRow + reach); ++r) {
        for (int c = nearColumn - reach; c < nearColumn + reach; ++c) {
            const int wrapped = (c + width) % width;
            const double w = std::max(0, pano[(static_cast<size_t>(r) * width + wrapped) * 3] - 40);
            dot.column += w * c;
            dot.row += w * r;
            dot.weight += w;
        }
    }
    if (dot.weight > 0) {
        dot.column /= dot.weight;
        dot.row /= dot.weight;
    }
    return dot;
}
} // namespace

TEST(Ztm6Geometry, DistortedLevelledLensImagesOfASceneRenderToThatScene)
{
    const int hs = 600, ws = 1200, w = 1600, h = 800;
    auto model = makeDistortedModel(hs);
    model->initBlendMasks(7200, w);
    const ImageParams p = levelledScan();
    float L[9];
    rotationFromAngles(-p[ImageParams::PITCH_GLOBAL], 0.0f, -p[ImageParams::ROLL_GLOBAL], L);
    float fadeStart = 0, fadeEnd = 0;
    fadeLimitsOf(*model, fadeStart, fadeEnd);
    const double scale = hs / kPi;

    // Each lens image shows the scene where the lens sees it; where the other lens alone is used
    // (well away from both seams) it holds magenta, which must never reach the pano.
    auto lensImage = [&](int lens) {
        return makeLensImage(ws, hs, [&](int column, int row, uint8_t* rgb) {
            const bool outerColumn = column < ws / 8 || column >= 7 * ws / 8;
            const bool innerColumn = column >= 3 * ws / 8 && column < 5 * ws / 8;
            const bool midRow = row > hs / 6 && row < 5 * hs / 6;
            if (midRow && (lens == 1 ? outerColumn : innerColumn)) {
                rgb[0] = 255, rgb[1] = 0, rgb[2] = 255;
                return;
            }
            float x = 0, y = 0;
            undistort(*model, static_cast<float>(column), static_cast<float>(row), fadeStart, fadeEnd, x, y);
            double v[3];
            panoDirection(x, y, scale, L, v);
            sceneColour(v[0], v[1], v[2], rgb);
        });
    };
    const QByteArray image1 = lensImage(1);
    const QByteArray image2 = lensImage(2);

    std::vector<uint8_t> pano(static_cast<size_t>(w) * h * 3, 0);
    model->blendTwoLensPano(reinterpret_cast<const uint8_t*>(image1.constData()),
                            reinterpret_cast<const uint8_t*>(image2.constData()), w, h, p, pano.data());

    std::vector<uint8_t> expected(pano.size());
    const double d = 2 * kPi / w;
    for (int r = 0; r < h; ++r) {
        const double e = std::min((h / 2 - r) * d, kPi / 2);
        for (int c = 0; c < w; ++c) {
            const double a = c * d - kPi;
            sceneColour(std::cos(e) * std::cos(a), std::sin(e), std::cos(e) * std::sin(a),
                        expected.data() + (static_cast<size_t>(r) * w + c) * 3);
        }
    }
    EXPECT_GE(regionPsnr(pano, expected, w, 0, h), 35.0);
    EXPECT_GE(regionPsnr(pano, expected, w, 0, 4), 35.0) << "rows at elevation +90";
    EXPECT_GE(regionPsnr(pano, expected, w, h - 4, 4), 35.0) << "rows at elevation -90";
    EXPECT_GE(regionPsnr(pano, expected, w, h / 2 - 50, 100), 35.0) << "equator";
}

TEST(Ztm6Geometry, ADotInALensImageLandsWherePanoToCameraSays)
{
    const int hs = 600, ws = 1200;
    auto model = makeDistortedModel(hs);
    model->initBlendMasks(7200, ws);
    const ImageParams p = levelledScan();
    struct Dot {
        int lens, column, row;
    };
    // Away from the seam bands; lens 1 looks at the middle half, lens 2 at the outer halves.
    const Dot dots[] = {{1, 700, 200}, {1, 500, 430}, {1, 620, 80}, {2, 100, 250}, {2, 1150, 350}, {2, 30, 520}};
    for (const Dot& dot : dots) {
        auto fill = [&](int lens) {
            return makeLensImage(ws, hs, [&](int c, int r, uint8_t* rgb) {
                const bool on = lens == dot.lens && std::abs(c - dot.column) <= 1 && std::abs(r - dot.row) <= 1;
                rgb[0] = on ? 240 : 30;
                rgb[1] = rgb[2] = 30;
            });
        };
        const QByteArray image1 = fill(1), image2 = fill(2);
        std::vector<uint8_t> pano(static_cast<size_t>(ws) * hs * 3, 0);
        model->blendTwoLensPano(reinterpret_cast<const uint8_t*>(image1.constData()),
                                reinterpret_cast<const uint8_t*>(image2.constData()), ws, hs, p, pano.data());

        // The pano's fractions count from its top, which is the last buffer row.
        float u = 0, v = 0;
        model->panoToCamera(static_cast<float>(dot.column) / ws, 1.0f - static_cast<float>(dot.row) / hs, p, u, v);
        const double predictedColumn = u * ws;
        const double predictedRow = hs * (1.0 - v);
        const DotCentre found = findDot(pano, ws, hs, static_cast<int>(predictedColumn), static_cast<int>(predictedRow), 12);
        ASSERT_GT(found.weight, 0) << "dot at " << dot.column << "," << dot.row << " not found";
        EXPECT_NEAR(found.column, predictedColumn, 1.5) << "dot at " << dot.column << "," << dot.row;
        EXPECT_NEAR(found.row, predictedRow, 1.5) << "dot at " << dot.column << "," << dot.row;
    }
}

TEST(Ztm6Geometry, AMarkerNearTheTopOfALensFileEndsUpNearTheTopOfThePano)
{
    const int hs = 600, ws = 1200;
    auto model = makeIdentityZtm6(hs);
    model->initBlendMasks(7200, ws);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    // Files as a user sees them: sky in the upper part, ground below, a red marker at row 40.
    for (int lens = 1; lens <= 2; ++lens) {
        QImage file(ws, hs, QImage::Format_RGB888);
        for (int y = 0; y < hs; ++y)
            for (int x = 0; x < ws; ++x)
                file.setPixelColor(x, y, y < hs * 2 / 5 ? QColor(40, 90, 220) : QColor(120, 80, 40));
        if (lens == 1)
            for (int y = 30; y <= 50; ++y)
                for (int x = 590; x <= 610; ++x)
                    file.setPixelColor(x, y, QColor(230, 20, 20));
        ASSERT_TRUE(file.save(folder.filePath(QStringLiteral("h%1.jpg").arg(lens)), "JPG", 95));
    }
    QByteArray image1, image2;
    model->loadFisheyeImage(folder.path(), 0, image1, false);
    model->loadFisheyeImage(folder.path(), 1, image2, false);
    ASSERT_EQ(image1.size(), ws * hs * 3);

    std::vector<uint8_t> pano(static_cast<size_t>(ws) * hs * 3, 0);
    model->blendTwoLensPano(reinterpret_cast<const uint8_t*>(image1.constData()),
                            reinterpret_cast<const uint8_t*>(image2.constData()), ws, hs, ImageParams(), pano.data());

    // Pano buffers are bottom-up like the lens buffers: the viewer's top row is the last one.
    auto viewed = [&](int row, int column) { return pano.data() + (static_cast<size_t>(hs - 1 - row) * ws + column) * 3; };
    EXPECT_GT(viewed(10, 300)[2], 180) << "sky at the top";
    EXPECT_LT(viewed(hs - 10, 300)[2], 100) << "ground at the bottom";
    EXPECT_GT(viewed(40, 600)[0], 180);
    EXPECT_LT(viewed(40, 600)[2], 80);

    float u = 0, v = 0;
    model->panoToCamera(600.0f / ws, 40.0f / hs, ImageParams(), u, v);
    std::vector<uint8_t> redOnly(pano);
    for (size_t i = 0; i < redOnly.size(); i += 3)
        redOnly[i] = (redOnly[i] > 180 && redOnly[i + 2] < 80) ? 255 : 0;
    const DotCentre found = findDot(redOnly, ws, hs, 600, hs - 1 - 40, 30);
    EXPECT_NEAR(found.column, u * ws, 1.5);
    EXPECT_NEAR(hs - 1 - found.row, v * hs, 1.5);
}
