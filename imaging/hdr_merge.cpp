#include "imaging/hdr_merge.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {
constexpr int kExposures = 3;
constexpr float kTaps[5] = {0.0625f, 0.25f, 0.375f, 0.25f, 0.0625f};
// Where the automatic pyramid stops: a coarsest level of a few pixels still carries the
// exposures' overall brightness, which is what keeps large areas from looking flat.
constexpr int kSmallestSide = 4;
// Keeps a pixel that no exposure shows well from dividing by zero: it becomes a plain mean.
constexpr float kWeightFloor = 1e-12f;
// Gaussian levels hold R, G, B and the weight; the fused levels R, G, B.
constexpr int kGaussChannels = 4;
constexpr int kColourChannels = 3;
// Below this many pixels a pass is done before the threads would have started.
constexpr int64_t kLeastPixelsForThreads = 1 << 16;
// Rows are handed to the threads a few at a time as they come free, not in one share each fixed
// in advance: on a busy machine a thread may wait for a processor, and its share would hold up
// the whole pass while the others sit idle at its end.
constexpr int kRowsPerTurn = 4;

bool worthThreads(int width, int height)
{
    return int64_t(width) * height >= kLeastPixelsForThreads;
}

// Uninitialised floats: every level is written in full before it is read.
class Floats {
public:
    void allocate(size_t count) { m_data.reset(new float[count]); }
    float* data() { return m_data.get(); }
    const float* data() const { return m_data.get(); }

private:
    std::unique_ptr<float[]> m_data;
};

struct Level {
    int width = 0;
    int height = 0;
    int channels = 0;
    Floats pixels;

    void allocate(int w, int h, int c)
    {
        width = w;
        height = h;
        channels = c;
        pixels.allocate(size_t(w) * size_t(h) * size_t(c));
    }
    float* row(int y) { return pixels.data() + size_t(y) * size_t(width) * size_t(channels); }
    const float* row(int y) const { return pixels.data() + size_t(y) * size_t(width) * size_t(channels); }
};

// Mirrors an index into 0..n-1 without repeating the edge sample.
inline int mirror(int i, int n)
{
    if (n == 1)
        return 0;
    while (i < 0 || i >= n) {
        if (i < 0)
            i = -i;
        if (i >= n)
            i = 2 * n - 2 - i;
    }
    return i;
}

int automaticLevels(int size)
{
    int levels = 0;
    for (int side = size; (side + 1) / 2 >= kSmallestSide; side = (side + 1) / 2)
        ++levels;
    return levels;
}

// Horizontal half of a reduction: the 5-tap filter at every second sample of a row of C floats
// per pixel.
template <int C>
void decimateRow(const float* in, int width, float* out, int outWidth)
{
    for (int x = 0; x < outWidth; ++x) {
        const int c = 2 * x;
        float sum[C] = {};
        if (c >= 2 && c + 2 < width) {
            const float* p = in + size_t(c - 2) * C;
            for (int k = 0; k < 5; ++k)
                for (int ch = 0; ch < C; ++ch)
                    sum[ch] += kTaps[k] * p[k * C + ch];
        } else {
            for (int k = 0; k < 5; ++k) {
                const float* p = in + size_t(mirror(c + k - 2, width)) * C;
                for (int ch = 0; ch < C; ++ch)
                    sum[ch] += kTaps[k] * p[ch];
            }
        }
        for (int ch = 0; ch < C; ++ch)
            out[size_t(x) * C + ch] = sum[ch];
    }
}

// One row of the first Gaussian level below full resolution of an exposure and its weights,
// filtering vertically first so that no full-resolution float copy of the exposure is made.
// across holds a full-resolution row of kGaussChannels floats a pixel.
void reduceExposureRow(const uint8_t* rgb, const float* weight, int size, int y, float* across, Level& out)
{
    const uint8_t* rows[5];
    const float* weights[5];
    for (int k = 0; k < 5; ++k) {
        const int at = mirror(2 * y + k - 2, size);
        rows[k] = rgb + size_t(at) * size_t(size) * 3;
        weights[k] = weight + size_t(at) * size_t(size);
    }
    for (int x = 0; x < size; ++x) {
        float sum[kGaussChannels] = {};
        for (int k = 0; k < 5; ++k) {
            const uint8_t* p = rows[k] + size_t(x) * 3;
            sum[0] += kTaps[k] * float(p[0]);
            sum[1] += kTaps[k] * float(p[1]);
            sum[2] += kTaps[k] * float(p[2]);
            sum[3] += kTaps[k] * weights[k][x];
        }
        std::copy(sum, sum + kGaussChannels, across + size_t(x) * kGaussChannels);
    }
    decimateRow<kGaussChannels>(across, size, out.row(y), out.width);
}

// The first Gaussian level of every exposure, all rows of all three in one pass.
void reduceExposures(const uint8_t* const exposures[kExposures], const Floats weights[kExposures], int size,
                     std::vector<Level> gauss[kExposures])
{
    const int height = (size + 1) / 2;
    for (int k = 0; k < kExposures; ++k)
        gauss[k][1].allocate(height, height, kGaussChannels);
#pragma omp parallel if (worthThreads(size, height))
    {
        std::vector<float> across(size_t(size) * kGaussChannels);
#pragma omp for schedule(dynamic, kRowsPerTurn)
        for (int job = 0; job < kExposures * height; ++job) {
            const int k = job / height;
            reduceExposureRow(exposures[k], weights[k].data(), size, job % height, across.data(), gauss[k][1]);
        }
    }
}

// One row of the next coarser Gaussian level; across holds one row of the finer level.
void reduceLevelRow(const Level& in, int y, float* across, Level& out)
{
    const size_t rowFloats = size_t(in.width) * kGaussChannels;
    const float* rows[5];
    for (int k = 0; k < 5; ++k)
        rows[k] = in.row(mirror(2 * y + k - 2, in.height));
    for (size_t i = 0; i < rowFloats; ++i)
        across[i] = kTaps[0] * rows[0][i] + kTaps[1] * rows[1][i] + kTaps[2] * rows[2][i] + kTaps[3] * rows[3][i]
            + kTaps[4] * rows[4][i];
    decimateRow<kGaussChannels>(across, in.width, out.row(y), out.width);
}

// Gaussian level l (2 and up) of every exposure from level l - 1, in one pass.
void reduceLevels(std::vector<Level> gauss[kExposures], size_t l)
{
    const Level& shape = gauss[0][l - 1];
    const int height = (shape.height + 1) / 2;
    for (int k = 0; k < kExposures; ++k)
        gauss[k][l].allocate((shape.width + 1) / 2, height, kGaussChannels);
#pragma omp parallel if (worthThreads(shape.width, height))
    {
        std::vector<float> across(size_t(shape.width) * kGaussChannels);
#pragma omp for schedule(dynamic, kRowsPerTurn)
        for (int job = 0; job < kExposures * height; ++job) {
            const int k = job / height;
            reduceLevelRow(gauss[k][l - 1], job % height, across.data(), gauss[k][l]);
        }
    }
}

// Upsampling of a coarse level to the fine level's size, colour only, one fine row at a time:
// zeros between the coarse samples and the same filter, times 4 so that constants survive.
class Expander {
public:
    Expander(const Level& coarse, int fineWidth, int fineHeight)
        : m_coarse(coarse), m_fineWidth(fineWidth), m_fineHeight(fineHeight),
          m_column(size_t(coarse.width) * kColourChannels)
    {
    }

    // The expanded colour of fine row y, kColourChannels floats per pixel.
    void row(int y, float* out)
    {
        int rows[3];
        float weights[3];
        int used = 0;
        for (int k = 0; k < 5; ++k) {
            const int at = mirror(y + k - 2, m_fineHeight);
            if ((at & 1) == 0) {
                rows[used] = std::min(at / 2, m_coarse.height - 1);
                weights[used] = 2.0f * kTaps[k];
                ++used;
            }
        }
        const int stride = m_coarse.channels;
        for (int x = 0; x < m_coarse.width; ++x) {
            for (int ch = 0; ch < kColourChannels; ++ch) {
                float sum = 0.0f;
                for (int j = 0; j < used; ++j)
                    sum += weights[j] * m_coarse.row(rows[j])[size_t(x) * stride + ch];
                m_column[size_t(x) * kColourChannels + ch] = sum;
            }
        }
        expandRow(m_column.data(), out);
    }

private:
    void expandRow(const float* coarse, float* fine) const
    {
        constexpr int C = kColourChannels;
        for (int x = 0; x < m_fineWidth; ++x) {
            float sum[C] = {};
            if (x >= 2 && x + 2 < m_fineWidth && x / 2 + 1 < m_coarse.width) {
                if ((x & 1) == 0) {
                    const float* p = coarse + size_t(x / 2 - 1) * C;
                    for (int ch = 0; ch < C; ++ch)
                        sum[ch] = kTaps[0] * p[ch] + kTaps[2] * p[C + ch] + kTaps[4] * p[2 * C + ch];
                } else {
                    const float* p = coarse + size_t(x / 2) * C;
                    for (int ch = 0; ch < C; ++ch)
                        sum[ch] = kTaps[1] * p[ch] + kTaps[3] * p[C + ch];
                }
            } else {
                for (int k = 0; k < 5; ++k) {
                    const int at = mirror(x + k - 2, m_fineWidth);
                    if ((at & 1) != 0)
                        continue;
                    const float* p = coarse + size_t(std::min(at / 2, m_coarse.width - 1)) * C;
                    for (int ch = 0; ch < C; ++ch)
                        sum[ch] += kTaps[k] * p[ch];
                }
            }
            for (int ch = 0; ch < C; ++ch)
                fine[size_t(x) * C + ch] = 2.0f * sum[ch];
        }
    }

    const Level& m_coarse;
    int m_fineWidth;
    int m_fineHeight;
    std::vector<float> m_column;
};

// Per-pixel weights of the three exposures, normalised to sum to one.
void computeWeights(const uint8_t* const exposures[kExposures], int size, bool weighContrast, float sigma,
                    Floats weights[kExposures])
{
    float exposedness[256];
    for (int v = 0; v < 256; ++v) {
        const float d = float(v) / 255.0f - 0.5f;
        exposedness[v] = std::exp(-(d * d) / (2.0f * sigma * sigma));
    }
    // Left uninitialised, so that the threads that fill the maps also fault their pages in.
    for (int k = 0; k < kExposures; ++k)
        weights[k].allocate(size_t(size) * size_t(size));
    const size_t rowBytes = size_t(size) * 3;
#pragma omp parallel for schedule(dynamic, kRowsPerTurn) if (worthThreads(size, size))
    for (int y = 0; y < size; ++y) {
        const size_t up = size_t(std::max(y - 1, 0)), down = size_t(std::min(y + 1, size - 1));
        for (int x = 0; x < size; ++x) {
            const size_t at = size_t(y) * rowBytes + size_t(x) * 3;
            const size_t left = size_t(std::max(x - 1, 0)) * 3, right = size_t(std::min(x + 1, size - 1)) * 3;
            float w[kExposures];
            float total = 0.0f;
            for (int k = 0; k < kExposures; ++k) {
                const uint8_t* img = exposures[k];
                const uint8_t* p = img + at;
                const int r = p[0], g = p[1], b = p[2];
                const float mean = float(r + g + b) * (1.0f / 3.0f);
                const float dr = float(r) - mean, dg = float(g) - mean, db = float(b) - mean;
                float weight = std::sqrt((dr * dr + dg * dg + db * db) * (1.0f / 3.0f)) * (1.0f / 255.0f)
                    * exposedness[r] * exposedness[g] * exposedness[b];
                if (weighContrast) {
                    auto grey = [img](size_t offset) { return int(img[offset]) + img[offset + 1] + img[offset + 2]; };
                    const size_t rowAt = size_t(y) * rowBytes;
                    const int laplacian = 4 * (r + g + b) - grey(rowAt + left) - grey(rowAt + right)
                        - grey(up * rowBytes + size_t(x) * 3) - grey(down * rowBytes + size_t(x) * 3);
                    weight *= float(std::abs(laplacian)) * (1.0f / 765.0f);
                }
                w[k] = weight + kWeightFloor;
                total += w[k];
            }
            const size_t i = size_t(y) * size_t(size) + size_t(x);
            for (int k = 0; k < kExposures; ++k)
                weights[k].data()[i] = w[k] / total;
        }
    }
}

uint8_t toByte(float value)
{
    return uint8_t(std::clamp(value + 0.5f, 0.0f, 255.0f));
}

void blendPerPixel(const uint8_t* const exposures[kExposures], const Floats weights[kExposures], int size,
                   uint8_t* out)
{
    const size_t pixels = size_t(size) * size_t(size);
#pragma omp parallel for schedule(static) if (worthThreads(size, size))
    for (std::ptrdiff_t i = 0; i < std::ptrdiff_t(pixels); ++i) {
        for (int ch = 0; ch < 3; ++ch) {
            float sum = 0.0f;
            for (int k = 0; k < kExposures; ++k)
                sum += weights[k].data()[size_t(i)] * float(exposures[k][size_t(i) * 3 + size_t(ch)]);
            out[size_t(i) * 3 + size_t(ch)] = toByte(sum);
        }
    }
}

// Fused level l from the exposures' Gaussian levels l and l + 1 and the fused level l + 1 (none
// at the coarsest level): sum over exposures of weight x (G_l - expand(G_l+1)), plus expand(F_l+1).
void fuseLevel(std::vector<Level> gauss[kExposures], std::vector<Level>& fused, size_t l)
{
    const size_t top = fused.size() - 1;
    Level& out = fused[l];
    const Level& shape = gauss[0][l];
    out.allocate(shape.width, shape.height, kColourChannels);
#pragma omp parallel if (worthThreads(out.width, out.height))
    {
        const size_t rowFloats = size_t(out.width) * kColourChannels;
        std::vector<float> expanded(rowFloats);
        std::vector<Expander> expanders;
        if (l < top) {
            for (int k = 0; k < kExposures; ++k)
                expanders.emplace_back(gauss[k][l + 1], out.width, out.height);
            expanders.emplace_back(fused[l + 1], out.width, out.height);
        }
#pragma omp for schedule(dynamic, kRowsPerTurn)
        for (int y = 0; y < out.height; ++y) {
            float* o = out.row(y);
            if (l < top) {
                expanders[kExposures].row(y, o);
            } else {
                std::fill(o, o + rowFloats, 0.0f);
            }
            for (int k = 0; k < kExposures; ++k) {
                const float* g = gauss[k][l].row(y);
                if (l < top)
                    expanders[size_t(k)].row(y, expanded.data());
                for (int x = 0; x < out.width; ++x) {
                    const float* p = g + size_t(x) * kGaussChannels;
                    const float w = p[3];
                    for (int ch = 0; ch < kColourChannels; ++ch) {
                        const float detail = l < top ? p[ch] - expanded[size_t(x) * kColourChannels + ch] : p[ch];
                        o[size_t(x) * kColourChannels + ch] += w * detail;
                    }
                }
            }
        }
    }
}

// Full resolution: the exposures' own pixels and weights with the first fused level below.
void fuseFullResolution(const uint8_t* const exposures[kExposures], const Floats weights[kExposures],
                        std::vector<Level> gauss[kExposures], const Level& fused, int size, uint8_t* out)
{
#pragma omp parallel if (worthThreads(size, size))
    {
        const size_t rowFloats = size_t(size) * kColourChannels;
        std::vector<float> sum(rowFloats), expanded(rowFloats);
        std::vector<Expander> expanders;
        for (int k = 0; k < kExposures; ++k)
            expanders.emplace_back(gauss[k][1], size, size);
        Expander coarser(fused, size, size);
#pragma omp for schedule(dynamic, kRowsPerTurn)
        for (int y = 0; y < size; ++y) {
            coarser.row(y, sum.data());
            for (int k = 0; k < kExposures; ++k) {
                expanders[size_t(k)].row(y, expanded.data());
                const uint8_t* p = exposures[k] + size_t(y) * size_t(size) * 3;
                const float* w = weights[k].data() + size_t(y) * size_t(size);
                for (int x = 0; x < size; ++x)
                    for (int ch = 0; ch < 3; ++ch) {
                        const size_t i = size_t(x) * 3 + size_t(ch);
                        sum[i] += w[x] * (float(p[i]) - expanded[i]);
                    }
            }
            uint8_t* o = out + size_t(y) * size_t(size) * 3;
            for (size_t i = 0; i < rowFloats; ++i)
                o[i] = toByte(sum[i]);
        }
    }
}
} // namespace

void mergeHdr(const QByteArray& exposure0, const QByteArray& exposure1, const QByteArray& exposure2, QByteArray& out,
              int size, bool weighContrast, float sigma, int levels)
{
    const QByteArray* inputs[kExposures] = {&exposure0, &exposure1, &exposure2};
    if (size <= 0)
        throw std::invalid_argument("mergeHdr: the side must be positive");
    for (const QByteArray* input : inputs)
        if (input->size() != qsizetype(size) * size * 3)
            throw std::invalid_argument("mergeHdr: an exposure is not a square of the given side");
    if (!(sigma > 0.0f) || !std::isfinite(sigma))
        throw std::invalid_argument("mergeHdr: sigma must be a positive number");

    const uint8_t* exposures[kExposures];
    for (int k = 0; k < kExposures; ++k)
        exposures[k] = reinterpret_cast<const uint8_t*>(inputs[k]->constData());
    Floats weights[kExposures];
    computeWeights(exposures, size, weighContrast, sigma, weights);

    QByteArray result(qsizetype(size) * size * 3, Qt::Uninitialized);
    uint8_t* target = reinterpret_cast<uint8_t*>(result.data());
    const int available = automaticLevels(size);
    const int depth = levels < 0 ? available : std::min(levels, available);
    if (depth == 0) {
        blendPerPixel(exposures, weights, size, target);
        out = result;
        return;
    }

    // Gaussian levels 1 .. depth of each exposure with its weights (index 0 stays empty: the
    // full-resolution level is read from the bytes themselves).
    std::vector<Level> gauss[kExposures];
    for (int k = 0; k < kExposures; ++k)
        gauss[k].resize(size_t(depth) + 1);
    reduceExposures(exposures, weights, size, gauss);
    for (size_t l = 2; l <= size_t(depth); ++l)
        reduceLevels(gauss, l);
    std::vector<Level> fused(size_t(depth) + 1);
    for (size_t l = size_t(depth); l >= 1; --l)
        fuseLevel(gauss, fused, l);
    fuseFullResolution(exposures, weights, gauss, fused[1], size, target);
    out = result;
}
