#include "numerics/features.h"

#include "numerics/svd.h"

#include <cmath>
#include <cstddef>
#include <new>
#include <vector>

namespace {
// Proximity of a pair whose patch leaves its image: 2^-1021, small but not zero, so that the
// decomposition still sees a full row and column.
constexpr double kOutsideProximity = 4.450147717014403e-308;

bool patchInside(const FeaturePoint& p, int32_t half, int32_t w, int32_t h)
{
    return !(p.x < half || p.x + half >= w || p.y < half || p.y + half >= h);
}

float patchMean(const float* image, int32_t w, const FeaturePoint& p, int32_t half, float scale)
{
    float sum = 0.0f;
    for (int32_t dy = -half; dy <= half; ++dy) {
        const float* row = image + size_t(p.y + dy) * size_t(w);
        for (int32_t dx = -half; dx <= half; ++dx)
            sum += row[p.x + dx];
    }
    return sum * scale;
}
}  // namespace

void proximityMatrix(const float* imageA, const float* imageB, int32_t w, int32_t h,
                     const FeaturePoint* pointsA, int32_t nA, const FeaturePoint* pointsB, int32_t nB,
                     int32_t patch, float sigmaD, float sigmaC, double* g)
{
    if (!imageA || !imageB || !pointsA || !pointsB || !g || w < 1 || h < 1 || nA < 1 || nB < 1 ||
        patch < 1)
        return;
    const int32_t half = patch / 2;
    const float scale = 1.0f / float(patch * patch);
    const double sd = double(sigmaD);
    const double sc = double(sigmaC);
    // B's patch means, once per point rather than once per pair.
    std::vector<float> meansB(static_cast<size_t>(nB), 0.0f);
    for (int32_t j = 0; j < nB; ++j) {
        if (patchInside(pointsB[j], half, w, h))
            meansB[size_t(j)] = patchMean(imageB, w, pointsB[j], half, scale);
    }
#pragma omp parallel for schedule(static)
    for (int32_t i = 0; i < nA; ++i) {
        const FeaturePoint& pa = pointsA[i];
        double* row = g + size_t(i) * size_t(nB);
        const bool insideA = patchInside(pa, half, w, h);
        const float meanA = insideA ? patchMean(imageA, w, pa, half, scale) : 0.0f;
        for (int32_t j = 0; j < nB; ++j) {
            const FeaturePoint& pb = pointsB[j];
            if (!insideA || !patchInside(pb, half, w, h)) {
                row[j] = kOutsideProximity;
                continue;
            }
            const float meanB = meansB[size_t(j)];
            float saa = 0.0f, sbb = 0.0f, sab = 0.0f;
            for (int32_t dy = -half; dy <= half; ++dy) {
                const float* ra = imageA + size_t(pa.y + dy) * size_t(w) + pa.x;
                const float* rb = imageB + size_t(pb.y + dy) * size_t(w) + pb.x;
                for (int32_t dx = -half; dx <= half; ++dx) {
                    const float da = ra[dx] - meanA;
                    const float db = rb[dx] - meanB;
                    saa += da * da;
                    sbb += db * db;
                    sab += da * db;
                }
            }
            const float product = saa * sbb;
            const float rho = product == 0.0f ? 1.0f : sab / std::sqrt(product) - 1.0f;
            const int32_t ddx = pa.x - pb.x, ddy = pa.y - pb.y;
            const int32_t d2 = ddx * ddx + ddy * ddy;
            const double r = double(rho);
            row[j] = std::exp(-(double(d2) * 0.5 / (sd * sd) + r * r * 0.5 / (sc * sc)));
        }
    }
}

void matchFeatures(const float* imageA, const float* imageB, int32_t w, int32_t h,
                   const std::vector<FeaturePoint>& pointsA, const std::vector<FeaturePoint>& pointsB,
                   int32_t patch, float sigmaD, float sigmaC, std::vector<FeatureMatch>& matches)
{
    matches.clear();
    if (!imageA || !imageB || w < 1 || h < 1 || patch < 1)
        return;
    if (patch % 2 == 0)
        ++patch;
    const int32_t nA = int32_t(pointsA.size());
    const int32_t nB = int32_t(pointsB.size());
    if (nA < 2 || nB < 2)
        return;

    // G (nA x nB, becomes U), W, V (nB x nB), the decomposition's work, P and the best columns.
    const size_t gSize = size_t(nA) * size_t(nB);
    const size_t vSize = size_t(nB) * size_t(nB);
    double* block = new (std::nothrow) double[2 * gSize + vSize + 2 * size_t(nB)];
    int32_t* bestColumn = new (std::nothrow) int32_t[size_t(nA)];
    if (!block || !bestColumn) {
        delete[] block;
        delete[] bestColumn;
        return;
    }
    double* g = block;
    double* v = g + gSize;
    double* singular = v + vSize;
    double* work = singular + nB;
    double* p = work + nB;

    proximityMatrix(imageA, imageB, w, h, pointsA.data(), nA, pointsB.data(), nB, patch, sigmaD,
                    sigmaC, g);
    if (computeSvd(g, singular, v, work, nA, nB) == kSvdSuccess) {
        // P = U V^T: the proximity with every singular value replaced by 1.
        for (int32_t i = 0; i < nA; ++i) {
            const double* u = g + size_t(i) * size_t(nB);
            for (int32_t j = 0; j < nB; ++j) {
                const double* vj = v + size_t(j) * size_t(nB);
                double sum = 0.0;
                for (int32_t k = 0; k < nB; ++k)
                    sum += u[k] * vj[k];
                p[size_t(i) * size_t(nB) + size_t(j)] = sum;
            }
        }
        for (int32_t i = 0; i < nA; ++i) {
            const double* row = p + size_t(i) * size_t(nB);
            int32_t best = 0;
            for (int32_t j = 1; j < nB; ++j) {
                if (row[j] > row[best])
                    best = j;
            }
            bestColumn[i] = best;
        }
        for (int32_t j = 0; j < nB; ++j) {
            int32_t best = 0;
            for (int32_t i = 1; i < nA; ++i) {
                if (p[size_t(i) * size_t(nB) + size_t(j)] > p[size_t(best) * size_t(nB) + size_t(j)])
                    best = i;
            }
            const double score = p[size_t(best) * size_t(nB) + size_t(j)];
            if (bestColumn[best] == j && float(score) > 0.89f) {
                FeatureMatch match;
                match.xA = pointsA[size_t(best)].x;
                match.yA = pointsA[size_t(best)].y;
                match.xB = pointsB[size_t(j)].x;
                match.yB = pointsB[size_t(j)].y;
                match.score = float(score);
                matches.push_back(match);
            }
        }
    }
    delete[] block;
    delete[] bestColumn;
}
