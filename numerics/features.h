#pragma once

#include <cstdint>
#include <vector>

// Images here are single-channel floats (0..255), w columns by h rows, row-major without padding.

struct FeaturePoint {
    int32_t x = 0;
    int32_t y = 0;
    int32_t radiusSquared = 0;  // squared suppression radius; 0 when no suppression ran
    float response = 0.0f;
};

// A correspondence between two band images; the two directions are filled by the caller.
struct FeatureMatch {
    int32_t xA = 0;
    int32_t yA = 0;
    int32_t xB = 0;
    int32_t yB = 0;
    float score = 0.0f;
    float dirA[3] = {0.0f, 0.0f, 0.0f};
    float dirB[3] = {0.0f, 0.0f, 0.0f};
};

// Gaussian structure tensor at derivative scale sigmaD: the maps ixx, iyy, ixy (w x h each) hold
// Ix^2, Iy^2 and Ix Iy where both derivatives are defined (c = half the kernel size from every
// border) and 0 elsewhere. Nothing is written for w or h below 1.
void structureTensor(const float* image, int32_t w, int32_t h, float sigmaD, float* ixx, float* iyy,
                     float* ixy);

// Smaller eigenvalue of the tensor smoothed at integration scale sigmaI, written to response
// (w x h, 0 outside the region it is defined on). Returns the largest response, at least 0.
float minEigenResponse(const float* ixx, const float* iyy, const float* ixy, int32_t w, int32_t h,
                       float sigmaD, float sigmaI, float* response);

// Adaptive non-maximal suppression: for points sorted by response (largest first), sets each
// radiusSquared to the smallest squared distance to an earlier point whose response x 0.9 is
// strictly greater, or (w + h)^2 when there is none.
void suppressNonMaximaAdaptive(FeaturePoint* points, int32_t count, int32_t w, int32_t h);

// Corners of one image: at most maxPoints, spread by adaptive suppression when there are more
// candidates than that. points is cleared first; nothing is found for sizes below 1, scales below
// 0.4 or maxPoints below 1, or when memory is short. Like structureTensor and minEigenResponse, it
// keeps its working maps (seven of the image's size) with the calling thread for the next call.
void detectFeatures(const float* image, int32_t w, int32_t h, float sigmaD, float sigmaI,
                    float threshold, int32_t maxPoints, std::vector<FeaturePoint>& points);

// Proximity of every pair (i of A, j of B), nA rows by nB columns, weighing their distance
// (sigmaD, pixels) and the correlation of their patch x patch neighbourhoods (sigmaC); pairs whose
// patch does not fit inside the image get 2^-1021. patch must be odd.
void proximityMatrix(const float* imageA, const float* imageB, int32_t w, int32_t h,
                     const FeaturePoint* pointsA, int32_t nA, const FeaturePoint* pointsB, int32_t nB,
                     int32_t patch, float sigmaD, float sigmaC, double* g);

// Mutual best pairs of the two point lists by the singular-value pairing of their proximity
// matrix, in ascending order of the B point. matches is cleared first.
void matchFeatures(const float* imageA, const float* imageB, int32_t w, int32_t h,
                   const std::vector<FeaturePoint>& pointsA, const std::vector<FeaturePoint>& pointsB,
                   int32_t patch, float sigmaD, float sigmaC, std::vector<FeatureMatch>& matches);
