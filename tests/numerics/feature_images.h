#pragma once

// Synthetic gray images for the corner tests: filled rectangles with known corners, and a
// smooth random texture.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <random>
#include <vector>

namespace featureimages {

struct Image {
    int32_t w = 0, h = 0;
    std::vector<float> pixels;

    Image(int32_t width, int32_t height, float value = 0.0f)
        : w(width), h(height), pixels(size_t(width) * size_t(height), value)
    {
    }
    float& at(int32_t x, int32_t y) { return pixels[size_t(y) * size_t(w) + size_t(x)]; }
    float at(int32_t x, int32_t y) const { return pixels[size_t(y) * size_t(w) + size_t(x)]; }
};

struct Rect {
    int32_t x0, y0, x1, y1;  // pixels x0 .. x1 - 1, y0 .. y1 - 1
    float value;
};

inline void fill(Image& image, const Rect& r)
{
    for (int32_t y = r.y0; y < r.y1; ++y)
        for (int32_t x = r.x0; x < r.x1; ++x)
            image.at(x, y) = r.value;
}

// The corner pixels of a rectangle.
struct Corner {
    int32_t x, y;
};
inline std::vector<Corner> cornersOf(const Rect& r)
{
    return {{r.x0, r.y0}, {r.x1 - 1, r.y0}, {r.x0, r.y1 - 1}, {r.x1 - 1, r.y1 - 1}};
}

// Pixels apart in the farther of the two axes.
inline int32_t chebyshev(int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    return std::max(std::abs(x0 - x1), std::abs(y0 - y1));
}

// Sum of random Gaussian blobs: a texture with corner-like extrema everywhere, values 0..255.
inline Image blobTexture(int32_t w, int32_t h, int32_t blobs, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> ux(0.0f, float(w)), uy(0.0f, float(h)), amp(-1.0f, 1.0f),
        size(2.0f, 6.0f);
    std::vector<float> acc(size_t(w) * size_t(h), 0.0f);
    for (int32_t b = 0; b < blobs; ++b) {
        const float cx = ux(rng), cy = uy(rng), a = amp(rng), s = size(rng);
        const int32_t r = int32_t(3.0f * s) + 1;
        for (int32_t y = std::max(0, int32_t(cy) - r); y < std::min(h, int32_t(cy) + r); ++y)
            for (int32_t x = std::max(0, int32_t(cx) - r); x < std::min(w, int32_t(cx) + r); ++x) {
                const float dx = float(x) - cx, dy = float(y) - cy;
                acc[size_t(y) * size_t(w) + size_t(x)] += a * std::exp(-(dx * dx + dy * dy) / (2.0f * s * s));
            }
    }
    Image image(w, h);
    for (size_t i = 0; i < acc.size(); ++i)
        image.pixels[i] = std::min(255.0f, std::max(0.0f, 128.0f + 60.0f * acc[i]));
    return image;
}

inline Image whiteNoise(int32_t w, int32_t h, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    Image image(w, h);
    for (float& v : image.pixels)
        v = float(byte(rng));
    return image;
}

}  // namespace featureimages
