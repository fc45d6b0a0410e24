#include "numerics/features.h"

#include "base/vector_clones.h"
#include "numerics/gaussian_kernels.h"

#include <omp.h>

#include <algorithm>
#include <cstddef>
#include <cmath>
#include <new>

namespace {
bool validImage(const float* image, int32_t w, int32_t h)
{
    return image && w > 0 && h > 0;
}

inline size_t index(int32_t x, int32_t y, int32_t w)
{
    return size_t(y) * size_t(w) + size_t(x);
}

// Zeroes a map outside the rectangle `margin` pixels in from every border.
void zeroOutside(float* map, int32_t w, int32_t h, int32_t margin)
{
    for (int32_t y = 0; y < h; ++y) {
        float* row = map + index(0, y, w);
        if (y < margin || y >= h - margin) {
            std::fill(row, row + w, 0.0f);
        } else {
            std::fill(row, row + std::min(margin, w), 0.0f);
            std::fill(row + std::max(w - margin, 0), row + w, 0.0f);
        }
    }
}

// out[x] = sum over i of k[i] x base[i step + x] for x in [from, to), accumulated over i in order
// from 0; the loop runs over x innermost so that it vectorises without changing any sum.
QUORIL_VECTOR_CLONES void correlate(const float* __restrict base, ptrdiff_t step, const std::vector<float>& k,
                                    int32_t from, int32_t to, float* __restrict out)
{
    for (int32_t x = from; x < to; ++x)
        out[x] = 0.0f;
    for (size_t i = 0; i < k.size(); ++i) {
        const float weight = k[i];
        const float* __restrict src = base + ptrdiff_t(i) * step;
        for (int32_t x = from; x < to; ++x)
            out[x] += weight * src[x];
    }
}

// The kernel along a row: out[x] = sum over i of k[i] x in[x - c + i].
void correlateRow(const float* in, const std::vector<float>& k, int32_t from, int32_t to, float* out)
{
    correlate(in - int32_t(k.size()) / 2, 1, k, from, to, out);
}

// The same down a column band: out[x] = sum over i of k[i] x rows[i][x], rows centred on `centre`.
void correlateColumns(const float* centre, int32_t stride, const std::vector<float>& k, int32_t from, int32_t to,
                      float* out)
{
    correlate(centre - ptrdiff_t(int32_t(k.size()) / 2) * stride, stride, k, from, to, out);
}

// The points bucketed into square cells, each cell's points in rank order (their index in the
// list sorted by response), so that a search for the nearest point ranked below a limit reads a
// cell only up to that rank and stops at the first ring of cells that cannot hold anything nearer.
class RankedGrid {
public:
    RankedGrid(const FeaturePoint* points, int32_t count) : points_(points)
    {
        minX_ = maxX_ = points[0].x;
        minY_ = maxY_ = points[0].y;
        for (int32_t i = 1; i < count; ++i) {
            minX_ = std::min(minX_, points[i].x);
            maxX_ = std::max(maxX_, points[i].x);
            minY_ = std::min(minY_, points[i].y);
            maxY_ = std::max(maxY_, points[i].y);
        }
        // About two points a cell where they spread evenly.
        const double spanX = double(maxX_) - double(minX_) + 1.0, spanY = double(maxY_) - double(minY_) + 1.0;
        cell_ = int64_t(std::max(1.0, std::ceil(std::sqrt(spanX * spanY * 2.0 / double(count)))));
        columns_ = int32_t((int64_t(maxX_) - minX_) / cell_ + 1);
        rows_ = int32_t((int64_t(maxY_) - minY_) / cell_ + 1);
        start_.assign(size_t(columns_) * size_t(rows_) + 1, 0);
        for (int32_t i = 0; i < count; ++i)
            ++start_[cellOf(points[i].x, points[i].y) + 1];
        for (size_t c = 1; c < start_.size(); ++c)
            start_[c] += start_[c - 1];
        entries_.resize(size_t(count));
        std::vector<int32_t> fill(start_.begin(), start_.end() - 1);
        for (int32_t i = 0; i < count; ++i)
            entries_[size_t(fill[cellOf(points[i].x, points[i].y)]++)] = Entry{points[i].x, points[i].y, i};
    }

    // Smallest squared distance from point q to a point of rank below `limit`, or `none`.
    int64_t nearest(int32_t q, int32_t limit, int64_t none) const
    {
        const int32_t qx = points_[q].x, qy = points_[q].y;
        const int64_t cx = (int64_t(qx) - minX_) / cell_, cy = (int64_t(qy) - minY_) / cell_;
        int64_t best = none;
        for (int64_t ring = 0;; ++ring) {
            // A cell `ring` cells away lies at least (ring - 1) cells and one pixel away.
            if (ring > 0) {
                const int64_t reach = (ring - 1) * cell_ + 1;
                if (reach * reach >= best)
                    break;
            }
            if (cx - ring < 0 && cy - ring < 0 && cx + ring >= columns_ && cy + ring >= rows_)
                break;
            for (int64_t y = std::max<int64_t>(cy - ring, 0); y <= std::min<int64_t>(cy + ring, rows_ - 1); ++y) {
                const bool edgeRow = y == cy - ring || y == cy + ring;
                const int64_t step = edgeRow || ring == 0 ? 1 : 2 * ring;
                for (int64_t x = cx - ring; x <= cx + ring; x += step)
                    if (x >= 0 && x < columns_)
                        scan(size_t(y) * size_t(columns_) + size_t(x), qx, qy, limit, best);
            }
        }
        return best;
    }

private:
    struct Entry {
        int32_t x, y, rank;
    };

    size_t cellOf(int32_t x, int32_t y) const
    {
        return size_t((int64_t(y) - minY_) / cell_) * size_t(columns_) + size_t((int64_t(x) - minX_) / cell_);
    }

    void scan(size_t cell, int32_t qx, int32_t qy, int32_t limit, int64_t& best) const
    {
        for (int32_t k = start_[cell]; k < start_[cell + 1]; ++k) {
            const Entry& e = entries_[size_t(k)];
            if (e.rank >= limit)
                return;
            const int64_t dx = int64_t(e.x) - qx, dy = int64_t(e.y) - qy;
            best = std::min(best, dx * dx + dy * dy);
        }
    }

    const FeaturePoint* points_;
    int32_t minX_, maxX_, minY_, maxY_;
    int64_t cell_;
    int32_t columns_, rows_;
    std::vector<int32_t> start_;
    std::vector<Entry> entries_;
};
}  // namespace

namespace {
// Appends the strict local maxima at or above `floor` of one response row (columns from .. to - 1)
// in column order. The comparisons run branch-free over the row first, where they vectorise, and
// only the few peaks take the branch.
QUORIL_VECTOR_CLONES void collectPeaks(const float* row, int32_t w, int32_t from, int32_t to, float floor, uint8_t* __restrict peak,
                  int32_t y, std::vector<FeaturePoint>& out)
{
    const float* __restrict p = row;
    const float* __restrict up = row - w;
    const float* __restrict down = row + w;
    for (int32_t x = from; x < to; ++x) {
        const float v = p[x];
        peak[x] = uint8_t((v >= floor) & (v > up[x - 1]) & (v > up[x]) & (v > up[x + 1]) & (v > p[x - 1]) &
                          (v > p[x + 1]) & (v > down[x - 1]) & (v > down[x]) & (v > down[x + 1]));
    }
    for (int32_t x = from; x < to; ++x)
        if (peak[x])
            out.push_back(FeaturePoint{x, y, 0, p[x]});
}
// Working maps of the calling thread, kept between calls: bands are detected over and over, and
// fresh memory for every call costs more in page faults than the filters themselves.
float* workspace(size_t floats)
{
    thread_local std::vector<float> buffer;
    if (buffer.size() < floats)
        buffer.resize(floats);
    return buffer.data();
}

// scratch holds two maps.
void tensorInto(const float* image, int32_t w, int32_t h, float sigmaD, float* ixx, float* iyy, float* ixy,
                float* scratch)
{
    const std::vector<float> smooth = gaussianKernel(sigmaD);
    const std::vector<float> derive = gaussianDerivativeKernel(sigmaD);
    const int32_t c = int32_t(smooth.size()) / 2;
    zeroOutside(ixx, w, h, c);
    zeroOutside(iyy, w, h, c);
    zeroOutside(ixy, w, h, c);
    if (w <= 2 * c || h <= 2 * c)
        return;

    // Horizontal pass: the smoothed row and its horizontal derivative.
    const size_t total = size_t(w) * size_t(h);
    float* const smoothed = scratch;
    float* const dx = scratch + total;
#pragma omp parallel for schedule(static)
    for (int32_t y = 0; y < h; ++y) {
        const float* row = image + index(0, y, w);
        correlateRow(row, smooth, c, w - c, smoothed + index(0, y, w));
        correlateRow(row, derive, c, w - c, dx + index(0, y, w));
    }

    // Vertical pass: Ix smooths the horizontal derivative, Iy differentiates the smoothed rows;
    // both land in the output rows, which then receive the products.
#pragma omp parallel for schedule(static)
    for (int32_t y = c; y < h - c; ++y) {
        const size_t base = index(0, y, w);
        float* gx = ixx + base;
        float* gy = iyy + base;
        float* gxy = ixy + base;
        correlateColumns(dx + base, w, smooth, c, w - c, gx);
        correlateColumns(smoothed + base, w, derive, c, w - c, gy);
        for (int32_t x = c; x < w - c; ++x) {
            const float ix = gx[x], iy = gy[x];
            gx[x] = ix * ix;
            gy[x] = iy * iy;
            gxy[x] = ix * iy;
        }
    }
}

// scratch holds three maps.
float responseInto(const float* ixx, const float* iyy, const float* ixy, int32_t w, int32_t h, float sigmaD,
                   float sigmaI, float* response, float* scratch)
{
    const std::vector<float> smooth = gaussianKernel(sigmaI);
    const int32_t ci = int32_t(smooth.size()) / 2;
    const int32_t r = int32_t(5.0f * sigmaD) / 2;
    const int32_t o = ci + r;
    zeroOutside(response, w, h, o);
    if (w <= 2 * o || h <= 2 * o)
        return 0.0f;

    // Horizontal smoothing of the rows the vertical pass reads.
    const size_t total = size_t(w) * size_t(h);
    float* const sxx = scratch;
    float* const syy = scratch + total;
    float* const sxy = scratch + 2 * total;
#pragma omp parallel for schedule(static)
    for (int32_t y = o - ci; y < h - o + ci; ++y) {
        const size_t base = index(0, y, w);
        correlateRow(ixx + base, smooth, o, w - o, sxx + base);
        correlateRow(iyy + base, smooth, o, w - o, syy + base);
        correlateRow(ixy + base, smooth, o, w - o, sxy + base);
    }

    // Vertical smoothing and the smaller eigenvalue. The maximum is exact in any order, so the
    // rows may run in parallel.
    float maxResponse = 0.0f;
#pragma omp parallel reduction(max : maxResponse)
    {
        const size_t width = static_cast<size_t>(w);
        std::vector<float> a(width), b(width), e(width);
#pragma omp for schedule(static)
        for (int32_t y = o; y < h - o; ++y) {
            const size_t base = index(0, y, w);
            correlateColumns(sxx + base, w, smooth, o, w - o, a.data());
            correlateColumns(syy + base, w, smooth, o, w - o, b.data());
            correlateColumns(sxy + base, w, smooth, o, w - o, e.data());
            float* out = response + base;
            for (int32_t x = o; x < w - o; ++x) {
                const float av = a[size_t(x)], bv = b[size_t(x)], ev = e[size_t(x)];
                const float mean = (av + bv) / 2.0f;
                const float q = mean * mean - (av * bv - ev * ev);
                const float value = q < 0.0f ? 0.0f : mean - std::sqrt(q);
                out[x] = value;
                maxResponse = std::max(maxResponse, value);
            }
        }
    }
    return maxResponse;
}
}  // namespace

void structureTensor(const float* image, int32_t w, int32_t h, float sigmaD, float* ixx, float* iyy,
                     float* ixy)
{
    if (!validImage(image, w, h) || !ixx || !iyy || !ixy)
        return;
    tensorInto(image, w, h, sigmaD, ixx, iyy, ixy, workspace(2 * size_t(w) * size_t(h)));
}

float minEigenResponse(const float* ixx, const float* iyy, const float* ixy, int32_t w, int32_t h,
                       float sigmaD, float sigmaI, float* response)
{
    if (!ixx || !iyy || !ixy || !response || w < 1 || h < 1)
        return 0.0f;
    return responseInto(ixx, iyy, ixy, w, h, sigmaD, sigmaI, response, workspace(3 * size_t(w) * size_t(h)));
}

void suppressNonMaximaAdaptive(FeaturePoint* points, int32_t count, int32_t w, int32_t h)
{
    if (!points || count < 1)
        return;
    const int64_t none = (int64_t(w) + h) * (int64_t(w) + h);
    // Searching every earlier point is quadratic in the number of candidates, which textures
    // such as noise make large; the grid gives the same minimum.
    const RankedGrid grid(points, count);
#pragma omp parallel for schedule(static)
    for (int32_t i = 0; i < count; ++i) {
        // Responses fall with the rank, so the points that suppress i form a prefix.
        const float own = points[i].response;
        const FeaturePoint* end = std::partition_point(
            points, points + i, [own](const FeaturePoint& p) { return p.response * 0.9f > own; });
        const int32_t limit = int32_t(end - points);
        points[i].radiusSquared = int32_t(limit > 0 ? grid.nearest(i, limit, none) : none);
    }
}

void detectFeatures(const float* image, int32_t w, int32_t h, float sigmaD, float sigmaI,
                    float threshold, int32_t maxPoints, std::vector<FeaturePoint>& points)
{
    points.clear();
    if (!validImage(image, w, h) || maxPoints < 1 || double(sigmaD) < 0.4 || double(sigmaI) < 0.4)
        return;
    const size_t total = size_t(w) * size_t(h);
    float* ixx = nullptr;
    try {
        ixx = workspace(7 * total);
    } catch (const std::bad_alloc&) {
        return;
    }
    float* const iyy = ixx + total;
    float* const ixy = iyy + total;
    float* const response = ixy + total;
    float* const scratch = response + total;
    tensorInto(image, w, h, sigmaD, ixx, iyy, ixy, scratch);
    const float maxResponse = responseInto(ixx, iyy, ixy, w, h, sigmaD, sigmaI, response, scratch);

    // Strict local maxima above the threshold, row by row. Each thread takes one block of rows in
    // thread order, so joining their lists keeps the row order.
    const int32_t b = int32_t(5.0f * sigmaD) / 2 + int32_t(5.0f * sigmaI) / 2 + 1;
    const float floor = threshold * maxResponse;
    std::vector<std::vector<FeaturePoint>> found(static_cast<size_t>(omp_get_max_threads()));
#pragma omp parallel
    {
        std::vector<FeaturePoint>& mine = found[size_t(omp_get_thread_num())];
        std::vector<uint8_t> peak(size_t(std::max(w, 0)));
#pragma omp for schedule(static)
        for (int32_t y = b; y < h - b; ++y)
            collectPeaks(response + index(0, y, w), w, b, w - b, floor, peak.data(), y, mine);
    }
    for (const std::vector<FeaturePoint>& part : found)
        points.insert(points.end(), part.begin(), part.end());
    if (int32_t(points.size()) < maxPoints)
        return;

    std::sort(points.begin(), points.end(),
              [](const FeaturePoint& a, const FeaturePoint& c) { return a.response > c.response; });
    suppressNonMaximaAdaptive(points.data(), int32_t(points.size()), w, h);
    std::sort(points.begin(), points.end(), [](const FeaturePoint& a, const FeaturePoint& c) {
        return a.radiusSquared > c.radiusSquared;
    });
    points.resize(size_t(maxPoints));
}
