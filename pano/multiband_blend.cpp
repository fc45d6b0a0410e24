#include "pano/multiband_blend.h"

#include <algorithm>
#include <vector>

namespace {
// Below the full-resolution level; the coarsest level of a wide seam then spans about 32 pixels.
constexpr int kMaxLevels = 5;
constexpr float kTaps[5] = {0.0625f, 0.25f, 0.375f, 0.25f, 0.0625f};

struct Plane {
    int width = 0;
    int height = 0;
    std::vector<float> values;

    Plane() = default;
    Plane(int w, int h) : width(w), height(h), values(static_cast<size_t>(w) * static_cast<size_t>(h), 0.0f) {}
    float* row(int y) { return values.data() + static_cast<size_t>(y) * width; }
    const float* row(int y) const { return values.data() + static_cast<size_t>(y) * width; }
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

// Gaussian 5-tap filter and halving of each side (rounded up).
Plane reduce(const Plane& src)
{
    const int w = (src.width + 1) / 2;
    const int h = (src.height + 1) / 2;
    Plane across(w, src.height);
#pragma omp parallel for schedule(static)
    for (int y = 0; y < src.height; ++y) {
        const float* in = src.row(y);
        float* out = across.row(y);
        for (int x = 0; x < w; ++x) {
            const int c = 2 * x;
            float sum = 0.0f;
            if (c >= 2 && c + 2 < src.width) {
                for (int k = 0; k < 5; ++k)
                    sum += kTaps[k] * in[c + k - 2];
            } else {
                for (int k = 0; k < 5; ++k)
                    sum += kTaps[k] * in[mirror(c + k - 2, src.width)];
            }
            out[x] = sum;
        }
    }
    Plane dst(w, h);
#pragma omp parallel for schedule(static)
    for (int y = 0; y < h; ++y) {
        const float* rows[5];
        for (int k = 0; k < 5; ++k)
            rows[k] = across.row(mirror(2 * y + k - 2, src.height));
        float* out = dst.row(y);
        for (int x = 0; x < w; ++x) {
            float sum = 0.0f;
            for (int k = 0; k < 5; ++k)
                sum += kTaps[k] * rows[k][x];
            out[x] = sum;
        }
    }
    return dst;
}

// Upsampling to width x height: zeros between the coarse samples, then the same filter times 4.
// The taps that land on coarse samples sum to one half in each direction, so constants survive.
Plane expand(const Plane& src, int width, int height)
{
    Plane across(width, src.height);
#pragma omp parallel for schedule(static)
    for (int y = 0; y < src.height; ++y) {
        const float* in = src.row(y);
        float* out = across.row(y);
        for (int x = 0; x < width; ++x) {
            float sum = 0.0f;
            for (int k = 0; k < 5; ++k) {
                const int fine = mirror(x + k - 2, width);
                if ((fine & 1) == 0)
                    sum += kTaps[k] * in[fine / 2];
            }
            out[x] = 2.0f * sum;
        }
    }
    Plane dst(width, height);
#pragma omp parallel for schedule(static)
    for (int y = 0; y < height; ++y) {
        const float* rows[3];
        float weights[3];
        int used = 0;
        for (int k = 0; k < 5; ++k) {
            const int fine = mirror(y + k - 2, height);
            if ((fine & 1) == 0) {
                rows[used] = across.row(fine / 2);
                weights[used] = 2.0f * kTaps[k];
                ++used;
            }
        }
        float* out = dst.row(y);
        for (int x = 0; x < width; ++x) {
            float sum = 0.0f;
            for (int k = 0; k < used; ++k)
                sum += weights[k] * rows[k][x];
            out[x] = sum;
        }
    }
    return dst;
}

std::vector<Plane> gaussianPyramid(Plane base, int levels)
{
    std::vector<Plane> pyramid;
    pyramid.reserve(static_cast<size_t>(levels) + 1);
    pyramid.push_back(std::move(base));
    for (int k = 0; k < levels; ++k)
        pyramid.push_back(reduce(pyramid.back()));
    return pyramid;
}

// Turns a Gaussian pyramid into its Laplacian pyramid in place (the top level stays).
void toLaplacian(std::vector<Plane>& pyramid)
{
    for (size_t k = 0; k + 1 < pyramid.size(); ++k) {
        const Plane up = expand(pyramid[k + 1], pyramid[k].width, pyramid[k].height);
        std::vector<float>& v = pyramid[k].values;
        for (size_t i = 0; i < v.size(); ++i)
            v[i] -= up.values[i];
    }
}

// One colour channel of an image. Where the image has no coverage it takes the other image's
// colour, so that its unknown values never reach the detail levels near the gap.
Plane channelPlane(const uint8_t* pixels, const uint8_t* other, int byteIndex, int width, int height)
{
    Plane plane(width, height);
    for (size_t i = 0; i < plane.values.size(); ++i) {
        const uint8_t* from = pixels[4 * i] == 0 && other[4 * i] != 0 ? other : pixels;
        plane.values[i] = from[4 * i + static_cast<size_t>(byteIndex)];
    }
    return plane;
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
    const int levels = levelCount(width, height);
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);

    Plane weightFirst(width, height);
    Plane weightSecond(width, height);
    for (size_t i = 0; i < count; ++i) {
        const float m = mask[i] * (1.0f / 255.0f);
        weightFirst.values[i] = (1.0f - m) * (first[4 * i] * (1.0f / 255.0f));
        weightSecond.values[i] = m * (second[4 * i] * (1.0f / 255.0f));
    }
    const std::vector<Plane> gw1 = gaussianPyramid(weightFirst, levels);
    const std::vector<Plane> gw2 = gaussianPyramid(weightSecond, levels);

    for (int channel = 1; channel <= 3; ++channel) {
        std::vector<Plane> blended = gaussianPyramid(channelPlane(first, second, channel, width, height), levels);
        std::vector<Plane> other = gaussianPyramid(channelPlane(second, first, channel, width, height), levels);
        toLaplacian(blended);
        toLaplacian(other);
        for (size_t k = 0; k < blended.size(); ++k) {
            std::vector<float>& a = blended[k].values;
            const std::vector<float>& b = other[k].values;
            const std::vector<float>& w1 = gw1[k].values;
            const std::vector<float>& w2 = gw2[k].values;
            for (size_t i = 0; i < a.size(); ++i) {
                const float total = w1[i] + w2[i];
                a[i] = total > 0.0f ? (a[i] * w1[i] + b[i] * w2[i]) / total : 0.0f;
            }
        }
        for (size_t k = blended.size() - 1; k > 0; --k) {
            const Plane up = expand(blended[k], blended[k - 1].width, blended[k - 1].height);
            std::vector<float>& v = blended[k - 1].values;
            for (size_t i = 0; i < v.size(); ++i)
                v[i] += up.values[i];
        }
        const std::vector<float>& result = blended[0].values;
        for (size_t i = 0; i < count; ++i) {
            // A pixel neither image covers keeps what the first image held.
            if (weightFirst.values[i] + weightSecond.values[i] <= 0.0f)
                continue;
            const float v = std::clamp(result[i] + 0.5f, 0.0f, 255.0f);
            first[4 * i + static_cast<size_t>(channel)] = static_cast<uint8_t>(v);
        }
    }
}
