#include "numerics/features.h"

#include "numerics/gaussian_kernels.h"

#include <algorithm>
#include <cstddef>
#include <cmath>

namespace {
bool validImage(const float* image, int32_t w, int32_t h)
{
    return image && w > 0 && h > 0;
}

inline size_t index(int32_t x, int32_t y, int32_t w)
{
    return size_t(y) * size_t(w) + size_t(x);
}

// out[x] = sum over i of k[i] x in[x - c + i] for x in [from, to), accumulated over i in order;
// the loop runs over x innermost so that it vectorises without changing any sum.
void correlateRow(const float* in, const std::vector<float>& k, int32_t from, int32_t to, float* out)
{
    const int32_t c = int32_t(k.size()) / 2;
    for (int32_t x = from; x < to; ++x)
        out[x] = 0.0f;
    for (size_t i = 0; i < k.size(); ++i) {
        const float weight = k[i];
        const float* src = in - c + int32_t(i);
        for (int32_t x = from; x < to; ++x)
            out[x] += weight * src[x];
    }
}

// The same down a column band: out[x] = sum over i of k[i] x rows[i][x].
void correlateColumns(const float* centre, int32_t stride, const std::vector<float>& k, int32_t from,
                      int32_t to, float* out)
{
    const int32_t c = int32_t(k.size()) / 2;
    for (int32_t x = from; x < to; ++x)
        out[x] = 0.0f;
    for (size_t i = 0; i < k.size(); ++i) {
        const float weight = k[i];
        const float* src = centre + ptrdiff_t(int32_t(i) - c) * stride;
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

void structureTensor(const float* image, int32_t w, int32_t h, float sigmaD, float* ixx, float* iyy,
                     float* ixy)
{
    if (!validImage(image, w, h))
        return;
    const size_t total = size_t(w) * size_t(h);
    std::fill(ixx, ixx + total, 0.0f);
    std::fill(iyy, iyy + total, 0.0f);
    std::fill(ixy, ixy + total, 0.0f);
    const std::vector<float> smooth = gaussianKernel(sigmaD);
    const std::vector<float> derive = gaussianDerivativeKernel(sigmaD);
    const int32_t c = int32_t(smooth.size()) / 2;
    if (w <= 2 * c || h <= 2 * c)
        return;

    // Horizontal pass: the smoothed row and its horizontal derivative.
    std::vector<float> smoothed(total), dx(total);
#pragma omp parallel for schedule(static)
    for (int32_t y = 0; y < h; ++y) {
        const float* row = image + index(0, y, w);
        correlateRow(row, smooth, c, w - c, smoothed.data() + index(0, y, w));
        correlateRow(row, derive, c, w - c, dx.data() + index(0, y, w));
    }

    // Vertical pass: Ix smooths the horizontal derivative, Iy differentiates the smoothed rows.
#pragma omp parallel for schedule(static)
    for (int32_t y = c; y < h - c; ++y) {
        std::vector<float> gx(size_t(w), 0.0f), gy(size_t(w), 0.0f);
        correlateColumns(dx.data() + index(0, y, w), w, smooth, c, w - c, gx.data());
        correlateColumns(smoothed.data() + index(0, y, w), w, derive, c, w - c, gy.data());
        const size_t base = index(0, y, w);
        for (int32_t x = c; x < w - c; ++x) {
            ixx[base + size_t(x)] = gx[size_t(x)] * gx[size_t(x)];
            iyy[base + size_t(x)] = gy[size_t(x)] * gy[size_t(x)];
            ixy[base + size_t(x)] = gx[size_t(x)] * gy[size_t(x)];
        }
    }
}

float minEigenResponse(const float* ixx, const float* iyy, const float* ixy, int32_t w, int32_t h,
                       float sigmaD, float sigmaI, float* response)
{
    if (!ixx || !iyy || !ixy || !response || w < 1 || h < 1)
        return 0.0f;
    const size_t total = size_t(w) * size_t(h);
    std::fill(response, response + total, 0.0f);
    const std::vector<float> smooth = gaussianKernel(sigmaI);
    const int32_t ci = int32_t(smooth.size()) / 2;
    const int32_t r = int32_t(5.0f * sigmaD) / 2;
    const int32_t o = ci + r;
    if (w <= 2 * o || h <= 2 * o)
        return 0.0f;

    // Horizontal smoothing of the rows the vertical pass reads.
    std::vector<float> sxx(total), syy(total), sxy(total);
#pragma omp parallel for schedule(static)
    for (int32_t y = o - ci; y < h - o + ci; ++y) {
        const size_t base = index(0, y, w);
        correlateRow(ixx + base, smooth, o, w - o, sxx.data() + base);
        correlateRow(iyy + base, smooth, o, w - o, syy.data() + base);
        correlateRow(ixy + base, smooth, o, w - o, sxy.data() + base);
    }

    // Vertical smoothing and the smaller eigenvalue. The maximum is exact in any order, so the
    // rows may run in parallel.
    float maxResponse = 0.0f;
#pragma omp parallel for schedule(static) reduction(max : maxResponse)
    for (int32_t y = o; y < h - o; ++y) {
        const size_t width = static_cast<size_t>(w);
        std::vector<float> a(width), b(width), e(width);
        const size_t base = index(0, y, w);
        correlateColumns(sxx.data() + base, w, smooth, o, w - o, a.data());
        correlateColumns(syy.data() + base, w, smooth, o, w - o, b.data());
        correlateColumns(sxy.data() + base, w, smooth, o, w - o, e.data());
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
    return maxResponse;
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
    std::vector<float> ixx(total), iyy(total), ixy(total), response(total);
    structureTensor(image, w, h, sigmaD, ixx.data(), iyy.data(), ixy.data());
    const float maxResponse =
        minEigenResponse(ixx.data(), iyy.data(), ixy.data(), w, h, sigmaD, sigmaI, response.data());

    // Strict local maxima above the threshold, row by row.
    const int32_t b = int32_t(5.0f * sigmaD) / 2 + int32_t(5.0f * sigmaI) / 2 + 1;
    const float floor = threshold * maxResponse;
    for (int32_t y = b; y < h - b; ++y) {
        for (int32_t x = b; x < w - b; ++x) {
            const float* p = response.data() + index(x, y, w);
            const float v = *p;
            if (!(v >= floor))
                continue;
            const float* up = p - w;
            const float* down = p + w;
            if (v > up[-1] && v > up[0] && v > up[1] && v > p[-1] && v > p[1] && v > down[-1] &&
                v > down[0] && v > down[1])
                points.push_back(FeaturePoint{x, y, 0, v});
        }
    }
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
