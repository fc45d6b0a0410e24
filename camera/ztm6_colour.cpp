#include "camera/cam_params_ztm6.h"
#include "imaging/gain_curve.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {
constexpr int kGridColumns = 300;
constexpr int kGridRows = 150;
constexpr int kFirstGridRow = 18;
constexpr int kSeamOffsets = 11;
constexpr int kSeamColumns[2] = {70, 220};
constexpr int kGainCandidates = 81;
} // namespace

void CamParamsZTM6::equalizeShotColors(const uint8_t* image1, const uint8_t* image2, const uint8_t*,
                                       ImageParams& p) const
{
    if (!image2)
        return;
    const int ws = m_header.IMG_WIDTH;
    const int hs = m_header.IMG_HEIGHT;
    if (ws <= 0 || hs <= 0)
        throw std::runtime_error("The calibration's lens image size " + std::to_string(ws) + " x "
                                 + std::to_string(hs) + " cannot be sampled for colour equalisation.");

    // Both seams of every sampled grid point: image1's values (0..1) and image2's bytes (curve indices).
    constexpr int kRows = kGridRows - kFirstGridRow;
    constexpr int kSamples = kRows * kSeamOffsets;
    std::vector<float> reference(static_cast<size_t>(kSamples) * 2 * 3);
    std::vector<uint8_t> adjusted(static_cast<size_t>(kSamples) * 2 * 3);
#pragma omp parallel for schedule(static)
    for (int j = kFirstGridRow; j < kGridRows; ++j) {
        const int row = std::min(static_cast<int>(static_cast<float>(j) * static_cast<float>(hs) / kGridRows + 0.5f), hs - 1);
        for (int k = 0; k < kSeamOffsets; ++k) {
            const size_t sample = static_cast<size_t>((j - kFirstGridRow) * kSeamOffsets + k);
            for (int seam = 0; seam < 2; ++seam) {
                const int i = kSeamColumns[seam] + k;
                const int column = std::min(static_cast<int>(static_cast<float>(i) * static_cast<float>(ws) / kGridColumns + 0.5f), ws - 1);
                const size_t pixel = (static_cast<size_t>(row) * static_cast<size_t>(ws) + static_cast<size_t>(column)) * 3;
                for (int ch = 0; ch < 3; ++ch) {
                    const size_t at = (sample * 2 + static_cast<size_t>(seam)) * 3 + static_cast<size_t>(ch);
                    reference[at] = image1[pixel + static_cast<size_t>(ch)] / 255.0f;
                    adjusted[at] = image2[pixel + static_cast<size_t>(ch)];
                }
            }
        }
    }

    float best[3] = {0.5f, 0.5f, 0.5f};
#pragma omp parallel for schedule(static)
    for (int ch = 0; ch < 3; ++ch) {
        double bestCost = std::numeric_limits<double>::max();
        float g = 0.3f;
        for (int candidate = 0; candidate < kGainCandidates; ++candidate, g += 0.005f) {
            float curve[256];
            gainCurve(g, curve);
            double cost = 0.0;
            for (int sample = 0; sample < kSamples; ++sample) {
                const size_t at1 = (static_cast<size_t>(sample) * 2) * 3 + static_cast<size_t>(ch);
                const size_t at2 = at1 + 3;
                const float e1 = reference[at1] - curve[adjusted[at1]];
                const float e2 = reference[at2] - curve[adjusted[at2]];
                cost += std::sqrt(e1 * e1 + e2 * e2);
            }
            if (cost < bestCost) {
                bestCost = cost;
                best[ch] = g;
            }
        }
    }
    p[ImageParams::RED_GAIN_2] = best[0];
    p[ImageParams::GREEN_GAIN_2] = best[1];
    p[ImageParams::BLUE_GAIN_2] = best[2];
    p[ImageParams::RED_GAIN_3] = 0.5f;
    p[ImageParams::GREEN_GAIN_3] = 0.5f;
    p[ImageParams::BLUE_GAIN_3] = 0.5f;
}
