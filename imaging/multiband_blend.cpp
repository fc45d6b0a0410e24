#include "imaging/multiband_blend.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// The blend of two Laplacian pyramids under the Gaussian pyramid of the mask m,
//   L(first) + G(m) x (L(second) - L(first)),
// collapses to first + collapse(G(m) x L(second - first)), since the Laplacian pyramid is linear.
// So only one pyramid is built: the colour difference with the mask as a fourth channel. The plan
// says which pixels of each level are worked out; the rest are never read. Rows go out in small
// interleaved batches: near the poles of a seam band a row has far more to work out.

namespace {
constexpr float kTaps[5] = {0.0625f, 0.25f, 0.375f, 0.25f, 0.0625f};
constexpr int kChannels = 4; // difference R, G, B and the mask weight

// The four channels of one pixel, added and multiplied lane by lane: in one register where there
// is SSE2, and each lane through the same operation either way.
struct Pixel {
#ifdef __SSE2__
    __m128 v;
    static Pixel load(const float* p) { return {_mm_loadu_ps(p)}; }
    static Pixel splat(float s) { return {_mm_set1_ps(s)}; }
    void store(float* p) const { _mm_storeu_ps(p, v); }
    friend Pixel operator+(Pixel a, Pixel b) { return {_mm_add_ps(a.v, b.v)}; }
    friend Pixel operator-(Pixel a, Pixel b) { return {_mm_sub_ps(a.v, b.v)}; }
    friend Pixel operator*(Pixel a, Pixel b) { return {_mm_mul_ps(a.v, b.v)}; }
#else
    float v[kChannels];
    static Pixel load(const float* p) { return {{p[0], p[1], p[2], p[3]}}; }
    static Pixel splat(float s) { return {{s, s, s, s}}; }
    void store(float* p) const { std::copy(v, v + kChannels, p); }
    template <typename Op>
    static Pixel each(Pixel a, Pixel b, Op op)
    {
        return {{op(a.v[0], b.v[0]), op(a.v[1], b.v[1]), op(a.v[2], b.v[2]), op(a.v[3], b.v[3])}};
    }
    friend Pixel operator+(Pixel a, Pixel b) { return each(a, b, [](float x, float y) { return x + y; }); }
    friend Pixel operator-(Pixel a, Pixel b) { return each(a, b, [](float x, float y) { return x - y; }); }
    friend Pixel operator*(Pixel a, Pixel b) { return each(a, b, [](float x, float y) { return x * y; }); }
#endif
};

// Uninitialised float storage: what the plan works out is written before it is read.
class Buffer {
public:
    void reserve(size_t count)
    {
        if (count > m_capacity) {
            m_data.reset(new float[count]);
            m_capacity = count;
        }
    }
    float* data() { return m_data.get(); }

private:
    std::unique_ptr<float[]> m_data;
    size_t m_capacity = 0;
};

struct Level {
    int width = 0;
    int height = 0;
    Buffer pixels; // kChannels floats per pixel
    Buffer blended; // the collapsed blend at this level, kChannels floats per pixel (last unused)
    float* row(int y) { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * kChannels; }
    float* blendedRow(int y) { return blended.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * kChannels; }
};

// Mirror an index into 0..n-1 without repeating the edge sample.
inline int mirror(int i, int n)
{
    if (n == 1)
        return 0;
    while (i < 0 || i >= n) {
        if (i < 0)
            i = -i;
        if (i >= n)
            i = 2 * n - 2 - i;
    }
    return i;
}

// Gaussian 5-tap filter and halving of each side (rounded up), all channels at once.
void reduce(Level& fine, Level& coarse, Buffer& across, const BlendPlan& plan, int level)
{
    const int w = coarse.width;
    across.reserve(static_cast<size_t>(w) * static_cast<size_t>(fine.height) * kChannels);
#pragma omp parallel for schedule(static, 8)
    for (int y = 0; y < fine.height; ++y) {
        const ColumnSpan span = plan.across(level, y);
        const float* in = fine.row(y);
        float* out = across.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * kChannels;
        for (int x = span.begin; x < span.end; ++x) {
            const int c = 2 * x;
            Pixel sum = Pixel::splat(0.0f);
            for (int k = 0; k < 5; ++k) {
                const int at = c + k - 2 >= 0 && c + k - 2 < fine.width ? c + k - 2 : mirror(c + k - 2, fine.width);
                sum = sum + Pixel::splat(kTaps[k]) * Pixel::load(in + static_cast<size_t>(at) * kChannels);
            }
            sum.store(out + static_cast<size_t>(x) * kChannels);
        }
    }
#pragma omp parallel for schedule(static, 8)
    for (int y = 0; y < coarse.height; ++y) {
        const ColumnSpan span = plan.pyramid(level + 1, y);
        const float* rows[5];
        for (int k = 0; k < 5; ++k)
            rows[k] = across.data() + static_cast<size_t>(mirror(2 * y + k - 2, fine.height)) * static_cast<size_t>(w) * kChannels;
        float* out = coarse.row(y);
        for (int x = span.begin; x < span.end; ++x) {
            const size_t i = static_cast<size_t>(x) * kChannels;
            Pixel sum = Pixel::splat(0.0f);
            for (int k = 0; k < 5; ++k)
                sum = sum + Pixel::splat(kTaps[k]) * Pixel::load(rows[k] + i);
            sum.store(out + i);
        }
    }
}

// Horizontal half of the upsampling of columns [from, to): zeros between the coarse samples, the
// same filter times 2 (the vertical half supplies the other factor 2). The taps on coarse samples
// sum to one half, so constants survive.
void expandRow(const float* coarse, int coarseWidth, float* fine, int fineWidth, int from, int to)
{
    const Pixel two = Pixel::splat(2.0f);
    auto tap = [](int k) { return Pixel::splat(kTaps[k]); };
    for (int x = from; x < to; ++x) {
        Pixel sum = Pixel::splat(0.0f);
        if (x >= 2 && x + 2 < fineWidth) {
            if ((x & 1) == 0) {
                const float* p = coarse + static_cast<size_t>(x / 2 - 1) * kChannels;
                sum = tap(0) * Pixel::load(p) + tap(2) * Pixel::load(p + kChannels)
                      + tap(4) * Pixel::load(p + 2 * kChannels);
            } else {
                const float* p = coarse + static_cast<size_t>(x / 2) * kChannels;
                sum = tap(1) * Pixel::load(p) + tap(3) * Pixel::load(p + kChannels);
            }
        } else {
            for (int k = 0; k < 5; ++k) {
                const int at = mirror(x + k - 2, fineWidth);
                if ((at & 1) != 0)
                    continue;
                sum = sum + tap(k) * Pixel::load(coarse + static_cast<size_t>(std::min(at / 2, coarseWidth - 1)) * kChannels);
            }
        }
        (two * sum).store(fine + static_cast<size_t>(x) * kChannels);
    }
}

// The coarse rows (at most three) and weights that the vertical upsampling of fine row y uses.
int expandTaps(int y, int fineHeight, int rows[3], float weights[3])
{
    int used = 0;
    for (int k = 0; k < 5; ++k) {
        const int at = mirror(y + k - 2, fineHeight);
        if ((at & 1) == 0) {
            rows[used] = at / 2;
            weights[used] = 2.0f * kTaps[k];
            ++used;
        }
    }
    return used;
}

// The full-resolution output of a row: the first image's colour plus the blended difference where
// the plan works it out, one image's colour on either side of that.
class RowOutput {
public:
    RowOutput(uint8_t* first, const uint8_t* second, int width, int y)
        : m_first(first + static_cast<size_t>(y) * static_cast<size_t>(width) * 4)
        , m_second(second + static_cast<size_t>(y) * static_cast<size_t>(width) * 4)
        , m_width(width)
    {
    }

    void add(int x, Pixel value)
    {
        const size_t p = static_cast<size_t>(x) * 4;
        // A pixel neither image covers keeps what the first image held.
        if (m_first[p] == 0 && m_second[p] == 0)
            return;
        const uint8_t* base = m_first[p] != 0 ? m_first : m_second;
        float difference[kChannels];
        value.store(difference);
        for (int ch = 0; ch < 3; ++ch) {
            const float v = std::clamp(base[p + 1 + ch] + difference[ch] + 0.5f, 0.0f, 255.0f);
            m_first[p + 1 + ch] = static_cast<uint8_t>(v);
        }
    }

    // Left of the span the blended difference is exactly zero: the covering image's colour stays,
    // the first image's where both cover. Right of it the difference is the second image's colour
    // less the first's, to within rounding far below half a level: the second image's colour.
    void outside(ColumnSpan span)
    {
        for (int x = 0; x < std::min(span.begin, m_width); ++x) {
            const size_t p = static_cast<size_t>(x) * 4;
            if (m_first[p] == 0 && m_second[p] != 0)
                std::copy(m_second + p + 1, m_second + p + 4, m_first + p + 1);
        }
        for (int x = std::max(span.end, 0); x < m_width; ++x) {
            const size_t p = static_cast<size_t>(x) * 4;
            if (m_second[p] != 0)
                std::copy(m_second + p + 1, m_second + p + 4, m_first + p + 1);
        }
    }

private:
    uint8_t* m_first;
    const uint8_t* m_second;
    int m_width;
};

// Blended level k from level k + 1: (G_k - expand(G_k+1)) x mask_k + expand(B_k+1). At level 0
// (toBytes) the result is added to the first image and written into its colour bytes.
void collapseInto(Level& fine, Level& coarse, const BlendPlan& plan, int level, uint8_t* first,
                  const uint8_t* second)
{
    const int w = fine.width;
    const bool toBytes = level == 0;
#pragma omp parallel
    {
        std::vector<float> upG(static_cast<size_t>(3) * w * kChannels);
        std::vector<float> upB(static_cast<size_t>(3) * w * kChannels);
#pragma omp for schedule(static, 8)
        for (int y = 0; y < fine.height; ++y) {
            const ColumnSpan span = plan.blended(level, y);
            std::optional<RowOutput> output;
            if (toBytes) {
                output.emplace(first, second, w, y);
                output->outside(span);
            }
            if (span.empty())
                continue;
            int rows[3];
            float weights[3];
            const int used = expandTaps(y, fine.height, rows, weights);
            for (int k = 0; k < used; ++k) {
                const size_t offset = static_cast<size_t>(k) * w * kChannels;
                expandRow(coarse.row(rows[k]), coarse.width, upG.data() + offset, w, span.begin, span.end);
                expandRow(coarse.blendedRow(rows[k]), coarse.width, upB.data() + offset, w, span.begin, span.end);
            }
            const float* g = fine.row(y);
            float* out = toBytes ? nullptr : fine.blendedRow(y);
            for (int x = span.begin; x < span.end; ++x) {
                const size_t i = static_cast<size_t>(x) * kChannels;
                Pixel eg = Pixel::splat(0.0f), eb = Pixel::splat(0.0f);
                for (int k = 0; k < used; ++k) {
                    const size_t at = static_cast<size_t>(k) * w * kChannels + i;
                    eg = eg + Pixel::splat(weights[k]) * Pixel::load(upG.data() + at);
                    eb = eb + Pixel::splat(weights[k]) * Pixel::load(upB.data() + at);
                }
                const Pixel value = (Pixel::load(g + i) - eg) * Pixel::splat(g[i + 3]) + eb;
                if (toBytes) {
                    output->add(x, value);
                    continue;
                }
                value.store(out + i);
                out[i + 3] = 0.0f;
            }
        }
    }
}
} // namespace

void multiBandBlend(uint8_t* first, const uint8_t* second, const uint8_t* mask, int width, int height)
{
    if (width <= 0 || height <= 0)
        return;
    multiBandBlend(first, second, mask, BlendPlan::forImages(first, second, mask, width, height));
}

struct MultiBandBlender::Storage {
    std::vector<Level> levels;
    Buffer across;
};

MultiBandBlender::MultiBandBlender()
    : m_storage(std::make_unique<Storage>())
{
}

MultiBandBlender::~MultiBandBlender() = default;

void multiBandBlend(uint8_t* first, const uint8_t* second, const uint8_t* mask, const BlendPlan& plan)
{
    MultiBandBlender().blend(first, second, mask, plan);
}

void MultiBandBlender::blend(uint8_t* first, const uint8_t* second, const uint8_t* mask, const BlendPlan& plan)
{
    const int width = plan.width();
    const int height = plan.height();
    if (width <= 0 || height <= 0)
        return;
    const int below = plan.levelsBelow();
    std::vector<Level>& levels = m_storage->levels;
    levels.resize(static_cast<size_t>(below) + 1);
    for (int k = 0; k <= below; ++k) {
        Level& level = levels[static_cast<size_t>(k)];
        level.width = plan.levelWidth(k);
        level.height = plan.levelHeight(k);
        const size_t count = static_cast<size_t>(level.width) * static_cast<size_t>(level.height) * kChannels;
        level.pixels.reserve(count);
        if (k > 0 || below == 0)
            level.blended.reserve(count);
    }

    // Level 0: colour difference and effective weight of the second image. Each image counts in
    // proportion to its coverage; where one has none it takes the other's colour, so that its
    // unknown values never reach the detail levels.
#pragma omp parallel for schedule(static, 8)
    for (int y = 0; y < height; ++y) {
        const ColumnSpan span = plan.pyramid(0, y);
        float* out = levels[0].row(y);
        for (int x = span.begin; x < span.end; ++x) {
            const size_t p = (static_cast<size_t>(y) * width + x) * 4;
            float* q = out + static_cast<size_t>(x) * kChannels;
            if (first[p] == 0 && second[p] == 0) {
                q[0] = q[1] = q[2] = q[3] = 0.0f;
                continue;
            }
            const uint8_t* a = first[p] != 0 ? first : second;
            const uint8_t* b = second[p] != 0 ? second : first;
            q[0] = static_cast<float>(b[p + 1]) - static_cast<float>(a[p + 1]);
            q[1] = static_cast<float>(b[p + 2]) - static_cast<float>(a[p + 2]);
            q[2] = static_cast<float>(b[p + 3]) - static_cast<float>(a[p + 3]);
            q[3] = BlendPlan::secondWeight(first[p], second[p], mask[static_cast<size_t>(y) * width + x]);
        }
    }

    for (int k = 0; k < below; ++k)
        reduce(levels[static_cast<size_t>(k)], levels[static_cast<size_t>(k) + 1], m_storage->across, plan, k);

    Level& top = levels.back();
#pragma omp parallel for schedule(static, 8)
    for (int y = 0; y < top.height; ++y) {
        const ColumnSpan span = plan.blended(below, y);
        const float* g = top.row(y);
        float* b = top.blendedRow(y);
        for (int x = span.begin; x < span.end; ++x) {
            const size_t i = static_cast<size_t>(x) * kChannels;
            (Pixel::load(g + i) * Pixel::splat(g[i + 3])).store(b + i);
            b[i + 3] = 0.0f;
        }
    }
    if (below == 0) {
        // Too small for a pyramid: a plain per-pixel blend.
        for (int y = 0; y < height; ++y) {
            const ColumnSpan span = plan.blended(0, y);
            RowOutput output(first, second, width, y);
            output.outside(span);
            for (int x = span.begin; x < span.end; ++x)
                output.add(x, Pixel::load(top.blendedRow(y) + static_cast<size_t>(x) * kChannels));
        }
        return;
    }
    for (int k = below; k > 0; --k)
        collapseInto(levels[static_cast<size_t>(k) - 1], levels[static_cast<size_t>(k)], plan, k - 1, first, second);
}
