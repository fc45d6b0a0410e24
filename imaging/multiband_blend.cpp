#include "imaging/multiband_blend.h"

#include "base/huge_pages.h"

#include <omp.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// The blend of two Laplacian pyramids under the Gaussian pyramid of the mask m,
//   L(first) + G(m) x (L(second) - L(first)),
// collapses to first + collapse(G(m) x L(second - first)), since the Laplacian pyramid is linear.
// So only one pyramid is built: the colour difference with the mask as a fourth channel. The plan
// says which columns of each level's rows are worked out; a strip of output rows says which rows.

namespace {
constexpr float kTaps[5] = {0.0625f, 0.25f, 0.375f, 0.25f, 0.0625f};
constexpr int kChannels = 4; // difference R, G, B and the mask weight
// A strip of fewer output rows would spend most of its work on the rows around it.
constexpr int kStripRows = 400;

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

// Rows [rows.begin, rows.end) of a level, kChannels floats per pixel, in the strip's block,
// uninitialised: what the plan works out is written before it is read.
class Rows {
public:
    void span(ColumnSpan rows, int width)
    {
        m_rows = rows;
        m_width = width;
    }
    size_t count() const
    {
        return m_rows.empty() ? 0 : static_cast<size_t>(m_rows.end - m_rows.begin) * static_cast<size_t>(m_width) * kChannels;
    }
    void place(float* data) { m_data = data; }
    float* row(int y) { return m_data + static_cast<size_t>(y - m_rows.begin) * static_cast<size_t>(m_width) * kChannels; }
    ColumnSpan rows() const { return m_rows; }

private:
    float* m_data = nullptr;
    ColumnSpan m_rows;
    int m_width = 0;
};

// One level of the pyramid as far as a strip needs it.
struct Level {
    int width = 0;
    int height = 0;
    Rows gaussian; // the Gaussian level
    Rows blended; // the collapsed blend (last channel unused)
    Rows across; // the horizontal half of the reduction to the next level

    std::array<Rows*, 3> all() { return {&gaussian, &blended, &across}; }
};

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

// One output row: the first image's colour plus the blended difference where the plan works it
// out, one image's colour on either side of that.
class RowOutput {
public:
    RowOutput(const BlendJob& job, int width, int y)
        : m_first(job.first + static_cast<size_t>(y) * static_cast<size_t>(width) * 4)
        , m_second(job.second + static_cast<size_t>(y) * static_cast<size_t>(width) * 4)
        , m_out(job.out + static_cast<size_t>(y) * job.rowBytes)
        , m_pixelBytes(job.pixelBytes)
    {
    }

    void add(int x, Pixel value)
    {
        const size_t p = static_cast<size_t>(x) * 4;
        uint8_t* out = m_out + static_cast<size_t>(x) * m_pixelBytes;
        // A pixel neither image covers keeps what the first image held.
        if (m_first[p] == 0 && m_second[p] == 0) {
            std::copy(m_first + p + 1, m_first + p + 4, out);
            return;
        }
        const uint8_t* base = m_first[p] != 0 ? m_first : m_second;
        float difference[kChannels];
        value.store(difference);
        for (int ch = 0; ch < 3; ++ch)
            out[ch] = static_cast<uint8_t>(std::clamp(base[p + 1 + ch] + difference[ch] + 0.5f, 0.0f, 255.0f));
    }

    // Left of the span the blended difference is exactly zero: the covering image's colour, the
    // first image's where both or neither cover. Right of it the difference is the second image's
    // colour less the first's, to within rounding far below half a level: the second image's
    // colour where it covers.
    void outside(ColumnSpan span, int width)
    {
        for (int x = 0; x < std::min(span.begin, width); ++x) {
            const size_t p = static_cast<size_t>(x) * 4;
            const uint8_t* from = m_first[p] == 0 && m_second[p] != 0 ? m_second : m_first;
            std::copy(from + p + 1, from + p + 4, m_out + static_cast<size_t>(x) * m_pixelBytes);
        }
        for (int x = std::max(span.end, 0); x < width; ++x) {
            const size_t p = static_cast<size_t>(x) * 4;
            const uint8_t* from = m_second[p] != 0 ? m_second : m_first;
            std::copy(from + p + 1, from + p + 4, m_out + static_cast<size_t>(x) * m_pixelBytes);
        }
    }

private:
    const uint8_t* m_first;
    const uint8_t* m_second;
    uint8_t* m_out;
    size_t m_pixelBytes;
};

// The pyramid of one strip of output rows: each level's rows that the strip's output needs,
// worked out within the plan's columns. Everything read is at the same place with the same
// values as in the pyramid of the whole image.
class Strip {
public:
    void blend(const BlendJob& job, const uint8_t* mask, const BlendPlan& plan, ColumnSpan rows);

private:
    void planRows(const BlendPlan& plan, ColumnSpan rows);
    void differences(const BlendJob& job, const uint8_t* mask, const BlendPlan& plan);
    void reduce(const BlendPlan& plan, int level);
    void top(const BlendPlan& plan);
    template <typename Use>
    void collapseRow(const BlendPlan& plan, int level, int y, Use use);
    void collapse(const BlendPlan& plan, int level);
    void output(const BlendJob& job, const BlendPlan& plan);

    std::vector<Level> m_levels;
    std::unique_ptr<float[]> m_block; // every level's rows
    size_t m_capacity = 0;
    ColumnSpan m_output;
    std::vector<float> m_upG, m_upB;
};

void Strip::blend(const BlendJob& job, const uint8_t* mask, const BlendPlan& plan, ColumnSpan rows)
{
    planRows(plan, rows);
    differences(job, mask, plan);
    const int below = plan.levelsBelow();
    for (int k = 0; k < below; ++k)
        reduce(plan, k);
    top(plan);
    for (int k = below - 1; k > 0; --k)
        collapse(plan, k);
    output(job, plan);
}

void Strip::planRows(const BlendPlan& plan, ColumnSpan rows)
{
    const int below = plan.levelsBelow();
    m_output = rows;
    m_levels.resize(static_cast<size_t>(below) + 1);
    // Blended rows: the output, then what each level's upsampling reads of the next.
    std::vector<ColumnSpan> blended{rows};
    for (int k = 1; k <= below; ++k)
        blended.push_back(BlendPlan::upsampleSource(blended.back(), plan.levelHeight(k)));
    // Gaussian rows: the blended ones, and what the reduction to the next level reads.
    ColumnSpan gaussian = blended.back();
    for (int k = below; k >= 0; --k) {
        Level& level = m_levels[static_cast<size_t>(k)];
        level.width = plan.levelWidth(k);
        level.height = plan.levelHeight(k);
        ColumnSpan across;
        if (k < below) {
            across = BlendPlan::reduceSource(gaussian, level.height);
            const ColumnSpan own = blended[static_cast<size_t>(k)];
            gaussian = {std::min(own.begin, across.begin), std::max(own.end, across.end)};
        }
        level.gaussian.span(gaussian, level.width);
        // Full-resolution blended values go straight to the output, unless level 0 is the top.
        level.blended.span(k > 0 || below == 0 ? blended[static_cast<size_t>(k)] : ColumnSpan{}, level.width);
        level.across.span(across, k < below ? plan.levelWidth(k + 1) : 0);
    }
    // One block for all levels: large enough for huge pages where most levels alone are not.
    size_t total = 0;
    for (Level& level : m_levels)
        for (const Rows* rows : level.all())
            total += rows->count();
    if (total > m_capacity) {
        m_block = makeHugeArray<float>(total);
        m_capacity = total;
    }
    float* next = m_block.get();
    for (Level& level : m_levels) {
        for (Rows* rows : level.all()) {
            rows->place(next);
            next += rows->count();
        }
    }
    const size_t upCount = static_cast<size_t>(3) * static_cast<size_t>(plan.width()) * kChannels;
    m_upG.resize(upCount);
    m_upB.resize(upCount);
}

// Level 0: colour difference and effective weight of the second image. Each image counts in
// proportion to its coverage; where one has none it takes the other's colour, so that its
// unknown values never reach the detail levels.
void Strip::differences(const BlendJob& job, const uint8_t* mask, const BlendPlan& plan)
{
    Level& level = m_levels[0];
    const ColumnSpan rows = level.gaussian.rows();
    const int width = level.width;
    for (int y = rows.begin; y < rows.end; ++y) {
        const ColumnSpan span = plan.pyramid(0, y);
        float* out = level.gaussian.row(y);
        for (int x = span.begin; x < span.end; ++x) {
            const size_t i = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
            const size_t p = i * 4;
            float* q = out + static_cast<size_t>(x) * kChannels;
            if (job.first[p] == 0 && job.second[p] == 0) {
                q[0] = q[1] = q[2] = q[3] = 0.0f;
                continue;
            }
            const uint8_t* a = job.first[p] != 0 ? job.first : job.second;
            const uint8_t* b = job.second[p] != 0 ? job.second : job.first;
            q[0] = static_cast<float>(b[p + 1]) - static_cast<float>(a[p + 1]);
            q[1] = static_cast<float>(b[p + 2]) - static_cast<float>(a[p + 2]);
            q[2] = static_cast<float>(b[p + 3]) - static_cast<float>(a[p + 3]);
            q[3] = BlendPlan::secondWeight(job.first[p], job.second[p], mask[i]);
        }
    }
}

// Gaussian 5-tap filter and halving of each side (rounded up), all channels at once.
void Strip::reduce(const BlendPlan& plan, int level)
{
    Level& fine = m_levels[static_cast<size_t>(level)];
    Level& coarse = m_levels[static_cast<size_t>(level) + 1];
    const ColumnSpan acrossRows = fine.across.rows();
    for (int y = acrossRows.begin; y < acrossRows.end; ++y) {
        const ColumnSpan span = plan.across(level, y);
        const float* in = fine.gaussian.row(y);
        float* out = fine.across.row(y);
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
    const ColumnSpan rows = coarse.gaussian.rows();
    for (int y = rows.begin; y < rows.end; ++y) {
        const ColumnSpan span = plan.pyramid(level + 1, y);
        const float* sources[5];
        for (int k = 0; k < 5; ++k)
            sources[k] = fine.across.row(mirror(2 * y + k - 2, fine.height));
        float* out = coarse.gaussian.row(y);
        for (int x = span.begin; x < span.end; ++x) {
            const size_t i = static_cast<size_t>(x) * kChannels;
            Pixel sum = Pixel::splat(0.0f);
            for (int k = 0; k < 5; ++k)
                sum = sum + Pixel::splat(kTaps[k]) * Pixel::load(sources[k] + i);
            sum.store(out + i);
        }
    }
}

// The coarsest blended level: the difference times the weight.
void Strip::top(const BlendPlan& plan)
{
    const int below = plan.levelsBelow();
    Level& level = m_levels.back();
    const ColumnSpan rows = level.blended.rows();
    for (int y = rows.begin; y < rows.end; ++y) {
        const ColumnSpan span = plan.blended(below, y);
        const float* g = level.gaussian.row(y);
        float* b = level.blended.row(y);
        for (int x = span.begin; x < span.end; ++x) {
            const size_t i = static_cast<size_t>(x) * kChannels;
            (Pixel::load(g + i) * Pixel::splat(g[i + 3])).store(b + i);
            b[i + 3] = 0.0f;
        }
    }
}

// Row y of blended level k from level k + 1, (G_k - expand(G_k+1)) x mask_k + expand(B_k+1),
// handed pixel by pixel to use(x, value).
template <typename Use>
void Strip::collapseRow(const BlendPlan& plan, int level, int y, Use use)
{
    const ColumnSpan span = plan.blended(level, y);
    if (span.empty())
        return;
    Level& fine = m_levels[static_cast<size_t>(level)];
    Level& coarse = m_levels[static_cast<size_t>(level) + 1];
    const int w = fine.width;
    int rows[3];
    float weights[3];
    const int used = expandTaps(y, fine.height, rows, weights);
    for (int k = 0; k < used; ++k) {
        const size_t offset = static_cast<size_t>(k) * w * kChannels;
        expandRow(coarse.gaussian.row(rows[k]), coarse.width, m_upG.data() + offset, w, span.begin, span.end);
        expandRow(coarse.blended.row(rows[k]), coarse.width, m_upB.data() + offset, w, span.begin, span.end);
    }
    const float* g = fine.gaussian.row(y);
    for (int x = span.begin; x < span.end; ++x) {
        const size_t i = static_cast<size_t>(x) * kChannels;
        Pixel eg = Pixel::splat(0.0f), eb = Pixel::splat(0.0f);
        for (int k = 0; k < used; ++k) {
            const size_t at = static_cast<size_t>(k) * w * kChannels + i;
            eg = eg + Pixel::splat(weights[k]) * Pixel::load(m_upG.data() + at);
            eb = eb + Pixel::splat(weights[k]) * Pixel::load(m_upB.data() + at);
        }
        use(x, (Pixel::load(g + i) - eg) * Pixel::splat(g[i + 3]) + eb);
    }
}

void Strip::collapse(const BlendPlan& plan, int level)
{
    Level& fine = m_levels[static_cast<size_t>(level)];
    const ColumnSpan rows = fine.blended.rows();
    for (int y = rows.begin; y < rows.end; ++y) {
        float* out = fine.blended.row(y);
        collapseRow(plan, level, y, [&](int x, Pixel value) {
            const size_t i = static_cast<size_t>(x) * kChannels;
            value.store(out + i);
            out[i + 3] = 0.0f;
        });
    }
}

// The strip's output rows: the first image plus the blended difference of level 0, from level 1
// (or, without a pyramid, level 0's own).
void Strip::output(const BlendJob& job, const BlendPlan& plan)
{
    Level& level = m_levels[0];
    for (int y = m_output.begin; y < m_output.end; ++y) {
        RowOutput row(job, level.width, y);
        const ColumnSpan span = plan.blended(0, y);
        row.outside(span, level.width);
        if (plan.levelsBelow() > 0) {
            collapseRow(plan, 0, y, [&](int x, Pixel value) { row.add(x, value); });
            continue;
        }
        const float* b = level.blended.row(y);
        for (int x = span.begin; x < span.end; ++x)
            row.add(x, Pixel::load(b + static_cast<size_t>(x) * kChannels));
    }
}
} // namespace

void multiBandBlend(uint8_t* first, const uint8_t* second, const uint8_t* mask, int width, int height)
{
    if (width <= 0 || height <= 0)
        return;
    // The result lands in the first image's colour bytes, so the blend reads a copy of it.
    const std::vector<uint8_t> input(first, first + static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    const BlendJob job{input.data(), second, first + 1, 4, static_cast<size_t>(width) * 4};
    multiBandBlend(&job, 1, mask, BlendPlan::forImages(input.data(), second, mask, width, height));
}

void multiBandBlend(const BlendJob* jobs, int count, const uint8_t* mask, const BlendPlan& plan)
{
    const int height = plan.height();
    if (plan.width() <= 0 || height <= 0 || count <= 0)
        return;
    // One strip per job on one thread: no row is worked out twice.
    const int threads = omp_get_max_threads();
    const int strips = threads > 1 ? std::clamp(height / kStripRows, 1, threads) : 1;
    const int tasks = count * strips;
#pragma omp parallel
    {
        Strip strip;
        // Strips near the poles of a seam band have far more to work out: handed out one at a time.
#pragma omp for schedule(dynamic, 1)
        for (int task = 0; task < tasks; ++task) {
            const int s = task % strips;
            const ColumnSpan rows{static_cast<int>(static_cast<int64_t>(height) * s / strips),
                                  static_cast<int>(static_cast<int64_t>(height) * (s + 1) / strips)};
            strip.blend(jobs[task / strips], mask, plan, rows);
        }
    }
}
