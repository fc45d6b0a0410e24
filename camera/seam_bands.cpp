#include "camera/one_lens_render.h"
#include "camera/shot_alignment_context.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {
constexpr float kQuarterTurn = 0.7853981f;  // 45 degrees, the azimuth span of a band
constexpr float kRightAngle = 1.5707963f;
constexpr float kTenDegrees = 0.17453292f;
// Where each band's first column looks: 172.5, 52.5 and 292.5 degrees.
constexpr float kBandStart[3] = {3.0106926f, 0.9162978f, 5.105088f};
// Far beyond any camera; keeps every band size and index within int.
constexpr int kMaxBandBase = 1 << 15;

// Band geometry from the band base b: heights are heightFactor x b, widths and heights cut to
// multiples of 4, blocks odd and at least 11 pixels.
SeamBandLayout layoutFor(int b, float heightFactor)
{
    SeamBandLayout layout;
    if (b < 1 || b > kMaxBandBase)
        return layout;
    const int l0 = static_cast<int>(static_cast<float>(b) * heightFactor);
    layout.W = b - b % 4;
    layout.L = l0 - l0 % 4;
    int block = layout.W / 10;
    if (block % 2 == 0)
        block -= 1;
    layout.block = std::max(block, 11);
    layout.blocksAcross = layout.W / layout.block;
    layout.blocksDown = layout.L / layout.block;
    return layout;
}

// Half the size argument, in the float arithmetic the band sizes are defined by.
int bandBase(int size)
{
    return static_cast<int>(static_cast<float>(size) * kQuarterTurn / kRightAngle);
}
} // namespace

SeamBandLayout featureBandLayout(int size)
{
    int m = std::min(size, 600);
    m -= m % 4;
    return layoutFor(bandBase(m), 3.0888889f);
}

SeamBandLayout photometricBandLayout(int size, int mode)
{
    int b = bandBase(size);
    if (mode == 1)
        b /= 2;
    return layoutFor(b, 3.0888889f);
}

SeamBandLayout lensCentreBandLayout(int size)
{
    return layoutFor(bandBase(size) / 2, 3.5555556f);
}

bool ShotAlignmentContext::prepare(const SeamBandLayout& bandLayout)
{
    layout = bandLayout;
    const int W = layout.W, L = layout.L;
    if (!layout.usable() || L < 2)
        return false;
    try {
        const size_t pixels = 3 * bandPixels();
        bandsA.assign(pixels * 3, 0);
        bandsB.assign(pixels * 3, 0);
        seenA.assign(pixels, 0);
        seenB.assign(pixels, 0);
        grayA.assign(pixels, 0.0f);
        grayB.assign(pixels, 0.0f);
        cosE.resize(size_t(L));
        sinE.resize(size_t(L));
        for (int k = 0; k < 3; ++k) {
            cosA[k].resize(size_t(W));
            sinA[k].resize(size_t(W));
        }
    } catch (const std::bad_alloc&) {
        bandsA = {}, bandsB = {}, seenA = {}, seenB = {}, grayA = {}, grayB = {}, cosE = {}, sinE = {};
        for (int k = 0; k < 3; ++k)
            cosA[k] = {}, sinA[k] = {};
        return false;
    }
    columnAngle = kQuarterTurn / static_cast<float>(W - 1);
    const float height = static_cast<float>(L) * kQuarterTurn / static_cast<float>(W);
    // Row 0 is the highest; the last row lies 10 degrees above the nadir.
    const float top = height + kTenDegrees - kRightAngle;
    for (int i = 0; i < L; ++i) {
        const float e = top - static_cast<float>(i) * height / static_cast<float>(L - 1);
        cosE[size_t(i)] = std::cos(e);
        sinE[size_t(i)] = std::sin(e);
    }
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < W; ++j) {
            const float a = kBandStart[k] - static_cast<float>(j) * columnAngle;
            cosA[k][size_t(j)] = std::cos(a);
            sinA[k][size_t(j)] = std::sin(a);
        }
    pixelsPerRadian = 1.0 / static_cast<double>(columnAngle);
    return true;
}

void ShotAlignmentContext::renderBands(const float* angles)
{
    const float* ca[3] = {cosA[0].data(), cosA[1].data(), cosA[2].data()};
    const float* sa[3] = {sinA[0].data(), sinA[1].data(), sinA[2].data()};
    renderShotOverlapBands(*camera, shots[0], shots[1], shots[2], layout.W, layout.L, angles, ca, sa, cosE.data(),
                           sinE.data(), bandsA.data(), bandsB.data(), seenA.data(), seenB.data());
}

void ShotAlignmentContext::convertToGray()
{
    const size_t pixels = 3 * bandPixels();
    for (size_t p = 0; p < pixels; ++p) {
        const uint8_t* a = bandsA.data() + 3 * p;
        const uint8_t* b = bandsB.data() + 3 * p;
        grayA[p] = static_cast<float>((19 * a[0] + 183 * a[1] + 54 * a[2]) >> 8);
        grayB[p] = static_cast<float>((19 * b[0] + 183 * b[1] + 54 * b[2]) >> 8);
    }
}

int32_t shotPhotometricResiduals(const double* x, double* residuals, void* context)
{
    ShotAlignmentContext& ctx = *static_cast<ShotAlignmentContext*>(context);
    const float angles[8] = {static_cast<float>(x[0]), static_cast<float>(x[1]), static_cast<float>(x[2]), 0.0f, 0.0f,
                             static_cast<float>(x[3]), static_cast<float>(x[4]), static_cast<float>(x[5])};
    const float* ca[3] = {ctx.cosA[0].data(), ctx.cosA[1].data(), ctx.cosA[2].data()};
    const float* sa[3] = {ctx.sinA[0].data(), ctx.sinA[1].data(), ctx.sinA[2].data()};
    renderShotOverlapBandsForCost(*ctx.camera, ctx.rerenderFirstShot ? ctx.shots[0] : nullptr, ctx.shots[1],
                                  ctx.shots[2], ctx.layout.W, ctx.layout.L, angles, ca, sa, ctx.cosE.data(),
                                  ctx.sinE.data(), ctx.bandsA.data(), ctx.bandsB.data());

    const int k = ctx.layout.block;
    const int nW = ctx.layout.blocksAcross;
    const int nL = ctx.layout.blocksDown;
    const size_t rowBytes = size_t(ctx.layout.W) * 3;
    const float inverseArea = 1.0f / static_cast<float>(k * k);
    double sum = 0.0;
    int count = 0;
    for (int band = 0; band < 3; ++band) {
        const uint8_t* bandA = ctx.bandsA.data() + size_t(band) * ctx.bandPixels() * 3;
        const uint8_t* bandB = ctx.bandsB.data() + size_t(band) * ctx.bandPixels() * 3;
#pragma omp parallel for schedule(static) reduction(+ : sum, count)
        for (int i = 0; i < nL; ++i) {
            for (int j = 0; j < nW; ++j) {
                const size_t origin = size_t(k) * size_t(i) * rowBytes + size_t(k) * size_t(j) * 3;
                for (int c = 0; c < 3; ++c) {
                    float sumA = 0.0f, sumB = 0.0f;
                    for (int r = 0; r < k; ++r) {
                        const uint8_t* a = bandA + origin + size_t(r) * rowBytes + size_t(c);
                        const uint8_t* b = bandB + origin + size_t(r) * rowBytes + size_t(c);
                        for (int q = 0; q < k; ++q) {
                            sumA += static_cast<float>(a[3 * q]);
                            sumB += static_cast<float>(b[3 * q]);
                        }
                    }
                    const float meanA = sumA * inverseArea, meanB = sumB * inverseArea;
                    float saa = 0.0f, sbb = 0.0f;
                    double sab = 0.0;
                    for (int r = 0; r < k; ++r) {
                        const uint8_t* a = bandA + origin + size_t(r) * rowBytes + size_t(c);
                        const uint8_t* b = bandB + origin + size_t(r) * rowBytes + size_t(c);
                        for (int q = 0; q < k; ++q) {
                            const float da = static_cast<float>(a[3 * q]) - meanA;
                            const float db = static_cast<float>(b[3 * q]) - meanB;
                            saa += da * da;
                            sbb += db * db;
                            sab += static_cast<double>(da) * static_cast<double>(db);
                        }
                    }
                    const float product = saa * sbb;
                    const double residual = product == 0.0f ? 1.0 : sab / std::sqrt(static_cast<double>(product)) - 1.0;
                    residuals[((size_t(band) * size_t(nL) + size_t(i)) * size_t(nW) + size_t(j)) * 3 + size_t(c)] =
                        residual;
                    sum += residual * residual;
                    count += 1;
                }
            }
        }
    }
    ctx.rms = count < 1 ? 0.0 : std::sqrt(sum / count);
    return 0;
}
