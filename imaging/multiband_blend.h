#pragma once

#include "imaging/blend_plan.h"

#include <cstdint>
#include <memory>

// Multi-resolution (Laplacian pyramid) blend of two images of 4-byte pixels (coverage, R, G, B)
// under an 8-bit mask, the weight of the second image: 0 keeps the first image, 255 takes the
// second. Each image counts in proportion to its coverage, so pixels of coverage 0 never show.
// The result replaces the first image's colour bytes; its coverage bytes are left alone.
void multiBandBlend(uint8_t* first, const uint8_t* second, const uint8_t* mask, int width, int height);

// The same blend under a plan made for these images' size (BlendPlan::forImages gives the plan
// the call above makes). Outside plan.bothImages(row) only one image is read: the first on the
// left, the second on the right.
void multiBandBlend(uint8_t* first, const uint8_t* second, const uint8_t* mask, const BlendPlan& plan);

// The second form for several blends of one size in turn: the pyramid's storage is kept from one
// blend to the next.
class MultiBandBlender {
public:
    MultiBandBlender();
    ~MultiBandBlender();
    void blend(uint8_t* first, const uint8_t* second, const uint8_t* mask, const BlendPlan& plan);

private:
    struct Storage;
    std::unique_ptr<Storage> m_storage;
};
