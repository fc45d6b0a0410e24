#include "camera/cam_params_ztm6.h"
#include "support/two_lens_scan_fixture.h"
#include "support/ztm6_model.h"

#include <gtest/gtest.h>

#include <cmath>

using testsupport::inverseGain;
using testsupport::makeIdentityZtm6;
using testsupport::makeLensImage;

namespace {
constexpr int kHeight = 600;
constexpr int kWidth = 1200;

// A scene with every brightness present at both seams.
void scene(int column, int row, uint8_t* rgb)
{
    for (int ch = 0; ch < 3; ++ch)
        rgb[ch] = static_cast<uint8_t>(
            127.5 + 120 * std::sin(column * 0.37 + row * 0.051 + ch * 1.3) * std::cos(row * 0.023 - ch));
}
} // namespace

TEST(Ztm6ColourEqualisation, RecoversTheGainCurveOfTheSecondLensPerChannel)
{
    auto model = makeIdentityZtm6(kHeight);
    const double gains[3] = {0.42, 0.5, 0.615};
    const QByteArray image1 = makeLensImage(kWidth, kHeight, scene);
    // Lens 2 saw the scene through the inverse curves, so the curves map it back onto lens 1.
    uint8_t inverse[3][256];
    for (int ch = 0; ch < 3; ++ch)
        for (int n = 0; n < 256; ++n)
            inverse[ch][n] = inverseGain(gains[ch], n / 255.0);
    const QByteArray image2 = makeLensImage(kWidth, kHeight, [&](int c, int r, uint8_t* rgb) {
        scene(c, r, rgb);
        for (int ch = 0; ch < 3; ++ch)
            rgb[ch] = inverse[ch][rgb[ch]];
    });
    ImageParams p;
    for (int i = ImageParams::RED_GAIN_3; i <= ImageParams::BLUE_GAIN_3; ++i)
        p[i] = 0.9f;
    model->equalizeShotColors(reinterpret_cast<const uint8_t*>(image1.constData()),
                              reinterpret_cast<const uint8_t*>(image2.constData()), nullptr, p);
    EXPECT_NEAR(p[ImageParams::RED_GAIN_2], gains[0], 0.005);
    EXPECT_NEAR(p[ImageParams::GREEN_GAIN_2], gains[1], 0.005);
    EXPECT_NEAR(p[ImageParams::BLUE_GAIN_2], gains[2], 0.005);
    for (int i = ImageParams::RED_GAIN_3; i <= ImageParams::BLUE_GAIN_3; ++i)
        EXPECT_EQ(p[i], 0.5f);
}

TEST(Ztm6ColourEqualisation, IdenticalLensesGiveTheCandidateNearestNeutralFromFloatSteps)
{
    auto model = makeIdentityZtm6(kHeight);
    const QByteArray image = makeLensImage(kWidth, kHeight, scene);
    const auto* img = reinterpret_cast<const uint8_t*>(image.constData());
    ImageParams p;
    model->equalizeShotColors(img, img, nullptr, p);
    // The candidates are 0.3 plus 0.005 added in float: the 41st is just below 0.5.
    float candidate = 0.3f;
    for (int i = 0; i < 40; ++i)
        candidate += 0.005f;
    EXPECT_EQ(p[ImageParams::RED_GAIN_2], candidate);
    EXPECT_EQ(p[ImageParams::GREEN_GAIN_2], candidate);
    EXPECT_EQ(p[ImageParams::BLUE_GAIN_2], candidate);
    EXPECT_EQ(p[ImageParams::BLUE_GAIN_3], 0.5f);
}

TEST(Ztm6ColourEqualisation, WithoutTheSecondLensNothingChanges)
{
    auto model = makeIdentityZtm6(kHeight);
    const QByteArray image = makeLensImage(kWidth, kHeight, scene);
    ImageParams p;
    p[ImageParams::RED_GAIN_2] = 0.33f;
    const ImageParams before = p;
    model->equalizeShotColors(reinterpret_cast<const uint8_t*>(image.constData()), nullptr, nullptr, p);
    EXPECT_EQ(p, before);
}

TEST(Ztm6ColourEqualisation, SmallLensImagesAreSampledInsideTheirRows)
{
    // 150 grid rows over a 40-row image would round past the last row without the limit.
    auto model = makeIdentityZtm6(40);
    const QByteArray image = makeLensImage(80, 40, scene);
    const auto* img = reinterpret_cast<const uint8_t*>(image.constData());
    ImageParams p;
    model->equalizeShotColors(img, img, nullptr, p);
    EXPECT_NEAR(p[ImageParams::GREEN_GAIN_2], 0.5f, 0.003f);
}
