#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Pixel helpers shared by the two-lens renders.

// Whether a pano column looks through lens 1 (the middle half of the pano).
inline bool isLens1Column(int column, int halfWidth, int quarterWidth)
{
    return std::abs(column - halfWidth) < quarterWidth;
}

inline void copyPixel(const uint8_t* image, int width, int column, int row, uint8_t* out)
{
    const uint8_t* p = image + (static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(column)) * 3;
    out[0] = p[0];
    out[1] = p[1];
    out[2] = p[2];
}

// Nearest lens pixel of a position; never outside the image, whatever the position. Azimuth
// wraps: a position that rounds to the right edge is column 0, not the last column.
inline void nearestPixel(float x, float y, int width, int height, int& column, int& row)
{
    column = static_cast<int>(std::clamp(x + 0.5f, 0.0f, static_cast<float>(width)));
    if (column >= width)
        column = 0;
    row = std::clamp(static_cast<int>(std::clamp(y + 0.5f, 0.0f, static_cast<float>(height))), 0, height - 1);
}
