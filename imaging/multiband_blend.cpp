#include "imaging/multiband_blend.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

// The blend of two Laplacian pyramids under the Gaussian pyramid of the mask m,
//   L(first) + G(m) x (L(second) - L(first)),
// collapses to first + collapse(G(m) x L(second - first)), since the Laplacian pyramid is linear.
// So only one pyramid is built: the colour difference with the mask as a fourth channel.

namespace {
// Below the full-resolution level; the coarsest level of a wide seam then spans about 32 pixels.
constexpr int kMaxLevels = 5;
constexpr float kTaps[5] = {0.0625f, 0.25f, 0.375f, 0.25f, 0.0625f};
constexpr int kChannels = 4; // difference R, G, B and the mask weight

// Uninitialised float storage: every level is written in full before it is read.
class Buffer {
public:
    void reserve(size_t count)
    {
        if (count > m_capacity) {
            m_data.reset(new float[count]);
            m_capacity = count;
        }
    }
    float* data() { return m_data.get(); }

private:
    std::unique_ptr<float[]> m_data;
    size_t m_capacity = 0;
};

struct Level {
    int width = 0;
    int height = 0;
    Buffer pixels; // kChannels floats per pixel
    Buffer blended; // the collapsed blend at this level, kChannels floats per pixel (last unused)
    float* row(int y) { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * kChannels; }
    float* blendedRow(int y) { return blended.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * kChannels; }
};

// Mirror an index into 0..n-1 without repeating the edge sample.
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

// Gaussian 5-tap filter and halving of each side (rounded up), all channels at once.
void reduce(Level& fine, Level& coarse, Buffer& across)
{
    const int w = coarse.width;
    across.reserve(static_cast<size_t>(w) * static_cast<size_t>(fine.height) * kChannels);
#pragma omp parallel for schedule(static)
    for (int y = 0; y < fine.height; ++y) {
        const float* in = fine.row(y);
        float* out = across.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * kChannels;
        for (int x = 0; x < w; ++x) {
            const int c = 2 * x;
            float sum[kChannels] = {0.0f, 0.0f, 0.0f, 0.0f};
            for (int k = 0; k < 5; ++k) {
                const int at = c + k - 2 >= 0 && c + k - 2 < fine.width ? c + k - 2 : mirror(c + k - 2, fine.width);
                const float* p = in + static_cast<size_t>(at) * kChannels;
                for (int ch = 0; ch < kChannels; ++ch)
                    sum[ch] += kTaps[k] * p[ch];
            }
            for (int ch = 0; ch < kChannels; ++ch)
                out[x * kChannels + ch] = sum[ch];
        }
    }
#pragma omp parallel for schedule(static)
    for (int y = 0; y < coarse.height; ++y) {
        const float* rows[5];
        for (int k = 0; k < 5; ++k)
            rows[k] = across.data() + static_cast<size_t>(mirror(2 * y + k - 2, fine.height)) * static_cast<size_t>(w) * kChannels;
        float* out = coarse.row(y);
        for (int i = 0; i < w * kChannels; ++i) {
            float sum = 0.0f;
            for (int k = 0; k < 5; ++k)
                sum += kTaps[k] * rows[k][i];
            out[i] = sum;
        }
    }
}

// Horizontal half of the upsampling: zeros between the coarse samples, the same filter times 2
// (the vertical half supplies the other factor 2). The taps on coarse samples sum to one half,
// so constants survive.
void expandRow(const float* coarse, int coarseWidth, float* fine, int fineWidth)
{
    for (int x = 0; x < fineWidth; ++x) {
        float sum[kChannels] = {0.0f, 0.0f, 0.0f, 0.0f};
        if (x >= 2 && x + 2 < fineWidth) {
            if ((x & 1) == 0) {
                const float* p = coarse + static_cast<size_t>(x / 2 - 1) * kChannels;
                for (int ch = 0; ch < kChannels; ++ch)
                    sum[ch] = kTaps[0] * p[ch] + kTaps[2] * p[kChannels + ch] + kTaps[4] * p[2 * kChannels + ch];
            } else {
                const float* p = coarse + static_cast<size_t>(x / 2) * kChannels;
                for (int ch = 0; ch < kChannels; ++ch)
                    sum[ch] = kTaps[1] * p[ch] + kTaps[3] * p[kChannels + ch];
            }
        } else {
            for (int k = 0; k < 5; ++k) {
                const int at = mirror(x + k - 2, fineWidth);
                if ((at & 1) != 0)
                    continue;
                const float* p = coarse + static_cast<size_t>(std::min(at / 2, coarseWidth - 1)) * kChannels;
                for (int ch = 0; ch < kChannels; ++ch)
                    sum[ch] += kTaps[k] * p[ch];
            }
        }
        for (int ch = 0; ch < kChannels; ++ch)
            fine[x * kChannels + ch] = 2.0f * sum[ch];
    }
}

// The coarse rows (at most three) and weights that the vertical upsampling of fine row y uses.
int expandTaps(int y, int fineHeight, int rows[3], float weights[3])
{
    int used = 0;
    for (int k = 0; k < 5; ++k) {
        const int at = mirror(y + k - 2, fineHeight);
        if ((at & 1) == 0) {
            rows[used] = at / 2;
            weights[used] = 2.0f * kTaps[k];
            ++used;
        }
    }
    return used;
}

// Blended level k from level k + 1: (G_k - expand(G_k+1)) x mask_k + expand(B_k+1). At level 0
// (toBytes) the result is added to the first image and written into its colour bytes.
void collapseInto(Level& fine, Level& coarse, uint8_t* first, const uint8_t* second, bool toBytes)
{
    const int w = fine.width;
#pragma omp parallel
    {
        std::vector<float> upG(static_cast<size_t>(3) * w * kChannels);
        std::vector<float> upB(static_cast<size_t>(3) * w * kChannels);
#pragma omp for schedule(static)
        for (int y = 0; y < fine.height; ++y) {
            int rows[3];
            float weights[3];
            const int used = expandTaps(y, fine.height, rows, weights);
            for (int k = 0; k < used; ++k) {
                expandRow(coarse.row(rows[k]), coarse.width, upG.data() + static_cast<size_t>(k) * w * kChannels, w);
                expandRow(coarse.blendedRow(rows[k]), coarse.width, upB.data() + static_cast<size_t>(k) * w * kChannels, w);
            }
            const float* g = fine.row(y);
            float* out = toBytes ? nullptr : fine.blendedRow(y);
            for (int x = 0; x < w; ++x) {
                const size_t i = static_cast<size_t>(x) * kChannels;
                const float mask = g[i + 3];
                float value[3];
                for (int ch = 0; ch < 3; ++ch) {
                    float eg = 0.0f, eb = 0.0f;
                    for (int k = 0; k < used; ++k) {
                        eg += weights[k] * upG[static_cast<size_t>(k) * w * kChannels + i + ch];
                        eb += weights[k] * upB[static_cast<size_t>(k) * w * kChannels + i + ch];
                    }
                    value[ch] = (g[i + ch] - eg) * mask + eb;
                }
                if (!toBytes) {
                    out[i] = value[0];
                    out[i + 1] = value[1];
                    out[i + 2] = value[2];
                    out[i + 3] = 0.0f;
                    continue;
                }
                const size_t p = (static_cast<size_t>(y) * w + x) * 4;
                // A pixel neither image covers keeps what the first image held.
                if (first[p] == 0 && second[p] == 0)
                    continue;
                const uint8_t* base = first[p] != 0 ? first : second;
                for (int ch = 0; ch < 3; ++ch) {
                    const float v = std::clamp(base[p + 1 + ch] + value[ch] + 0.5f, 0.0f, 255.0f);
                    first[p + 1 + ch] = static_cast<uint8_t>(v);
                }
            }
        }
    }
}

int levelCount(int width, int height)
{
    int levels = 0;
    int side = std::min(width, height);
    while (levels < kMaxLevels && side >= 2) {
        side = (side + 1) / 2;
        ++levels;
    }
    return levels;
}
} // namespace

void multiBandBlend(uint8_t* first, const uint8_t* second, const uint8_t* mask, int width, int height)
{
    if (width <= 0 || height <= 0)
        return;
    const int levelsBelow = levelCount(width, height);
    std::vector<Level> levels(static_cast<size_t>(levelsBelow) + 1);
    levels[0].width = width;
    levels[0].height = height;
    for (size_t k = 1; k < levels.size(); ++k) {
        levels[k].width = (levels[k - 1].width + 1) / 2;
        levels[k].height = (levels[k - 1].height + 1) / 2;
    }
    for (size_t k = 0; k < levels.size(); ++k) {
        const size_t count = static_cast<size_t>(levels[k].width) * static_cast<size_t>(levels[k].height) * kChannels;
        levels[k].pixels.reserve(count);
        if (k > 0)
            levels[k].blended.reserve(count);
    }

    // Level 0: colour difference and effective weight of the second image. Each image counts in
    // proportion to its coverage; where one has none it takes the other's colour, so that its
    // unknown values never reach the detail levels.
#pragma omp parallel for schedule(static)
    for (int y = 0; y < height; ++y) {
        float* out = levels[0].row(y);
        for (int x = 0; x < width; ++x) {
            const size_t p = (static_cast<size_t>(y) * width + x) * 4;
            float* q = out + static_cast<size_t>(x) * kChannels;
            if (first[p] == 0 && second[p] == 0) {
                q[0] = q[1] = q[2] = q[3] = 0.0f;
                continue;
            }
            const float m = mask[static_cast<size_t>(y) * width + x] * (1.0f / 255.0f);
            const float w1 = (1.0f - m) * first[p];
            const float w2 = m * second[p];
            const uint8_t* a = first[p] != 0 ? first : second;
            const uint8_t* b = second[p] != 0 ? second : first;
            q[0] = static_cast<float>(b[p + 1]) - static_cast<float>(a[p + 1]);
            q[1] = static_cast<float>(b[p + 2]) - static_cast<float>(a[p + 2]);
            q[2] = static_cast<float>(b[p + 3]) - static_cast<float>(a[p + 3]);
            q[3] = w1 + w2 > 0.0f ? w2 / (w1 + w2) : 0.0f;
        }
    }

    Buffer across;
    for (size_t k = 0; k + 1 < levels.size(); ++k)
        reduce(levels[k], levels[k + 1], across);

    Level& top = levels.back();
    const size_t topPixels = static_cast<size_t>(top.width) * static_cast<size_t>(top.height);
    if (levels.size() == 1) {
        // Too small for a pyramid: a plain per-pixel blend.
        top.blended.reserve(topPixels * kChannels);
    }
    for (size_t i = 0; i < topPixels; ++i) {
        const float* g = top.pixels.data() + i * kChannels;
        float* b = top.blended.data() + i * kChannels;
        b[0] = g[0] * g[3];
        b[1] = g[1] * g[3];
        b[2] = g[2] * g[3];
        b[3] = 0.0f;
    }
    if (levels.size() == 1) {
        for (size_t i = 0; i < topPixels; ++i) {
            const size_t p = i * 4;
            if (first[p] == 0 && second[p] == 0)
                continue;
            const uint8_t* base = first[p] != 0 ? first : second;
            for (int ch = 0; ch < 3; ++ch)
                first[p + 1 + ch] = static_cast<uint8_t>(
                    std::clamp(base[p + 1 + ch] + top.blended.data()[i * kChannels + ch] + 0.5f, 0.0f, 255.0f));
        }
        return;
    }
    for (size_t k = levels.size() - 1; k > 0; --k)
        collapseInto(levels[k - 1], levels[k], first, second, k == 1);
}
