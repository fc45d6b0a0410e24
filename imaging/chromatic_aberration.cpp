#include "imaging/chromatic_aberration.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
constexpr float kLeastEdgeShift = 0.05f;

// Where output index i samples along one axis: the lower source index and the weight of the next.
struct Tap {
    int index;
    int next;
    float weight;
};

std::vector<Tap> taps(int count, float scale)
{
    std::vector<Tap> out(static_cast<size_t>(count));
    const float centre = float(count - 1) * 0.5f;
    for (int i = 0; i < count; ++i) {
        const float at = std::clamp(centre + (float(i) - centre) * scale, 0.0f, float(count - 1));
        const int index = std::min(int(at), count - 1);
        out[size_t(i)] = {index, std::min(index + 1, count - 1), at - float(index)};
    }
    return out;
}

bool worthCorrecting(float scale, int width, int height)
{
    return std::isfinite(scale) && scale > 0.0f
        && std::fabs(scale - 1.0f) * float(std::max(width, height)) * 0.5f > kLeastEdgeShift;
}

void scaleChannel(uint8_t* rgb, int width, int height, int channel, float scale)
{
    std::vector<uint8_t> plane(size_t(width) * size_t(height));
    for (size_t i = 0; i < plane.size(); ++i)
        plane[i] = rgb[i * 3 + size_t(channel)];
    const std::vector<Tap> across = taps(width, scale), down = taps(height, scale);
#pragma omp parallel for schedule(static)
    for (int y = 0; y < height; ++y) {
        const Tap& v = down[size_t(y)];
        const uint8_t* upper = plane.data() + size_t(v.index) * size_t(width);
        const uint8_t* lower = plane.data() + size_t(v.next) * size_t(width);
        uint8_t* out = rgb + size_t(y) * size_t(width) * 3 + size_t(channel);
        for (int x = 0; x < width; ++x) {
            const Tap& u = across[size_t(x)];
            const float top = float(upper[u.index]) + (float(upper[u.next]) - float(upper[u.index])) * u.weight;
            const float bottom = float(lower[u.index]) + (float(lower[u.next]) - float(lower[u.index])) * u.weight;
            const float value = top + (bottom - top) * v.weight;
            out[size_t(x) * 3] = uint8_t(std::clamp(value + 0.5f, 0.0f, 255.0f));
        }
    }
}
} // namespace

void scaleRedAndBlueAboutCentre(uint8_t* rgb, int width, int height, float redScale, float blueScale)
{
    if (!rgb || width <= 0 || height <= 0)
        return;
    if (worthCorrecting(redScale, width, height))
        scaleChannel(rgb, width, height, 0, redScale);
    if (worthCorrecting(blueScale, width, height))
        scaleChannel(rgb, width, height, 2, blueScale);
}
