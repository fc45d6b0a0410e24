#pragma once

#include "camera/cam_params_ztm6.h"

// CamParamsZTM6::lensProject for many positions at a time. What depends only on the calibration is
// taken once; the arithmetic runs four positions at a time with the same operations in the same
// order, and sin, cos and asin get exactly the values the one-position form gives them, so every
// result equals lensProject's to the bit.
class Ztm6LensRows {
public:
    // The most positions project takes at once.
    static constexpr int kBlock = 64;

    Ztm6LensRows(const CamParamsZTM6& camera, float fadeStart, float fadeEnd);

    // outX[i], outY[i] = lensProject(x[i], y[i]) for i < count (count at most kBlock). The four
    // arrays hold count rounded up to a multiple of four values: the lanes past count are worked
    // through (their inputs must be set) and their results mean nothing.
    void project(const float* x, const float* y, int count, float* outX, float* outY) const;

private:
    const CamParamsZTM6& m_camera;
    float m_fadeStart;
    float m_fadeEnd;
};
