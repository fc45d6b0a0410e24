#include "camera/cam_params_ztm6.h"
#include "support/ztm6_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using testsupport::makeIdentityZtm6;

namespace {
constexpr int kHeight = 600;
constexpr int kWidth = 1200;

float displacement(const CamParamsZTM6& model, float x, float y, float fadeStart, float fadeEnd)
{
    float ox = 0, oy = 0;
    model.lensProject(x, y, fadeStart, fadeEnd, ox, oy);
    return std::hypot(ox - x, oy - y);
}
} // namespace

TEST(Ztm6LensModel, CorrectionFadesLinearlyBetweenTheLimitsAndStopsAtTheEnd)
{
    auto model = makeIdentityZtm6(kHeight);
    model->lenses()[0].K1 = 0.04f;
    // 35 degrees right of lens 1's axis and 30 degrees up: r2 is about 0.5.
    const float x = kWidth / 2.0f + 35.0f / 180.0f * kHeight;
    const float y = kHeight / 2.0f + 30.0f / 180.0f * kHeight;
    const float full = displacement(*model, x, y, 0.9f, 0.95f);
    ASSERT_GT(full, 2.0f);
    // Half way through the fade the correction is half as large (the small-angle model is linear).
    const double lon = 35.0 * M_PI / 180, lat = 30.0 * M_PI / 180;
    const double r2 = std::pow(std::sin(lon) * std::cos(lat), 2) + std::pow(std::sin(lat), 2);
    const float start = static_cast<float>(r2 - 0.1), end = static_cast<float>(r2 + 0.1);
    EXPECT_NEAR(displacement(*model, x, y, start, end), full / 2, full * 0.02);
    // At or beyond the end the input comes back unchanged.
    float ox = 0, oy = 0;
    model->lensProject(x, y, 0.1f, static_cast<float>(r2 - 1e-4), ox, oy);
    EXPECT_EQ(ox, x);
    EXPECT_EQ(oy, y);
}

TEST(Ztm6LensModel, TheOuterLensIsOneLensAcrossTheImageEdge)
{
    // Lens 2 looks at column 0; a symmetric radial term moves mirrored positions symmetrically,
    // whether the position lies left of the edge (right end of the image) or right of it.
    auto model = makeIdentityZtm6(kHeight);
    model->lenses()[1].K1 = 0.05f;
    model->lenses()[0].RM = 1.2f;
    const float y = 120.0f;
    for (float d : {10.0f, 80.0f, 200.0f}) {
        float rightX = 0, rightY = 0, leftX = 0, leftY = 0;
        model->lensProject(d, y, 0.868f, 0.966f, rightX, rightY);
        model->lensProject(kWidth - d, y, 0.868f, 0.966f, leftX, leftY);
        EXPECT_GT(std::hypot(rightX - d, rightY - y), 1.0f) << d;
        EXPECT_NEAR(rightX + leftX, static_cast<float>(kWidth), 2e-3) << d;
        EXPECT_NEAR(rightY, leftY, 2e-3) << d;
    }
    // Lens 1's own terms do not touch lens 2's columns.
    model->lenses()[1].K1 = 0.0f;
    model->lenses()[0].K1 = 0.3f;
    EXPECT_LT(displacement(*model, 100.0f, y, 0.868f, 0.966f), 2e-3);
    EXPECT_GT(displacement(*model, 700.0f, y, 0.868f, 0.966f), 1.0f);
}

TEST(Ztm6LensModel, ACalibrationWithOneLensRecordLeavesTheSecondLensUncorrected)
{
    auto model = makeIdentityZtm6(kHeight, 1);
    model->lenses()[0].K1 = 0.05f;
    model->lenses()[0].RM = 1.2f;
    for (float x : {5.0f, 150.0f, 290.0f, 950.0f, 1195.0f}) {
        float ox = 0, oy = 0;
        model->lensProject(x, 200.0f, 0.868f, 0.966f, ox, oy);
        EXPECT_EQ(ox, x);
        EXPECT_EQ(oy, 200.0f);
    }
    EXPECT_GT(displacement(*model, 750.0f, 200.0f, 0.868f, 0.966f), 0.5f);

    // The full render works from the one record too.
    model->initBlendMasks(kWidth, 7200);
    const QByteArray image(kWidth * kHeight * 3, '\x55');
    const auto* img = reinterpret_cast<const uint8_t*>(image.constData());
    std::vector<uint8_t> pano(static_cast<size_t>(kWidth) * kHeight * 3, 0);
    model->blendTwoLensPano(img, img, kWidth, kHeight, ImageParams(), pano.data());
    EXPECT_EQ(std::count(pano.begin(), pano.end(), 0x55), static_cast<std::ptrdiff_t>(pano.size()));
}

TEST(Ztm6BlendMasks, EachPanoWidthGetsAnEighthWideSeamMaskThatStepsAtTheEquator)
{
    auto model = makeIdentityZtm6(kHeight);
    model->initBlendMasks(7200, 1800);
    EXPECT_EQ(model->blendMaskFor(100, 50), nullptr);
    const BlendMask* wide = model->blendMaskFor(900, 3600);
    const BlendMask* small = model->blendMaskFor(225, 900);
    ASSERT_NE(wide, nullptr);
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(wide->panoWidth, 7200);
    EXPECT_EQ(small->panoWidth, 1800);
    ASSERT_EQ(small->weights.size(), 225u * 900u);

    for (const BlendMask* mask : {wide, small}) {
        const int m = mask->columns / 2;
        auto at = [&](int row, int column) { return mask->weights[static_cast<size_t>(row) * mask->columns + column]; };
        // Equator: the first image on the left, the second on the right, rising through the middle.
        const int equator = mask->rows / 2;
        EXPECT_EQ(at(equator, 2), 0);
        EXPECT_EQ(at(equator, 2 * m - 3), 255);
        for (int c = 1; c < 2 * m - 2; ++c)
            ASSERT_GE(at(equator, c), at(equator, c - 1)) << "column " << c;
        // Near the poles both images count half across the whole middle of the band.
        EXPECT_NEAR(at(3, m), 128, 2);
        EXPECT_NEAR(at(mask->rows - 4, m / 2), 128, 2);
    }
    // An odd band width leaves its last column at 0 in every row.
    for (int r = 0; r < small->rows; r += 50)
        EXPECT_EQ(small->weights[static_cast<size_t>(r) * 225 + 224], 0) << "row " << r;
}

TEST(Ztm6LaserOffset, IsTheNegatedPositionTruncatedAndZeroForValuesNoIntCanHold)
{
    auto model = makeIdentityZtm6(kHeight);
    const std::pair<float, int> cases[] = {{12.7f, -12},
                                           {-12.7f, 12},
                                           {-0.9f, 0},
                                           {std::numeric_limits<float>::quiet_NaN(), 0},
                                           {std::numeric_limits<float>::infinity(), 0},
                                           {-3.0e9f, 0},
                                           {2147483520.0f, -2147483520}};
    for (const auto& [posY, expected] : cases) {
        model->header().POSY = posY;
        EXPECT_EQ(model->laserOffset(), expected) << posY;
    }
}
