#include "imaging/blend_plan.h"

#include <algorithm>
#include <array>

namespace {
// Below the full-resolution level; the coarsest level of a wide seam then spans about 32 pixels.
constexpr int kMaxLevels = 5;

int levelCount(int width, int height)
{
    int levels = 0;
    int side = std::min(width, height);
    while (levels < kMaxLevels && side >= 2) {
        side = (side + 1) / 2;
        ++levels;
    }
    return levels;
}

int floorHalf(int value)
{
    return value >= 0 ? value / 2 : -((1 - value) / 2);
}

int ceilHalf(int value)
{
    return -floorHalf(-value);
}

void unite(ColumnSpan& span, ColumnSpan more)
{
    if (more.empty())
        return;
    span = span.empty() ? more : ColumnSpan{std::min(span.begin, more.begin), std::max(span.end, more.end)};
}

// The smallest span that holds the mirrored index (as the blend mirrors at an edge, without
// repeating the edge sample) of every index in [low, high].
ColumnSpan mirrorHull(int low, int high, int n)
{
    if (n == 1)
        return {0, 1};
    if (low >= 0 && high < n)
        return {low, high + 1};
    if (low < -(n - 1) || high > 2 * n - 2)
        return {0, n};
    ColumnSpan hull;
    if (low < n && high >= 0)
        unite(hull, {std::max(low, 0), std::min(high, n - 1) + 1});
    if (low < 0)
        unite(hull, {-std::min(high, -1), -low + 1});
    if (high >= n)
        unite(hull, {2 * n - 2 - high, 2 * n - 2 - std::max(low, n) + 1});
    return hull;
}

// Rows (or columns) of the coarser level that the upsampling of fine index i reads.
ColumnSpan expandSource(int i, int coarse)
{
    return {std::max(0, ceilHalf(i - 2)), std::min(coarse - 1, floorHalf(i + 2)) + 1};
}


// Per row: the columns before zeroEnd have weight 0, those from oneStart weight 1.
template <typename Weight>
void classifyRows(int width, int height, const Weight& weight, std::vector<int>& zeroEnd, std::vector<int>& oneStart)
{
    zeroEnd.assign(static_cast<size_t>(std::max(height, 0)), 0);
    oneStart.assign(zeroEnd.size(), 0);
    for (int y = 0; y < height; ++y) {
        int zeros = 0;
        while (zeros < width && weight(y, zeros) == 0.0f)
            ++zeros;
        int ones = width;
        while (ones > zeros && weight(y, ones - 1) == 1.0f)
            --ones;
        zeroEnd[static_cast<size_t>(y)] = zeros;
        oneStart[static_cast<size_t>(y)] = ones;
    }
}
} // namespace

ColumnSpan BlendPlan::upsampleSource(ColumnSpan fine, int coarse)
{
    if (fine.empty())
        return {};
    return {expandSource(fine.begin, coarse).begin, expandSource(fine.end - 1, coarse).end};
}

ColumnSpan BlendPlan::reduceSource(ColumnSpan coarse, int fine)
{
    if (coarse.empty())
        return {};
    return mirrorHull(2 * coarse.begin - 2, 2 * (coarse.end - 1) + 2, fine);
}

float BlendPlan::secondWeight(uint8_t firstCoverage, uint8_t secondCoverage, uint8_t mask)
{
    if (firstCoverage == 0 && secondCoverage == 0)
        return 0.0f;
    const float m = mask * (1.0f / 255.0f);
    const float w1 = (1.0f - m) * firstCoverage;
    const float w2 = m * secondCoverage;
    return w1 + w2 > 0.0f ? w2 / (w1 + w2) : 0.0f;
}

BlendPlan BlendPlan::forImages(const uint8_t* first, const uint8_t* second, const uint8_t* mask, int width,
                               int height)
{
    std::vector<int> zeroEnd, oneStart;
    classifyRows(width, height, [&](int y, int x) {
        const size_t p = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
        return secondWeight(first[p * 4], second[p * 4], mask[p]);
    }, zeroEnd, oneStart);
    return fromWeights(zeroEnd, oneStart, width, height);
}

BlendPlan BlendPlan::forMask(const uint8_t* mask, int width, int height)
{
    std::array<float, 256> weights{};
    for (int m = 0; m < 256; ++m)
        weights[static_cast<size_t>(m)] = secondWeight(255, 255, static_cast<uint8_t>(m));
    std::vector<int> zeroEnd, oneStart;
    classifyRows(width, height, [&](int y, int x) {
        return weights[mask[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]];
    }, zeroEnd, oneStart);
    return fromWeights(zeroEnd, oneStart, width, height);
}

BlendPlan BlendPlan::fromWeights(const std::vector<int>& zeroEnd, const std::vector<int>& oneStart, int width,
                                 int height)
{
    BlendPlan plan;
    const int below = width > 0 && height > 0 ? levelCount(width, height) : 0;
    plan.m_levels.resize(static_cast<size_t>(below) + 1);
    for (size_t k = 0; k < plan.m_levels.size(); ++k) {
        Level& level = plan.m_levels[k];
        level.width = k == 0 ? std::max(width, 0) : (plan.m_levels[k - 1].width + 1) / 2;
        level.height = k == 0 ? std::max(height, 0) : (plan.m_levels[k - 1].height + 1) / 2;
        const auto rows = static_cast<size_t>(level.height);
        level.pyramid.assign(rows, {});
        level.across.assign(rows, {});
        level.blended.assign(rows, {});
    }
    auto levelAt = [&](int k) -> Level& { return plan.m_levels[static_cast<size_t>(k)]; };
    auto row = [](std::vector<int>& values, int y) -> int& { return values[static_cast<size_t>(y)]; };

    // Per level and row: columns before zero[k] have weight exactly 0 in the Gaussian pyramid of
    // the weights, columns from one[k] weight exactly 1 (the filter's taps sum to 1 exactly).
    std::vector<std::vector<int>> zero{zeroEnd}, one{oneStart};
    for (int k = 0; k < below; ++k) {
        const Level& fine = levelAt(k);
        const Level& coarse = levelAt(k + 1);
        std::vector<int> z(static_cast<size_t>(coarse.height)), o(z.size());
        for (int y = 0; y < coarse.height; ++y) {
            const ColumnSpan rows = mirrorHull(2 * y - 2, 2 * y + 2, fine.height);
            int zeros = fine.width, ones = 0;
            for (int r = rows.begin; r < rows.end; ++r) {
                zeros = std::min(zeros, row(zero[static_cast<size_t>(k)], r));
                ones = std::max(ones, row(one[static_cast<size_t>(k)], r));
            }
            // A coarse column reads fine columns 2x - 2 .. 2x + 2, mirrored into the row.
            row(z, y) = zeros > fine.width - 1 ? coarse.width : std::max(0, ceilHalf(zeros - 2));
            row(o, y) = ones <= 0 ? 0 : std::min(coarse.width, ceilHalf(ones + 2));
        }
        zero.push_back(std::move(z));
        one.push_back(std::move(o));
    }

    // The blended levels: exactly 0 where the weight and the upsampled coarser blend are 0; the
    // Gaussian level itself to within rounding where the weight and the coarser blend are 1.
    std::vector<int> blendZero = zero.back(), blendOne = one.back();
    for (int k = below - 1; k >= 0; --k) {
        const Level& fine = levelAt(k);
        const Level& coarse = levelAt(k + 1);
        std::vector<int> z(static_cast<size_t>(fine.height)), o(z.size());
        for (int y = 0; y < fine.height; ++y) {
            const ColumnSpan rows = expandSource(y, coarse.height);
            int zeros = coarse.width, ones = 0;
            for (int r = rows.begin; r < rows.end; ++r) {
                zeros = std::min(zeros, row(blendZero, r));
                ones = std::max(ones, row(blendOne, r));
            }
            const int zeroUpTo = zeros >= coarse.width ? fine.width : std::min(fine.width, std::max(0, 2 * zeros - 2));
            const int oneFrom = ones <= 0 ? 0 : std::min(fine.width, 2 * ones + 1);
            row(z, y) = std::min(row(zero[static_cast<size_t>(k)], y), zeroUpTo);
            row(o, y) = std::max(row(one[static_cast<size_t>(k)], y), oneFrom);
        }
        blendZero = std::move(z);
        blendOne = std::move(o);
    }

    // What is worked out: the outputs between the two regions, the coarser blended levels their
    // upsampling reads, and the Gaussian levels all of those and the reductions read.
    for (int y = 0; y < levelAt(0).height; ++y)
        levelAt(0).blended[static_cast<size_t>(y)] = {row(blendZero, y), row(blendOne, y)};
    for (int k = 0; k < below; ++k) {
        Level& fine = levelAt(k);
        Level& coarse = levelAt(k + 1);
        for (int y = 0; y < fine.height; ++y) {
            const ColumnSpan columns = upsampleSource(fine.blended[static_cast<size_t>(y)], coarse.width);
            if (columns.empty())
                continue;
            const ColumnSpan rows = expandSource(y, coarse.height);
            for (int r = rows.begin; r < rows.end; ++r)
                unite(coarse.blended[static_cast<size_t>(r)], columns);
        }
    }
    Level& top = levelAt(below);
    top.pyramid = top.blended;
    for (int k = below - 1; k >= 0; --k) {
        Level& fine = levelAt(k);
        const Level& coarse = levelAt(k + 1);
        for (int y = 0; y < coarse.height; ++y) {
            const ColumnSpan columns = coarse.pyramid[static_cast<size_t>(y)];
            if (columns.empty())
                continue;
            const ColumnSpan rows = mirrorHull(2 * y - 2, 2 * y + 2, fine.height);
            for (int r = rows.begin; r < rows.end; ++r)
                unite(fine.across[static_cast<size_t>(r)], columns);
        }
        for (int y = 0; y < fine.height; ++y) {
            ColumnSpan columns = fine.blended[static_cast<size_t>(y)];
            const ColumnSpan read = reduceSource(fine.across[static_cast<size_t>(y)], fine.width);
            // At full resolution an empty output span still marks where the first image's side
            // ends, and what is read from both images must not cross that mark.
            if (k == 0 && !read.empty())
                columns = {std::min(columns.begin, read.begin), std::max(columns.end, read.end)};
            else
                unite(columns, read);
            fine.pyramid[static_cast<size_t>(y)] = columns;
        }
    }
    return plan;
}
