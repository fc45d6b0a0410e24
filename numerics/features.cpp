#include "numerics/features.h"

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

// out[x] = sum over i of k[i] x in[x - c + i] for x in [from, to), accumulated over i in order;
// the loop runs over x innermost so that it vectorises without changing any sum.
void correlateRow(const float* __restrict in, const std::vector<float>& k, int32_t from, int32_t to,
                  float* __restrict out)
{
    const int32_t c = int32_t(k.size()) / 2;
    for (int32_t x = from; x < to; ++x)
        out[x] = 0.0f;
    for (size_t i = 0; i < k.size(); ++i) {
        const float weight = k[i];
        const float* __restrict src = in - c + int32_t(i);
        for (int32_t x = from; x < to; ++x)
            out[x] += weight * src[x];
    }
}

// The same down a column band: out[x] = sum over i of k[i] x rows[i][x].
void correlateColumns(const float* __restrict centre, int32_t stride, const std::vector<float>& k,
                      int32_t from, int32_t to, float* __restrict out)
{
    const int32_t c = int32_t(k.size()) / 2;
    for (int32_t x = from; x < to; ++x)
        out[x] = 0.0f;
    for (size_t i = 0; i < k.size(); ++i) {
        const float weight = k[i];
        const float* __restrict src = centre + ptrdiff_t(int32_t(i) - c) * stride;
        for (int32_t x = from; x < to; ++x)
            out[x] += weight * src[x];
    }
}

// 2-d tree over points already sorted by rank (their index). Each node keeps its subtree's
// bounding box and lowest rank, so a nearest-neighbour query among the ranks below a bound skips
// whole subtrees that hold none of them.
class RankedTree {
public:
    RankedTree(const FeaturePoint* points, int32_t count)
        : points_(points), order_(size_t(count)), nodes_(size_t(count))
    {
        for (int32_t i = 0; i < count; ++i)
            order_[size_t(i)] = i;
        build(0, count, 0);
    }

    // Smallest squared distance from point q to a point of rank below `limit`, or `none`.
    int64_t nearest(int32_t q, int32_t limit, int64_t none) const
    {
        int64_t best = none;
        search(0, int32_t(order_.size()), 0, points_[q].x, points_[q].y, limit, best);
        return best;
    }

private:
    struct Node {
        int32_t minX, maxX, minY, maxY, minRank;
    };

    void build(int32_t lo, int32_t hi, int depth)
    {
        if (lo >= hi)
            return;
        const int32_t mid = lo + (hi - lo) / 2;
        auto key = [this, depth](int32_t i) { return depth % 2 == 0 ? points_[i].x : points_[i].y; };
        std::nth_element(order_.begin() + lo, order_.begin() + mid, order_.begin() + hi,
                         [&](int32_t a, int32_t b) { return key(a) < key(b); });
        Node node{INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX};
        for (int32_t k = lo; k < hi; ++k) {
            const FeaturePoint& p = points_[order_[size_t(k)]];
            node.minX = std::min(node.minX, p.x);
            node.maxX = std::max(node.maxX, p.x);
            node.minY = std::min(node.minY, p.y);
            node.maxY = std::max(node.maxY, p.y);
            node.minRank = std::min(node.minRank, order_[size_t(k)]);
        }
        nodes_[size_t(mid)] = node;
        build(lo, mid, depth + 1);
        build(mid + 1, hi, depth + 1);
    }

    void search(int32_t lo, int32_t hi, int depth, int32_t qx, int32_t qy, int32_t limit,
                int64_t& best) const
    {
        if (lo >= hi)
            return;
        const int32_t mid = lo + (hi - lo) / 2;
        const Node& node = nodes_[size_t(mid)];
        if (node.minRank >= limit)
            return;
        const int64_t bx = qx < node.minX ? node.minX - qx : (qx > node.maxX ? qx - node.maxX : 0);
        const int64_t by = qy < node.minY ? node.minY - qy : (qy > node.maxY ? qy - node.maxY : 0);
        if (bx * bx + by * by >= best)
            return;
        const int32_t rank = order_[size_t(mid)];
        const FeaturePoint& p = points_[rank];
        if (rank < limit) {
            const int64_t dx = p.x - qx, dy = p.y - qy;
            best = std::min(best, dx * dx + dy * dy);
        }
        const int32_t diff = depth % 2 == 0 ? qx - p.x : qy - p.y;
        if (diff < 0) {
            search(lo, mid, depth + 1, qx, qy, limit, best);
            search(mid + 1, hi, depth + 1, qx, qy, limit, best);
        } else {
            search(mid + 1, hi, depth + 1, qx, qy, limit, best);
            search(lo, mid, depth + 1, qx, qy, limit, best);
        }
    }

    const FeaturePoint* points_;
    std::vector<int32_t> order_;
    std::vector<Node> nodes_;
};
}  // namespace

namespace {
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
    // such as noise make large; the tree gives the same minimum.
    const RankedTree tree(points, count);
#pragma omp parallel for schedule(static)
    for (int32_t i = 0; i < count; ++i) {
        // Responses fall with the rank, so the points that suppress i form a prefix.
        const float own = points[i].response;
        const FeaturePoint* end = std::partition_point(
            points, points + i, [own](const FeaturePoint& p) { return p.response * 0.9f > own; });
        const int32_t limit = int32_t(end - points);
        points[i].radiusSquared = int32_t(limit > 0 ? tree.nearest(i, limit, none) : none);
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
#pragma omp for schedule(static)
        for (int32_t y = b; y < h - b; ++y) {
            for (int32_t x = b; x < w - b; ++x) {
                const float* p = response + index(x, y, w);
                const float v = *p;
                if (!(v >= floor))
                    continue;
                const float* up = p - w;
                const float* down = p + w;
                if (v > up[-1] && v > up[0] && v > up[1] && v > p[-1] && v > p[1] && v > down[-1] &&
                    v > down[0] && v > down[1])
                    mine.push_back(FeaturePoint{x, y, 0, v});
            }
        }
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
