#pragma once

#include "imaging/image_params.h"

#include <cmath>
#include <cstddef>
#include <vector>

// Directions of the pixels of a W x H pano and where they fall in a lens image, levelled by
// the scan's ROLL_GLOBAL and PITCH_GLOBAL.
class PanoDirections {
public:
    // lensHeight is the height of the lens images, which span pi radians.
    PanoDirections(int width, int height, int lensHeight, const ImageParams& p);

    float step() const { return m_step; }

    // Ideal (undistorted) lens-image position of pano pixel (row, column).
    void lensPosition(int row, int column, float& x, float& y) const
    {
        const float ce = m_cosEl[static_cast<size_t>(row)];
        const float v0 = ce * m_cosAz[static_cast<size_t>(column)];
        const float v1 = m_sinEl[static_cast<size_t>(row)];
        const float v2 = ce * m_sinAz[static_cast<size_t>(column)];
        const float* L = m_levelling;
        const float p0 = L[0] * v0 + L[1] * v1 + L[2] * v2;
        const float p1 = L[3] * v0 + L[4] * v1 + L[5] * v2;
        const float p2 = L[6] * v0 + L[7] * v1 + L[8] * v2;
        const float el = std::atan(p1 / std::sqrt(p0 * p0 + p2 * p2));
        const float az = std::atan2(p2, p0);
        x = (az + kPi) * m_scale;
        y = (kHalfPi - el) * m_scale;
    }

    // The most columns lensPositions takes at once.
    static constexpr int kBlock = 64;

    // lensPosition of columns begin .. begin + count - 1 of one row (count at most kBlock): the same
    // operations in the same order, four or eight columns at a time, so every position is
    // lensPosition's to the bit. x and y take count rounded up to a multiple of eight values; those
    // past count mean nothing.
    void lensPositions(int row, int begin, int count, float* x, float* y) const;

private:
    // lensPositions where the processor has AVX2 (see numerics/arc_functions4.h).
    void lensPositionsEight(int row, int begin, int count, float* x, float* y) const;

    static constexpr float kPi = 3.1415927f;
    static constexpr float kHalfPi = 1.5707964f;

    float m_step;
    float m_scale;
    float m_levelling[9];
    // The azimuth tables run past the last column, so that a group of columns can always be read
    // at once.
    std::vector<float> m_cosAz, m_sinAz, m_cosEl, m_sinEl;
};
