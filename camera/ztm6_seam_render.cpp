#include "camera/ztm6_seam_render.h"

#include "base/huge_pages.h"
#include "camera/ztm6_pano_pixels.h"
#include "imaging/bicubic.h"
#include "imaging/multiband_blend.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {
constexpr float kPiF = 3.1415927f;
constexpr float kHalfPiF = 1.5707964f;
constexpr int kBlock = PanoDirections::kBlock;
static_assert(kBlock == Ztm6LensRows::kBlock);
constexpr int kWrapStride = 18;
} // namespace

struct Ztm6SeamRender::Block {
    alignas(16) float idealX[kBlock];
    alignas(16) float idealY[kBlock];
    alignas(16) float lensX[kBlock];
    alignas(16) float lensY[kBlock];
    // Pixels whose lens position needs no wrapping, and for them the position's 4 x 4 block
    // (column and row past its top left) and the table rows of its weights.
    alignas(16) int32_t direct[kBlock];
    alignas(16) int32_t column[kBlock];
    alignas(16) int32_t row[kBlock];
    alignas(16) int32_t weightX[kBlock];
    alignas(16) int32_t weightY[kBlock];
    // The block's bicubic samples, two for a seam pixel, taken together once it is mapped.
    BicubicSample samples[2 * kBlock];
};

void Ztm6SeamRender::prepareBlock(int count, Block& block) const
{
#ifdef __SSE2__
    // The per-pixel steps below, four pixels at a time: the same comparisons, clamp, truncations
    // and differences.
    const __m128 zero = _mm_setzero_ps();
    const __m128 wsF = _mm_set1_ps(static_cast<float>(m_ws));
    const __m128 low = _mm_set1_ps(-4.0f);
    const __m128 high = _mm_set1_ps(static_cast<float>(m_hs) + 4.0f);
    const __m128 levels = _mm_set1_ps(255.0f);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128i one = _mm_set1_epi32(1);
    auto finite = [&](const float* values) {
        const __m128 v = _mm_load_ps(values);
        return _mm_cmpeq_ps(_mm_sub_ps(v, v), zero);
    };
    auto store = [](int32_t* to, __m128i value) { _mm_store_si128(reinterpret_cast<__m128i*>(to), value); };
    for (int k = 0; k < count; k += 4) {
        const __m128 xs = _mm_load_ps(block.lensX + k);
        const __m128 ys = _mm_load_ps(block.lensY + k);
        __m128 direct = _mm_and_ps(_mm_and_ps(finite(block.idealX + k), finite(block.idealY + k)),
                                   _mm_and_ps(finite(block.lensX + k), finite(block.lensY + k)));
        direct = _mm_and_ps(direct, _mm_and_ps(_mm_cmpge_ps(xs, zero), _mm_cmplt_ps(xs, wsF)));
        const __m128 clamped = _mm_min_ps(_mm_max_ps(ys, low), high);
        const __m128i ix = _mm_add_epi32(_mm_cvttps_epi32(xs), one);
        const __m128i iy = _mm_add_epi32(_mm_cvttps_epi32(clamped), one);
        const __m128 dx = _mm_sub_ps(_mm_cvtepi32_ps(ix), xs);
        const __m128 dy = _mm_sub_ps(_mm_cvtepi32_ps(iy), clamped);
        _mm_store_ps(block.lensY + k, _mm_or_ps(_mm_and_ps(direct, clamped), _mm_andnot_ps(direct, ys)));
        store(block.direct + k, _mm_castps_si128(direct));
        store(block.column + k, ix);
        store(block.row + k, iy);
        store(block.weightX + k, _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(dx, levels), half)));
        store(block.weightY + k, _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(dy, levels), half)));
    }
#else
    std::fill(block.direct, block.direct + count, 0);
#endif
}

Ztm6SeamRender::Ztm6SeamRender(const CamParamsZTM6& camera, float fadeStart, float fadeEnd, const uint8_t* image1,
                               const uint8_t* image2, int width, int height, const ImageParams& p,
                               const BlendMask* mask)
    : m_image1(image1)
    , m_image2(image2)
    , m_outer(image2 ? image2 : image1)
    , m_width(width)
    , m_height(height)
    , m_ws(camera.header().IMG_WIDTH)
    , m_hs(camera.header().IMG_HEIGHT)
    , m_mask(mask)
    , m_directions(width, height, m_hs, p)
    , m_lens(camera, fadeStart, fadeEnd)
    , m_bandWidth(width / 8)
{
    const float d = m_directions.step();
    m_s1 = image2 ? static_cast<int>(kHalfPiF / d - static_cast<float>(m_bandWidth) / 2.0f) : width;
    m_s2 = image2 ? static_cast<int>(3.0f * kPiF / 2.0f / d - static_cast<float>(m_bandWidth) / 2.0f) : width;
    m_source.assign(static_cast<size_t>(width), ColumnSource::Lens1);
    for (int c = 0; c < width && image2; ++c) {
        ColumnSource& s = m_source[static_cast<size_t>(c)];
        if (c < m_s1)
            s = ColumnSource::Lens2;
        else if (c < m_s1 + m_bandWidth)
            s = ColumnSource::Band1;
        else if (c < m_s2)
            s = ColumnSource::Lens1;
        else if (c < m_s2 + m_bandWidth)
            s = ColumnSource::Band2;
        else
            s = ColumnSource::Lens2;
    }

    m_wrap.resize(static_cast<size_t>(m_hs) * kWrapStride);
    for (int row = 0; row < m_hs; ++row) {
        const uint8_t* line = m_outer + static_cast<size_t>(row) * static_cast<size_t>(m_ws) * 3;
        uint8_t* wrap = m_wrap.data() + static_cast<size_t>(row) * kWrapStride;
        std::memcpy(wrap, line + static_cast<size_t>(m_ws - 3) * 3, 9);
        std::memcpy(wrap + 9, line, 9);
    }

    if (image2) {
        // Left uninitialised: under the plan every byte the blend reads is sampled first.
        m_bandBytes = static_cast<size_t>(m_bandWidth) * static_cast<size_t>(height) * 2 * 4;
        m_firstBands = makeHugeArray<uint8_t>(m_bandBytes);
        m_secondBands = makeHugeArray<uint8_t>(m_bandBytes);
    }
}

void Ztm6SeamRender::render(uint8_t* rgbOut)
{
    // Both bands share the mask, so they share its plan too.
    bool selective = m_image2 && m_mask->plan;
    if (!renderRows(rgbOut, selective)) {
        // The plan counted on colour in every seam pixel; without it, both lenses everywhere and
        // no coverage where there is no colour.
        std::memset(m_firstBands.get(), 0, m_bandBytes);
        std::memset(m_secondBands.get(), 0, m_bandBytes);
        selective = false;
        renderRows(rgbOut, selective);
    }
    if (m_image2)
        blendSeams(rgbOut, selective);
}

bool Ztm6SeamRender::renderRows(uint8_t* rgbOut, bool selective)
{
    bool covered = true;
#pragma omp parallel reduction(&& : covered)
    {
        Block block;
        // Rows differ in cost (the lens model stops short of the edges), so they are handed out in
        // small batches; the output does not depend on which thread renders a row.
#pragma omp for schedule(dynamic, 4)
        for (int r = 0; r < m_height; ++r) {
            uint8_t* outRow = rgbOut + static_cast<size_t>(r) * static_cast<size_t>(m_width) * 3;
            for (int start = 0; start < m_width; start += kBlock) {
                const int count = std::min(kBlock, m_width - start);
                covered = renderBlock(r, start, count, outRow, selective, block) && covered;
            }
        }
    }
    return covered;
}

bool Ztm6SeamRender::renderBlock(int r, int start, int count, uint8_t* outRow, bool selective, Block& block)
{
    m_directions.lensPositions(r, start, count, block.idealX, block.idealY);
    m_lens.project(block.idealX, block.idealY, count, block.lensX, block.lensY);
    prepareBlock(count, block);
    const BicubicTable& table = bicubicTable();

    const int ws = m_ws, hs = m_hs;
    const float wsF = static_cast<float>(ws);
    const size_t lensStride = static_cast<size_t>(ws) * 3;
    const size_t lensBytes = lensStride * static_cast<size_t>(hs);
    const int stride = static_cast<int>(lensStride);
    const int halfWidth = static_cast<int>(m_width * 0.5);
    const int quarterWidth = static_cast<int>(m_width * 0.25);
    const size_t bandPixels = static_cast<size_t>(m_bandWidth) * static_cast<size_t>(m_height);
    // Seam columns left of it need only the first image of their band, right of it the second.
    const ColumnSpan both = selective ? m_mask->plan->bothImages(r) : ColumnSpan{0, m_bandWidth};
    bool covered = true;
    int sampleCount = 0;
    for (int k = 0; k < count; ++k) {
        const int c = start + k;
        const ColumnSource from = m_source[static_cast<size_t>(c)];
        const bool seam = from == ColumnSource::Band1 || from == ColumnSource::Band2;
        float xs = block.lensX[k], ys = block.lensY[k];
        int ix = block.column[k], iy = block.row[k];
        if (!block.direct[k]) {
            if (!std::isfinite(block.idealX[k]) || !std::isfinite(block.idealY[k]) || !std::isfinite(xs)
                || !std::isfinite(ys)) {
                // A direction without a lens position stays black.
                if (!seam)
                    std::memset(outRow + static_cast<size_t>(c) * 3, 0, 3);
                covered = covered && !seam;
                continue;
            }
            // Azimuth wraps: a column outside the image is brought into [0, ws) exactly (fmod has
            // no rounding error), so the wrap table's start column stays within its six pixels.
            if (xs < 0.0f || xs >= wsF) {
                double wrapped = std::fmod(static_cast<double>(xs), static_cast<double>(ws));
                if (wrapped < 0.0)
                    wrapped += ws;
                xs = static_cast<float>(wrapped);
                if (!(xs >= 0.0f && xs < wsF))
                    xs = 0.0f;
            }
            ys = std::clamp(ys, -4.0f, static_cast<float>(hs) + 4.0f);
            ix = static_cast<int>(xs) + 1;
            iy = static_cast<int>(ys) + 1;
        }
        const bool rowsFit = iy - 2 >= 0 && iy < hs - 1;
        const bool columnsFit = ix - 2 >= 0 && ix < ws - 1;

        uint8_t* band1 = nullptr;
        uint8_t* band2 = nullptr;
        bool takeFirst = true, takeSecond = true;
        if (seam) {
            const int column = c - (from == ColumnSource::Band1 ? m_s1 : m_s2);
            const size_t index = (from == ColumnSource::Band1 ? 0 : bandPixels)
                                 + static_cast<size_t>(r) * static_cast<size_t>(m_bandWidth) + static_cast<size_t>(column);
            band1 = m_firstBands.get() + index * 4;
            band2 = m_secondBands.get() + index * 4;
            takeFirst = column < both.end;
            takeSecond = column >= both.begin;
        }

        if (rowsFit && columnsFit) {
            const float* wx = block.direct[k] ? table.weights[block.weightX[k]]
                                              : bicubicWeights(table, static_cast<float>(ix) - xs);
            const float* wy = block.direct[k] ? table.weights[block.weightY[k]]
                                              : bicubicWeights(table, static_cast<float>(iy) - ys);
            const size_t offset = static_cast<size_t>(iy - 2) * lensStride + static_cast<size_t>(ix - 2) * 3;
            // Near the end of the image a block row has fewer than 16 bytes behind it.
            const bool wide = offset + 3 * lensStride + 16 <= lensBytes;
            auto sample = [&](const uint8_t* image, uint8_t* out) {
                if (wide)
                    block.samples[sampleCount++] = {image + offset, wx, wy, out};
                else
                    sampleBicubicWeighted(wx, wy, image + offset, stride, out);
            };
            if (!seam) {
                sample(from == ColumnSource::Lens1 ? m_image1 : m_outer, outRow + static_cast<size_t>(c) * 3);
                continue;
            }
            if (takeFirst) {
                sample(from == ColumnSource::Band1 ? m_image2 : m_image1, band1 + 1);
                band1[0] = 255;
            }
            if (takeSecond) {
                sample(from == ColumnSource::Band1 ? m_image1 : m_image2, band2 + 1);
                band2[0] = 255;
            }
            continue;
        }
        uint8_t rgb[3];
        if (rowsFit) {
            const int wrapStart = (ix + 1) % ws;
            sampleBicubic(static_cast<float>(ix) - xs, static_cast<float>(iy) - ys,
                          m_wrap.data() + static_cast<size_t>(iy - 2) * kWrapStride + static_cast<size_t>(wrapStart) * 3,
                          kWrapStride, rgb);
        } else {
            int column = 0, row = 0;
            nearestPixel(xs, ys, ws, hs, column, row);
            copyPixel(isLens1Column(c, halfWidth, quarterWidth) ? m_image1 : m_outer, ws, column, row, rgb);
        }
        if (seam) {
            // A seam pixel on the pole or edge paths shows the same colour through both buffers.
            band1[0] = band2[0] = 255;
            std::memcpy(band1 + 1, rgb, 3);
            std::memcpy(band2 + 1, rgb, 3);
        } else {
            std::memcpy(outRow + static_cast<size_t>(c) * 3, rgb, 3);
        }
    }
    sampleBicubicMany(block.samples, sampleCount, stride);
    return covered;
}

void Ztm6SeamRender::blendSeams(uint8_t* rgbOut, bool selective)
{
    // Each seam's blend goes straight into its columns of the pano.
    const size_t bandPixels = static_cast<size_t>(m_bandWidth) * static_cast<size_t>(m_height);
    BlendJob jobs[2];
    for (int band = 0; band < 2; ++band) {
        const int start = band == 0 ? m_s1 : m_s2;
        jobs[band] = {m_firstBands.get() + static_cast<size_t>(band) * bandPixels * 4,
                      m_secondBands.get() + static_cast<size_t>(band) * bandPixels * 4, rgbOut + static_cast<size_t>(start) * 3,
                      3, static_cast<size_t>(m_width) * 3};
    }
    const uint8_t* weights = m_mask->weights.data();
    if (selective) {
        multiBandBlend(jobs, 2, weights, *m_mask->plan);
        return;
    }
    // Without colour in every seam pixel, each seam is planned from its own coverage.
    for (const BlendJob& job : jobs)
        multiBandBlend(&job, 1, weights, BlendPlan::forImages(job.first, job.second, weights, m_bandWidth, m_height));
}
