#pragma once

#include <cstdint>
#include <vector>

// Kernels are applied as correlations: out[x] = sum over i of k[i] x in[x - c + i], c = size / 2.

// Kernel size for scale sigma: (int)(5 sigma), made odd by adding 1.
int32_t gaussianKernelSize(float sigma);

// Gaussian weights, normalised to sum 1; size 1 is the single weight 1.
std::vector<float> gaussianKernel(float sigma);

// First derivative of a Gaussian, normalised so that it gives exactly 1 on a unit ramp (positive for
// a brightness rising towards higher indices); size 1 is the single weight 0.
std::vector<float> gaussianDerivativeKernel(float sigma);
