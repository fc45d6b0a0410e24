#include "camera/cam_params_one_lens.h"
#include "imaging/gain_pair_search.h"

#include <array>
#include <cmath>
#include <vector>

namespace {
constexpr float kGridStep = 0.02094395f; // 1.2 degrees
constexpr float kTurn = 6.283185f;
constexpr int kFirstRow = 18;
constexpr int kRows = 132;
constexpr int kBandHalf = 5;
constexpr int kBandColumns = 2 * kBandHalf + 1;
constexpr int kPoints = kRows * kBandColumns;

// The tone curve of a gain g over the 256 byte values: through (0, 0), (g, 0.5) and (1, 1).
std::array<float, 256> gainTable(float g)
{
    const float c1 = (g - 0.5f) / (-2.0f * (g * g) * (g - 1.0f));
    const float c2 = (0.5f * g + g * g - 1.0f) / (2.0f * g * (g - 1.0f));
    const float c3 = g * c1 / (g - 1.0f);
    const float c4 = (g * g - 2.5f * g + 0.5f) / (2.0f * g * (g - 1.0f));
    std::array<float, 256> table{};
    for (int k = 0; k < 256; ++k) {
        const float x = static_cast<float>(k) * 0.003921569f;
        float y;
        if (x <= g) {
            y = c1 * (x * x * x) + c2 * x;
            if (y <= 0.0f)
                y = 0.0f;
        } else {
            const float w = x - 1.0f;
            y = c3 * (w * w * w) + c4 * w + 1.0f;
            if (y >= 1.0f)
                y = 1.0f;
        }
        table[static_cast<size_t>(k)] = y;
    }
    return table;
}

// One band's samples of one shot: per channel, the table index trunc(s * 255) of every grid point
// (rows, then the band's columns), and the samples themselves.
struct BandSamples {
    std::array<std::vector<float>, 3> value;
    std::array<std::vector<int>, 3> index;
};

// The grid point (r, k) of the band about `bandColumn` in one shot (nearest pixel; 0.5 outside).
void samplePoint(const CamParamsOneLens& camera, const uint8_t* shot, const float m[9], int bandColumn, int r, int k,
                 BandSamples& samples)
{
    const int side = camera.imageHeight();
    const float last = static_cast<float>(side - 1);
    const int i = kFirstRow + r;
    const float t = std::tan(static_cast<float>(75 - i) * kGridStep);
    const int c = bandColumn - kBandHalf + k;
    const float theta = kTurn - static_cast<float>(c) * kGridStep;
    const float d[3] = {std::cos(theta), t, std::sin(theta)};
    const float cx = m[0] * d[0] + m[1] * d[1] + m[2] * d[2];
    const float cy = m[3] * d[0] + m[4] * d[1] + m[5] * d[2];
    const float cz = m[6] * d[0] + m[7] * d[1] + m[8] * d[2];
    float du = 0.0f, dv = 0.0f;
    projectRay(camera, cx, cy, cz, du, dv);
    const float fx = du + 0.5f, fy = dv + 0.5f;
    const size_t point = static_cast<size_t>(r * kBandColumns + k);
    float rgb[3] = {0.5f, 0.5f, 0.5f};
    if (shot && fx > -1.0f && fx < last && fy > -1.0f && fy < last) {
        const uint8_t* p = shot + (static_cast<size_t>(static_cast<int>(fy)) * static_cast<size_t>(side)
                                   + static_cast<size_t>(static_cast<int>(fx))) * 3;
        for (int ch = 0; ch < 3; ++ch)
            rgb[ch] = static_cast<float>(p[ch]) / 255.0f;
    }
    for (int ch = 0; ch < 3; ++ch) {
        samples.value[static_cast<size_t>(ch)][point] = rgb[ch];
        samples.index[static_cast<size_t>(ch)][point] = static_cast<int>(rgb[ch] * 255.0f);
    }
}

// The six bands, two per seam: at 150 degrees (shots 1 | 2), at 270 (2 | 3) and at 30 (3 | 1).
enum Band { S1At150, S2At150, S2At270, S3At270, S3At30, S1At30, kBands };

std::array<BandSamples, kBands> sampleBands(const CamParamsOneLens& camera, const uint8_t* const shots[3],
                                            const float m[3][9])
{
    struct Source {
        int shot;
        int bandColumn;
    };
    const Source sources[kBands] = {{0, 175}, {1, 175}, {1, 75}, {2, 75}, {2, 275}, {0, 275}};
    std::array<BandSamples, kBands> bands;
    for (BandSamples& samples : bands)
        for (int ch = 0; ch < 3; ++ch) {
            samples.value[static_cast<size_t>(ch)].assign(kPoints, 0.5f);
            samples.index[static_cast<size_t>(ch)].assign(kPoints, 0);
        }
    // All six bands in one loop: one band's rows are too few to be worth a team's start.
#pragma omp parallel for schedule(dynamic, 8)
    for (int job = 0; job < kBands * kRows; ++job) {
        const Source& source = sources[job / kRows];
        for (int k = 0; k < kBandColumns; ++k)
            samplePoint(camera, shots[source.shot], m[source.shot], source.bandColumn, job % kRows, k,
                        bands[static_cast<size_t>(job / kRows)]);
    }
    return bands;
}
} // namespace

void CamParamsOneLens::equalizeShotColors(const uint8_t* image1, const uint8_t* image2, const uint8_t* image3,
                                          ImageParams& p) const
{
    float m[3][9];
    shotRotations(p, m);
    const uint8_t* const shots[3] = {image1, image2, image3};
    const std::array<BandSamples, kBands> bands = sampleBands(*this, shots, m);

    std::vector<float> gains;
    for (float g = 0.3f; g <= 0.7f; g += 0.005f)
        gains.push_back(g);
    const int count = static_cast<int>(gains.size());
    std::vector<std::array<float, 256>> tables(gains.size());
    for (size_t k = 0; k < gains.size(); ++k)
        tables[k] = gainTable(gains[k]);

    SeamSamples channels[3];
    for (size_t ch = 0; ch < 3; ++ch)
        channels[ch] = SeamSamples{bands[S1At150].value[ch].data(), bands[S2At150].index[ch].data(),
                                   bands[S2At270].index[ch].data(),  bands[S3At270].index[ch].data(),
                                   bands[S3At30].index[ch].data(),   bands[S1At30].value[ch].data()};
    // For every channel and every gain of shot 2, the best gain of shot 3 and its cost; a later
    // pair replaces an earlier one only when strictly cheaper, as in one sweep over a, then b.
    std::vector<double> bestCost;
    std::vector<int> bestB;
    searchGainPairs(channels, kPoints, tables, bestCost, bestB);
    for (int ch = 0; ch < 3; ++ch) {
        int bestA = 0;
        for (int a = 1; a < count; ++a)
            if (bestCost[static_cast<size_t>(ch * count + a)] < bestCost[static_cast<size_t>(ch * count + bestA)])
                bestA = a;
        p[ImageParams::RED_GAIN_2 + ch] = gains[static_cast<size_t>(bestA)];
        p[ImageParams::RED_GAIN_3 + ch] = gains[static_cast<size_t>(bestB[static_cast<size_t>(ch * count + bestA)])];
    }
}
