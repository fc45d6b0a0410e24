#include "numerics/gaussian_kernels.h"

#include <cmath>

int32_t gaussianKernelSize(float sigma)
{
    int32_t size = int32_t(5.0f * sigma);
    if (size % 2 == 0)
        ++size;
    return size < 1 ? 1 : size;
}

std::vector<float> gaussianKernel(float sigma)
{
    const int32_t size = gaussianKernelSize(sigma);
    if (size == 1)
        return {1.0f};
    const int32_t c = size / 2;
    std::vector<float> weights(size_t(size), 0.0f);
    float sum = 0.0f;
    for (int32_t i = 0; i < size; ++i) {
        const float d = float(i - c);
        weights[size_t(i)] = std::exp(-(d * d) * 0.5f / (sigma * sigma));
        sum += weights[size_t(i)];
    }
    for (float& weight : weights)
        weight /= sum;
    return weights;
}

std::vector<float> gaussianDerivativeKernel(float sigma)
{
    const int32_t size = gaussianKernelSize(sigma);
    if (size == 1)
        return {0.0f};
    const int32_t c = size / 2;
    std::vector<float> weights(size_t(size), 0.0f);
    // The normaliser is the kernel's response to a unit ramp, sum of (i - c)^2 g(i - c).
    float moment = 0.0f;
    for (int32_t i = 0; i < size; ++i) {
        const float d = float(i - c);
        const float g = std::exp(-(d * d) * 0.5f / (sigma * sigma));
        weights[size_t(i)] = d * g;
        moment += d * d * g;
    }
    for (float& weight : weights)
        weight /= moment;
    return weights;
}
