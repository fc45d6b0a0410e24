#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Columns [begin, end) of one row; empty when end <= begin.
struct ColumnSpan {
    int begin = 0;
    int end = 0;
    bool empty() const { return end <= begin; }
};

// Where a multi-band blend (multiband_blend.h) has work to do. A pixel whose whole pyramid
// neighbourhood gives the second image weight 0 keeps the first image's colour; one whose
// neighbourhood gives it weight 1 takes the second's (to within far less than half a level). The
// plan bounds, row by row and level by level, the pixels whose blend depends on anything else and
// the parts of the pyramid they need, so that the blend works out those alone.
class BlendPlan {
public:
    // Weight of the second image at one pixel: its share of the two coverages under the mask.
    static float secondWeight(uint8_t firstCoverage, uint8_t secondCoverage, uint8_t mask);

    // For two images of width x height 4-byte pixels (coverage, R, G, B) under a mask.
    static BlendPlan forImages(const uint8_t* first, const uint8_t* second, const uint8_t* mask, int width,
                               int height);
    // For two images that cover every pixel, from the mask alone.
    static BlendPlan forMask(const uint8_t* mask, int width, int height);

    int width() const { return m_levels.front().width; }
    int height() const { return m_levels.front().height; }
    // Pyramid levels below the full resolution.
    int levelsBelow() const { return static_cast<int>(m_levels.size()) - 1; }
    int levelWidth(int level) const { return m_levels[static_cast<size_t>(level)].width; }
    int levelHeight(int level) const { return m_levels[static_cast<size_t>(level)].height; }

    // Full-resolution columns of a row whose pixels the blend reads in both images. Left of them
    // it reads the first image alone, right of them the second alone.
    ColumnSpan bothImages(int row) const { return pyramid(0, row); }
    // Columns of a row where level `level` of the pyramid is worked out.
    ColumnSpan pyramid(int level, int row) const { return at(&Level::pyramid, level, row); }
    // Columns of level + 1 that the horizontal half of the reduction works out on a row of level.
    ColumnSpan across(int level, int row) const { return at(&Level::across, level, row); }
    // Columns of a row where the blended level is worked out. At full resolution these are the
    // pixels whose output is worked out: left of them it is the first image's colour, right of
    // them the second's.
    ColumnSpan blended(int level, int row) const { return at(&Level::blended, level, row); }

    // Indices (columns or rows) of a level of `coarse` samples that the upsampling of indices
    // `fine` of the level above reads.
    static ColumnSpan upsampleSource(ColumnSpan fine, int coarse);
    // Indices of a level of `fine` samples that the reduction of indices `coarse` reads.
    static ColumnSpan reduceSource(ColumnSpan coarse, int fine);

private:
    struct Level {
        int width = 0;
        int height = 0;
        std::vector<ColumnSpan> pyramid, across, blended;
    };

    // zeroEnd[row]: columns before it have weight 0; oneStart[row]: columns from it have weight 1.
    static BlendPlan fromWeights(const std::vector<int>& zeroEnd, const std::vector<int>& oneStart, int width,
                                 int height);
    ColumnSpan at(std::vector<ColumnSpan> Level::*spans, int level, int row) const
    {
        return (m_levels[static_cast<size_t>(level)].*spans)[static_cast<size_t>(row)];
    }

    std::vector<Level> m_levels;
};
