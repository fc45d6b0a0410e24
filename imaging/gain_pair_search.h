#pragma once

#include <array>
#include <cstddef>
#include <vector>

// One channel's samples at the same points of the three seams of a three-shot pano: shot 1's
// values (0..1) at the seam with shot 2 and at the seam with shot 3, and the curve indices (the
// bytes 0..255) of shot 2 at its seams with shots 1 and 3 and of shot 3 at its seams with 2 and 1.
struct SeamSamples {
    const float* first12 = nullptr;
    const int* second12 = nullptr;
    const int* second23 = nullptr;
    const int* third23 = nullptr;
    const int* third31 = nullptr;
    const float* first31 = nullptr;
};

// The search of the gains of shots 2 and 3 over the tone curves `curves` (one per gain, 256
// values each). The cost of a pair (a, b) in a channel is the sum in double, point by point in
// order, of sqrt(e1^2 + e2^2 + e3^2) with e1 = first12 - A[second12], e2 = A[second23] - B[third23]
// and e3 = B[third31] - first31, A and B the curves of a and b. For every channel and a, bestB
// gets the b of the lowest cost (the first of equals) and bestCost that cost, at ch * count + a.
void searchGainPairs(const SeamSamples channels[3], size_t points, const std::vector<std::array<float, 256>>& curves,
                     std::vector<double>& bestCost, std::vector<int>& bestB);
