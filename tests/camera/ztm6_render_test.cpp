#include "camera/cam_params_ztm6.h"
#include "support/ztm6_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

using testsupport::makeIdentityZtm6;
using testsupport::makeLensImage;

namespace {
constexpr int kLensHeight = 900;
constexpr int kLensWidth = 1800;

// Lens pixels that tell which lens, column and row they were taken from.
void encodePosition(int lens, int column, int row, uint8_t* rgb)
{
    rgb[0] = static_cast<uint8_t>(column & 0xff);
    rgb[1] = static_cast<uint8_t>((column >> 8) | (lens << 4));
    rgb[2] = static_cast<uint8_t>(row % 251);
}

struct SeamBands {
    int start1, start2, width;
    bool inBand(int c) const { return (c >= start1 && c < start1 + width) || (c >= start2 && c < start2 + width); }
};

SeamBands bandsFor(int panoWidth)
{
    // Seams at azimuth -90 and +90 degrees, each an eighth of the pano wide.
    const int b = panoWidth / 8;
    return {panoWidth / 4 - (b + 1) / 2, 3 * panoWidth / 4 - (b + 1) / 2, b};
}

class IdentityRender : public ::testing::Test {
protected:
    void SetUp() override
    {
        model = makeIdentityZtm6(kLensHeight);
        model->initBlendMasks(7200, 1800);
        image1 = makeLensImage(kLensWidth, kLensHeight, [](int c, int r, uint8_t* p) { encodePosition(1, c, r, p); });
        image2 = makeLensImage(kLensWidth, kLensHeight, [](int c, int r, uint8_t* p) { encodePosition(2, c, r, p); });
    }
    const uint8_t* lens(int k) const { return reinterpret_cast<const uint8_t*>((k == 1 ? image1 : image2).constData()); }

    std::unique_ptr<CamParamsZTM6> model;
    QByteArray image1, image2;
};

const QByteArray& flatImage()
{
    static const QByteArray image(64 * 32 * 3, '\x40');
    return image;
}

const uint8_t* flat()
{
    return reinterpret_cast<const uint8_t*>(flatImage().constData());
}
} // namespace

TEST_F(IdentityRender, EveryPanoPixelOutsideTheSeamsIsTheLensPixelTheGeometryNames)
{
    std::vector<uint8_t> pano(static_cast<size_t>(kLensWidth) * kLensHeight * 3, 0);
    model->blendTwoLensPano(lens(1), lens(2), kLensWidth, kLensHeight, ImageParams(), pano.data());

    const SeamBands bands = bandsFor(kLensWidth);
    int compared = 0;
    for (int r = 0; r < kLensHeight; ++r) {
        for (int c = 0; c < kLensWidth; ++c) {
            if (bands.inBand(c))
                continue;
            // Between the seams lens 1, outside them lens 2; pano column c is lens column c.
            const int from = c > bands.start1 && c < bands.start2 ? 1 : 2;
            uint8_t expected[3];
            encodePosition(from, c, r, expected);
            const uint8_t* got = pano.data() + (static_cast<size_t>(r) * kLensWidth + c) * 3;
            ASSERT_EQ(got[0], expected[0]) << "row " << r << " column " << c;
            ASSERT_EQ(got[1], expected[1]) << "row " << r << " column " << c;
            ASSERT_EQ(got[2], expected[2]) << "row " << r << " column " << c;
            ++compared;
        }
    }
    EXPECT_EQ(compared, kLensHeight * (kLensWidth - 2 * bands.width));
}

TEST_F(IdentityRender, SeamBandsComeFromBothLensesAtTheRightColumns)
{
    std::vector<uint8_t> pano(static_cast<size_t>(kLensWidth) * kLensHeight * 3, 0);
    model->blendTwoLensPano(lens(1), lens(2), kLensWidth, kLensHeight, ImageParams(), pano.data());
    const SeamBands bands = bandsFor(kLensWidth);
    // On the equator the mask steps from lens 2 to lens 1 in the middle of band 1 and from lens 1
    // to lens 2 in band 2; far from the step each side shows its own lens, column for column.
    const int r = kLensHeight / 2 + 3;
    auto pixel = [&](int c) { return pano.data() + (static_cast<size_t>(r) * kLensWidth + c) * 3; };
    auto lensAt = [&](int c) { return pixel(c)[1] >> 4; };
    auto columnAt = [&](int c) { return pixel(c)[0] | ((pixel(c)[1] & 0x0f) << 8); };
    EXPECT_EQ(lensAt(bands.start1 + 2), 2);
    EXPECT_EQ(lensAt(bands.start1 + bands.width - 4), 1);
    EXPECT_EQ(lensAt(bands.start2 + 2), 1);
    EXPECT_EQ(lensAt(bands.start2 + bands.width - 4), 2);
    EXPECT_EQ(columnAt(bands.start1 + 2), bands.start1 + 2);
    EXPECT_EQ(columnAt(bands.start2 + 2), bands.start2 + 2);
}

TEST_F(IdentityRender, WithoutTheSecondLensImageTheFirstServesEverywhereWithoutAMask)
{
    model->initBlendMasks(7200, 3600); // no mask for 1800 any more
    std::vector<uint8_t> pano(static_cast<size_t>(kLensWidth) * kLensHeight * 3, 0);
    model->blendTwoLensPano(lens(1), nullptr, kLensWidth, kLensHeight, ImageParams(), pano.data());
    const int r = kLensHeight / 3;
    for (int c : {0, 100, 400, 900, 1300, 1799}) {
        uint8_t expected[3];
        encodePosition(1, c, r, expected);
        const uint8_t* p = pano.data() + (static_cast<size_t>(r) * kLensWidth + c) * 3;
        EXPECT_EQ(p[0], expected[0]) << "column " << c;
        EXPECT_EQ(p[1], expected[1]) << "column " << c;
    }
}

TEST_F(IdentityRender, PoleRowsShowTheirOwnPoleAndSeamPixelsThereKeepTheirColour)
{
    // Lens row 0 is the pole at elevation +90 degrees of the render, the last row the other one.
    const QByteArray poles = makeLensImage(kLensWidth, kLensHeight, [](int, int r, uint8_t* p) {
        p[0] = r < 3 ? 200 : (r >= kLensHeight - 3 ? 20 : 100);
        p[1] = 90;
        p[2] = 60;
    });
    const auto* img = reinterpret_cast<const uint8_t*>(poles.constData());
    std::vector<uint8_t> pano(static_cast<size_t>(kLensWidth) * kLensHeight * 3, 0);
    model->blendTwoLensPano(img, img, kLensWidth, kLensHeight, ImageParams(), pano.data());
    for (int c = 0; c < kLensWidth; ++c) {
        const uint8_t* top = pano.data() + static_cast<size_t>(c) * 3;
        const uint8_t* bottom = pano.data() + (static_cast<size_t>(kLensHeight - 1) * kLensWidth + c) * 3;
        ASSERT_NEAR(top[0], 200, 2) << "column " << c;
        ASSERT_NEAR(top[1], 90, 2) << "column " << c;
        ASSERT_NEAR(bottom[0], 20, 2) << "column " << c;
        ASSERT_NEAR(bottom[2], 60, 2) << "column " << c;
    }
}

TEST_F(IdentityRender, AWidthWithoutMaskIsRefusedBeforeAnyPixelIsWritten)
{
    std::vector<uint8_t> pano(static_cast<size_t>(1600) * 800 * 3, 77);
    try {
        model->blendTwoLensPano(lens(1), lens(2), 1600, 800, ImageParams(), pano.data());
        FAIL() << "expected a refusal";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "no mask was initialized for this image size");
    }
    EXPECT_EQ(std::count(pano.begin(), pano.end(), 77), static_cast<std::ptrdiff_t>(pano.size()));
}

TEST_F(IdentityRender, FastRenderTakesNearestLensPixelsAndTheStripItsGreen)
{
    // Half the lens width: pano column c shows lens column 2c; the middle half is lens 1.
    const int w = kLensWidth / 2, h = kLensHeight / 2;
    std::vector<uint8_t> pano(static_cast<size_t>(w) * h * 3, 0);
    std::vector<uint8_t> strip(static_cast<size_t>(w) * h, 0);
    model->renderPano(lens(1), lens(2), nullptr, w, h, ImageParams(), pano.data());
    model->renderStrip(lens(1), lens(2), nullptr, w, h, ImageParams(), strip.data());
    for (int r = 2; r < h - 2; r += 37) {
        for (int c = 0; c < w; ++c) {
            const uint8_t* p = pano.data() + (static_cast<size_t>(r) * w + c) * 3;
            uint8_t expected[3];
            encodePosition(std::abs(c - w / 2) < w / 4 ? 1 : 2, 2 * c, 2 * r, expected);
            ASSERT_EQ(p[0], expected[0]) << r << "," << c;
            ASSERT_EQ(p[1], expected[1]) << r << "," << c;
            ASSERT_EQ(p[2], expected[2]) << r << "," << c;
            ASSERT_EQ(strip[static_cast<size_t>(r) * w + c], expected[1]);
        }
    }
}

TEST(Ztm6RenderRefusals, LensSizesNotTwoToOneOrPositiveAndNonFiniteTermsAreRefusedBeforeWriting)
{
    const std::pair<int, int> sizes[] = {{64, 33}, {0, 0}, {-64, -32}, {64, 0}, {2, 1}};
    for (const auto& [w, h] : sizes) {
        auto model = makeIdentityZtm6(32);
        model->initBlendMasks(64, 128);
        model->header().IMG_WIDTH = w;
        model->header().IMG_HEIGHT = h;
        std::vector<uint8_t> pano(64 * 32 * 3, 9);
        EXPECT_THROW(model->blendTwoLensPano(flat(), flat(), 64, 32, ImageParams(), pano.data()), std::runtime_error)
            << w << "x" << h;
        EXPECT_THROW(model->renderPano(flat(), flat(), nullptr, 64, 32, ImageParams(), pano.data()), std::runtime_error);
        EXPECT_THROW(model->renderStrip(flat(), flat(), nullptr, 64, 32, ImageParams(), pano.data()), std::runtime_error);
        EXPECT_EQ(std::count(pano.begin(), pano.end(), 9), static_cast<std::ptrdiff_t>(pano.size()));
    }
    auto model = makeIdentityZtm6(32);
    model->initBlendMasks(64, 128);
    model->lenses()[1].K2 = std::numeric_limits<float>::quiet_NaN();
    std::vector<uint8_t> pano(64 * 32 * 3, 9);
    EXPECT_THROW(model->blendTwoLensPano(flat(), flat(), 64, 32, ImageParams(), pano.data()), std::runtime_error);
}

TEST(Ztm6RenderRefusals, WildButFiniteCentresAndLevellingStayInsideTheImages)
{
    // Centres far outside the image and huge levelling angles: every sample must still come from
    // inside a lens image (the sanitizer run checks the reads), so the output keeps its one colour.
    for (float centre : {1e9f, -1e9f, 3.0e38f, 70.0f, -5.0f}) {
        auto model = makeIdentityZtm6(32);
        model->initBlendMasks(64, 128);
        for (Ztm6LensRecord& lens : model->lenses()) {
            lens.U0 = centre;
            lens.V0 = -centre;
            lens.K1 = 0.3f;
            lens.RM = 1.5f;
        }
        ImageParams p;
        p[ImageParams::ROLL_GLOBAL] = 1e7f;
        p[ImageParams::PITCH_GLOBAL] = -3.0f;
        std::vector<uint8_t> pano(64 * 32 * 3, 0);
        model->blendTwoLensPano(flat(), flat(), 64, 32, p, pano.data());
        EXPECT_EQ(std::count(pano.begin(), pano.end(), 0x40), static_cast<std::ptrdiff_t>(pano.size())) << centre;
    }
}

TEST(Ztm6RenderRefusals, NonFiniteLevellingLeavesPixelsBlackInsteadOfReadingAnywhere)
{
    auto model = makeIdentityZtm6(32);
    model->initBlendMasks(64, 128);
    ImageParams p;
    p[ImageParams::ROLL_GLOBAL] = std::numeric_limits<float>::infinity();
    std::vector<uint8_t> pano(64 * 32 * 3, 9);
    model->blendTwoLensPano(flat(), flat(), 64, 32, p, pano.data());
    EXPECT_EQ(std::count(pano.begin(), pano.end(), 0), static_cast<std::ptrdiff_t>(pano.size()));
}
