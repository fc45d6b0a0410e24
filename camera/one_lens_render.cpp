#include "camera/one_lens_render.h"

#include "imaging/bicubic.h"
#include "imaging/gain_curve.h"
#include "imaging/rotation.h"

#include <QByteArray>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace {
constexpr float kTurn = 6.283185f;
constexpr float kSeam31 = 0.52359873f;  // 30 degrees: shot 3 | shot 1
constexpr float kSeam12 = 2.6179936f;   // 150 degrees: shot 1 | shot 2
constexpr float kSeam23 = 4.712389f;    // 270 degrees: shot 2 | shot 3

int shotForAzimuth(float theta)
{
    if (theta < kSeam31)
        return 2;
    if (theta < kSeam12)
        return 0;
    if (theta < kSeam23)
        return 1;
    return 2;
}

// Nearest source pixel of a camera direction, or null when it falls outside the sampled area
// (the last row and column are never sampled).
const uint8_t* nearestPixel(const CamParamsOneLens& camera, const uint8_t* shot, int side, const float c[3])
{
    float du = 0.0f, dv = 0.0f;
    projectRay(camera, c[0], c[1], c[2], du, dv);
    const float fx = du + 0.5f;
    const float fy = dv + 0.5f;
    // Truncation toward zero: anything above -1 becomes 0; the comparisons also refuse NaN.
    const float last = static_cast<float>(side - 1);
    if (!(fx > -1.0f && fx < last && fy > -1.0f && fy < last))
        return nullptr;
    const int ix = static_cast<int>(fx);
    const int iy = static_cast<int>(fy);
    return shot + (static_cast<size_t>(iy) * static_cast<size_t>(side) + static_cast<size_t>(ix)) * 3;
}

// Bicubic sample of a camera direction; black (and false) outside the shot's inner area.
bool sampleShot(const CamParamsOneLens& camera, const uint8_t* shot, int side, const float c[3], uint8_t* rgb)
{
    float xs = 0.0f, ys = 0.0f;
    projectRay(camera, c[0], c[1], c[2], xs, ys);
    const float limit = static_cast<float>(side - 2);
    if (!shot || !(xs >= 1.0f && xs < limit && ys >= 1.0f && ys < limit)) {
        rgb[0] = rgb[1] = rgb[2] = 0;
        return false;
    }
    const int ix = static_cast<int>(xs) + 1;
    const int iy = static_cast<int>(ys) + 1;
    const size_t stride = static_cast<size_t>(side) * 3;
    const uint8_t* block = shot + static_cast<size_t>(iy - 2) * stride + static_cast<size_t>(ix - 2) * 3;
    sampleBicubic(static_cast<float>(ix) - xs, static_cast<float>(iy) - ys, block, static_cast<int>(stride), rgb);
    return true;
}

void rotate(const float m[9], const float d[3], float c[3])
{
    c[0] = m[0] * d[0] + m[1] * d[1] + m[2] * d[2];
    c[1] = m[3] * d[0] + m[4] * d[1] + m[5] * d[2];
    c[2] = m[6] * d[0] + m[7] * d[1] + m[8] * d[2];
}

// The quick renders: nearest pixel of the shot whose sector holds the column.
template <int Channels>
void quickRender(const CamParamsOneLens& camera, const uint8_t* const shots[3], int width, int height,
                 const ImageParams& p, uint8_t* out)
{
    if (width <= 0 || height <= 0 || !out)
        return;
    float m[3][9];
    shotRotations(p, m);
    const float step = kTurn / static_cast<float>(width);
    const int side = camera.imageHeight();
    // Per column: its shot and the products of that shot's matrix rows with cos and sin theta,
    // each the same float the per-pixel form would compute.
    struct Column {
        int shot;
        float cosPart[3];
        float sinPart[3];
    };
    std::vector<Column> columns(static_cast<size_t>(width));
    for (int i = 0; i < width; ++i) {
        const float theta = kTurn - static_cast<float>(i) * step;
        Column& column = columns[static_cast<size_t>(i)];
        column.shot = shotForAzimuth(theta);
        const float* mk = m[column.shot];
        const float cosTheta = std::cos(theta), sinTheta = std::sin(theta);
        for (int r = 0; r < 3; ++r) {
            column.cosPart[r] = mk[3 * r] * cosTheta;
            column.sinPart[r] = mk[3 * r + 2] * sinTheta;
        }
    }
#pragma omp parallel for schedule(static)
    for (int j = 0; j < height; ++j) {
        const float phi = static_cast<float>(height / 2 - j) * step;
        const float t = std::tan(phi);
        uint8_t* row = out + static_cast<size_t>(j) * static_cast<size_t>(width) * Channels;
        for (int i = 0; i < width; ++i) {
            const Column& column = columns[static_cast<size_t>(i)];
            const float* mk = m[column.shot];
            float c[3];
            for (int r = 0; r < 3; ++r)
                c[r] = column.cosPart[r] + mk[3 * r + 1] * t + column.sinPart[r];
            const uint8_t* source = shots[column.shot] ? nearestPixel(camera, shots[column.shot], side, c) : nullptr;
            uint8_t* target = row + static_cast<size_t>(i) * Channels;
            if (Channels == 3) {
                target[0] = source ? source[0] : 0;
                target[1] = source ? source[1] : 0;
                target[2] = source ? source[2] : 0;
            } else {
                target[0] = source ? source[1] : 0;
            }
        }
    }
}

// Shots 2 and 3 through their lens gains; shot 1 as it is.
struct GainedShots {
    QByteArray copies[2];
    const uint8_t* shots[3] = {};

    GainedShots(const uint8_t* shot1, const uint8_t* shot2, const uint8_t* shot3, int side, const ImageParams& p)
    {
        shots[0] = shot1;
        const uint8_t* raw[2] = {shot2, shot3};
        const size_t pixels = static_cast<size_t>(side) * static_cast<size_t>(side);
        for (int k = 0; k < 2; ++k) {
            if (!raw[k])
                continue;
            copies[k] = QByteArray(reinterpret_cast<const char*>(raw[k]), static_cast<qsizetype>(pixels * 3));
            const int g = ImageParams::kFirstGain + 3 * k;
            applyGainCurves(reinterpret_cast<uint8_t*>(copies[k].data()), pixels, p[g], p[g + 1], p[g + 2]);
            shots[k + 1] = reinterpret_cast<const uint8_t*>(copies[k].constData());
        }
    }
};

float weightAt(const QByteArray& mask, int side, int column, int row)
{
    column = std::clamp(column, 0, side - 1);
    row = std::clamp(row, 0, side - 1);
    return static_cast<float>(static_cast<uint8_t>(mask.at(static_cast<qsizetype>(row) * side + column))) / 255.0f;
}

// Mask position of a cube-face coordinate in -1..1.
int maskIndex(float a, int side)
{
    const float f = (a + 1.0f) * 0.5f * static_cast<float>(side);
    if (!(f > 0.0f))
        return 0;
    return f >= static_cast<float>(side) ? side - 1 : static_cast<int>(f);
}

// Blends RGB of up to three sources: first, then second with weight w1, then third with w2. A
// shot that does not cover the direction hands its weight to the others, so that no pixel is
// black where some shot sees it (a seam mask may weigh a shot past the edge of its view).
struct Blender {
    const CamParamsOneLens& camera;
    const uint8_t* const* shots;
    const float (*m)[9];
    int side;

    // False (and black) when the shot does not cover the direction.
    bool sample(int shot, const float d[3], float rgb[3]) const
    {
        float c[3];
        rotate(m[shot], d, c);
        uint8_t px[3];
        const bool covered = sampleShot(camera, shots[shot], side, c, px);
        rgb[0] = px[0], rgb[1] = px[1], rgb[2] = px[2];
        return covered;
    }

    // The shot of a sector, or when it does not cover the direction the first other that does.
    void single(int shot, const float d[3], float rgb[3]) const
    {
        if (sample(shot, d, rgb))
            return;
        for (int other = 0; other < 3; ++other)
            if (other != shot && sample(other, d, rgb))
                return;
    }

    // result = (1 - w) * sample(a) + w * sample(b); a shot whose weight is 0 is not sampled. False
    // when neither shot covers the direction (black).
    bool two(int a, int b, float w, const float d[3], float rgb[3]) const
    {
        if (w <= 0.0f)
            return sample(a, d, rgb) || sample(b, d, rgb);
        if (w >= 1.0f)
            return sample(b, d, rgb) || sample(a, d, rgb);
        float x[3], y[3];
        const bool hasX = sample(a, d, x);
        const bool hasY = sample(b, d, y);
        if (hasX && hasY) {
            for (int k = 0; k < 3; ++k)
                rgb[k] = x[k] * (1.0f - w) + y[k] * w;
            return true;
        }
        std::copy(hasX ? x : y, (hasX ? x : y) + 3, rgb);
        return hasX || hasY;
    }

    // The first two shots blended by w1, that and shot 3 by w2.
    void three(float w1, float w2, const float d[3], float rgb[3]) const
    {
        if (w2 <= 0.0f) {
            if (!two(0, 1, w1, d, rgb))
                sample(2, d, rgb);
            return;
        }
        if (w2 >= 1.0f) {
            if (!sample(2, d, rgb))
                two(0, 1, w1, d, rgb);
            return;
        }
        float x[3], z[3];
        const bool hasX = two(0, 1, w1, d, x);
        const bool hasZ = sample(2, d, z);
        if (hasX && hasZ) {
            for (int k = 0; k < 3; ++k)
                rgb[k] = x[k] * (1.0f - w2) + z[k] * w2;
            return;
        }
        std::copy(hasX ? x : z, (hasX ? x : z) + 3, rgb);
    }
};

void store(const float rgb[3], uint8_t* out)
{
    for (int k = 0; k < 3; ++k)
        out[k] = static_cast<uint8_t>(std::clamp(rgb[k] + 0.5f, 0.0f, 255.0f));
}

// A cap pixel: the direction on the face looking up or down, the cap masks there.
void capPixel(const Blender& blend, const CamParamsOneLens::MaskSet& masks, const float d[3], uint8_t* out)
{
    const bool top = d[1] > 0.0f;
    const float a = top ? d[0] / d[1] : d[0] / -d[1];
    const float b = top ? -d[2] / d[1] : d[2] / -d[1];
    const int column = maskIndex(a, masks.side);
    const int row = maskIndex(b, masks.side);
    const int first = top ? 0 : 2;
    float rgb[3];
    blend.three(weightAt(*masks.caps[first], masks.side, column, row),
                weightAt(*masks.caps[first + 1], masks.side, column, row), d, rgb);
    store(rgb, out);
}

void requireShots(const uint8_t* shot1, const uint8_t* shot2, const uint8_t* shot3, const uint8_t* out)
{
    if (!shot1 || !shot2 || !shot3 || !out)
        throw std::runtime_error("The three shots of the scan are needed to render it.");
}
} // namespace

void CamParamsOneLens::renderPano(const uint8_t* image1, const uint8_t* image2, const uint8_t* image3, int width,
                                  int height, const ImageParams& p, uint8_t* rgbOut) const
{
    const uint8_t* const shots[3] = {image1, image2, image3};
    quickRender<3>(*this, shots, width, height, p, rgbOut);
}

void CamParamsOneLens::renderStrip(const uint8_t* image1, const uint8_t* image2, const uint8_t* image3, int width,
                                   int height, const ImageParams& p, uint8_t* greyOut) const
{
    const uint8_t* const shots[3] = {image1, image2, image3};
    quickRender<1>(*this, shots, width, height, p, greyOut);
}

void renderThreeShotPano(const CamParamsOneLens& camera, const uint8_t* shot1, const uint8_t* shot2,
                         const uint8_t* shot3, int width, const ImageParams& p, uint8_t* rgbOut)
{
    const CamParamsOneLens::MaskSet masks = camera.blendMasksFor(width);
    requireShots(shot1, shot2, shot3, rgbOut);
    const int side = camera.imageHeight();
    const GainedShots gained(shot1, shot2, shot3, side, p);
    float m[3][9];
    shotRotations(p, m);
    const Blender blend{camera, gained.shots, m, side};

    const int height = width / 2;
    const float step = kTurn / static_cast<float>(width);
    const int q = masks.seamWidth;
    // Seams at theta 30, 150 and 270 degrees: the first column of each band and the shots on
    // either side of it (lower column first).
    struct Seam {
        int start;
        int before;
        int after;
    };
    const Seam seams[3] = {{width * 11 / 12 - q / 2, 0, 2}, {width * 7 / 12 - q / 2, 1, 0}, {width / 4 - q / 2, 2, 1}};
    const QByteArray& seamMask = *masks.seam;
    const float capElevation = 0.7853982f;

#pragma omp parallel for schedule(static)
    for (int j = 0; j < height; ++j) {
        const float phi = static_cast<float>(height / 2 - j) * step;
        // Unit directions: the tangent of the top row's elevation would flip its sign.
        const float cosPhi = std::cos(phi), sinPhi = std::sin(phi);
        const bool cap = std::fabs(phi) >= capElevation;
        uint8_t* row = rgbOut + static_cast<size_t>(j) * static_cast<size_t>(width) * 3;
        for (int i = 0; i < width; ++i) {
            const float theta = kTurn - static_cast<float>(i) * step;
            const float d[3] = {cosPhi * std::cos(theta), sinPhi, cosPhi * std::sin(theta)};
            uint8_t* out = row + static_cast<size_t>(i) * 3;
            if (cap) {
                capPixel(blend, masks, d, out);
                continue;
            }
            float rgb[3];
            const Seam* band = nullptr;
            for (const Seam& seam : seams)
                if (i >= seam.start && i < seam.start + q)
                    band = &seam;
            if (band) {
                const float w = static_cast<float>(static_cast<uint8_t>(
                                    seamMask.at(static_cast<qsizetype>(j) * q + (i - band->start))))
                                / 255.0f;
                blend.two(band->before, band->after, w, d, rgb);
            } else {
                blend.single(shotForAzimuth(theta), d, rgb);
            }
            store(rgb, out);
        }
    }
}

void renderCubeFace(const CamParamsOneLens& camera, const uint8_t* shot1, const uint8_t* shot2, const uint8_t* shot3,
                    int panoWidth, int face, const ImageParams& p, uint8_t* rgbOut)
{
    const CamParamsOneLens::MaskSet masks = camera.blendMasksFor(panoWidth);
    if (face < 0 || face > 5)
        throw std::runtime_error("A cube has six faces, 0 to 5.");
    requireShots(shot1, shot2, shot3, rgbOut);
    const int side = camera.imageHeight();
    const GainedShots gained(shot1, shot2, shot3, side, p);
    float m[3][9];
    shotRotations(p, m);
    const Blender blend{camera, gained.shots, m, side};
    const int size = masks.side;
    const int maskSide = masks.sideFaceSide;
    // Side faces: the two shots each blends and the mask (face 1 is shot 1 alone).
    const int pairs[4][3] = {{0, 2, 0}, {0, 0, -1}, {0, 1, 1}, {1, 2, 2}};
    const float centre = static_cast<float>(face) * 1.5707964f;
    const float forward[3] = {std::cos(centre), 0.0f, std::sin(centre)};
    const float right[3] = {std::sin(centre), 0.0f, -std::cos(centre)};

#pragma omp parallel for schedule(static)
    for (int r = 0; r < size; ++r) {
        const float b = 2.0f * (static_cast<float>(r) + 0.5f) / static_cast<float>(size) - 1.0f;
        for (int c = 0; c < size; ++c) {
            const float a = 2.0f * (static_cast<float>(c) + 0.5f) / static_cast<float>(size) - 1.0f;
            uint8_t* out = rgbOut + (static_cast<size_t>(r) * static_cast<size_t>(size) + static_cast<size_t>(c)) * 3;
            if (face >= 4) {
                const float d[3] = {a, face == 4 ? 1.0f : -1.0f, face == 4 ? -b : b};
                capPixel(blend, masks, d, out);
                continue;
            }
            // Rows bottom-up like the pano's: the lens model's y axis points down.
            const float d[3] = {forward[0] + a * right[0], -b, forward[2] + a * right[2]};
            const int* pair = pairs[face];
            float rgb[3];
            if (pair[2] < 0) {
                blend.single(pair[0], d, rgb);
            } else {
                const int mc = static_cast<int>(static_cast<int64_t>(c) * maskSide / size);
                const int mr = static_cast<int>(static_cast<int64_t>(r) * maskSide / size);
                blend.two(pair[0], pair[1], weightAt(*masks.sideFaces[pair[2]], maskSide, mc, mr), d, rgb);
            }
            store(rgb, out);
        }
    }
}

void renderShotOverlapBands(const CamParamsOneLens& camera, const uint8_t* shot1, const uint8_t* shot2,
                            const uint8_t* shot3, int W, int L, const float angles[8], const float* const cosA[3],
                            const float* const sinA[3], const float* cosE, const float* sinE, uint8_t* bandsA,
                            uint8_t* bandsB, uint8_t* seenA, uint8_t* seenB)
{
    if (W <= 0 || L <= 0)
        return;
    float m[3][9];
    rotationFromAngles(0.0f, 0.0f, 0.0f, m[0]);
    const float turns[2] = {2.094395f, 4.18879f};
    const int first[2] = {ImageParams::ROLL_2, ImageParams::ROLL_3};
    for (int k = 0; k < 2; ++k) {
        float own[9], base[9];
        rotationFromAngles(angles[first[k]], angles[first[k] + 1], angles[first[k] + 2], own);
        rotationFromAngles(0.0f, turns[k], 0.0f, base);
        mul3x3(base, own, m[k + 1]);
    }
    const int side = camera.imageHeight();
    // (output, band, shot): A 0, 1 from shot 1, A 2 from shot 2; B 0, 1, 2 from shots 2, 3, 3.
    struct Job {
        uint8_t* out;
        uint8_t* seen;
        int band;
        int shot;
    };
    const uint8_t* const shots[3] = {shot1, shot2, shot3};
    std::vector<Job> jobs;
    if (shot1 && bandsA) {
        jobs.push_back({bandsA, seenA, 0, 0});
        jobs.push_back({bandsA, seenA, 1, 0});
    }
    if (bandsA)
        jobs.push_back({bandsA, seenA, 2, 1});
    if (bandsB) {
        jobs.push_back({bandsB, seenB, 0, 1});
        jobs.push_back({bandsB, seenB, 1, 2});
        jobs.push_back({bandsB, seenB, 2, 2});
    }
    const size_t bandBytes = static_cast<size_t>(W) * static_cast<size_t>(L) * 3;
    // One parallel loop over the rows of every band part: a region per part would make its threads
    // meet six times.
    const int rows = static_cast<int>(jobs.size()) * L;
#pragma omp parallel for schedule(static)
    for (int r = 0; r < rows; ++r) {
        const Job& job = jobs[static_cast<size_t>(r / L)];
        const int i = r % L;
        uint8_t* row = job.out + static_cast<size_t>(job.band) * bandBytes + static_cast<size_t>(i) * W * 3;
        uint8_t* seen = job.seen ? job.seen + (static_cast<size_t>(job.band) * L + static_cast<size_t>(i)) * W : nullptr;
        const float* ca = cosA[job.band];
        const float* sa = sinA[job.band];
        for (int j = 0; j < W; ++j) {
            const float d[3] = {cosE[i] * ca[j], sinE[i], cosE[i] * sa[j]};
            float c[3];
            rotate(m[job.shot], d, c);
            const bool covered = sampleShot(camera, shots[job.shot], side, c, row + static_cast<size_t>(j) * 3);
            if (seen)
                seen[j] = covered ? 1 : 0;
        }
    }
}

void renderShotOverlapBandsForCost(const CamParamsOneLens& camera, const uint8_t* shot1, const uint8_t* shot2,
                                   const uint8_t* shot3, int W, int L, const float angles[8],
                                   const float* const cosA[3], const float* const sinA[3], const float* cosE,
                                   const float* sinE, uint8_t* bandsA, uint8_t* bandsB)
{
    renderShotOverlapBands(camera, shot1, shot2, shot3, W, L, angles, cosA, sinA, cosE, sinE, bandsA, bandsB);
}
