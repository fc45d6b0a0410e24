#include "imaging/box_blur.h"

#include <cstring>
#include <vector>

void boxBlurGray(const uint8_t* src, uint8_t* dst, int width, int height, int window)
{
    if (width <= 0 || height <= 0)
        return;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    const int radius = window > 1 ? window / 2 : 0;
    if (radius == 0 || width <= 2 * radius || height <= 2 * radius) {
        if (dst != src)
            std::memmove(dst, src, count);
        return;
    }
    const int span = 2 * radius + 1;
    const int area = span * span;

    // Horizontal sums of every row first, so that dst may overwrite src afterwards.
    std::vector<int32_t> rowSums(count, 0);
#pragma omp parallel for schedule(static)
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = src + static_cast<size_t>(y) * width;
        int32_t* out = rowSums.data() + static_cast<size_t>(y) * width;
        int32_t sum = 0;
        for (int x = 0; x < span; ++x)
            sum += in[x];
        out[radius] = sum;
        for (int x = radius + 1; x < width - radius; ++x) {
            sum += in[x + radius] - in[x - radius - 1];
            out[x] = sum;
        }
    }

    if (dst != src) {
        for (int y = 0; y < height; ++y) {
            const size_t row = static_cast<size_t>(y) * width;
            if (y < radius || y >= height - radius) {
                std::memcpy(dst + row, src + row, static_cast<size_t>(width));
            } else {
                std::memcpy(dst + row, src + row, static_cast<size_t>(radius));
                std::memcpy(dst + row + width - radius, src + row + width - radius, static_cast<size_t>(radius));
            }
        }
    }

    // Integer sums keep the result the exactly rounded mean, whatever the window.
#pragma omp parallel for schedule(static)
    for (int y = radius; y < height - radius; ++y) {
        uint8_t* out = dst + static_cast<size_t>(y) * width;
        for (int x = radius; x < width - radius; ++x) {
            int32_t sum = 0;
            for (int k = -radius; k <= radius; ++k)
                sum += rowSums[static_cast<size_t>(y + k) * width + x];
            out[x] = static_cast<uint8_t>((sum + area / 2) / area);
        }
    }
}
