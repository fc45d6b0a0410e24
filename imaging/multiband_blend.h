#pragma once

#include "imaging/blend_plan.h"

#include <cstddef>
#include <cstdint>

// Multi-resolution (Laplacian pyramid) blend of two images of 4-byte pixels (coverage, R, G, B)
// under an 8-bit mask, the weight of the second image: 0 keeps the first image, 255 takes the
// second. Each image counts in proportion to its coverage, so pixels of coverage 0 never show.
// The result replaces the first image's colour bytes; its coverage bytes are left alone.
void multiBandBlend(uint8_t* first, const uint8_t* second, const uint8_t* mask, int width, int height);

// One blend whose result goes elsewhere: out receives each pixel's three colour bytes, pixelBytes
// apart within a row and rowBytes apart from one row to the next. out overlaps neither image.
struct BlendJob {
    const uint8_t* first;
    const uint8_t* second;
    uint8_t* out;
    size_t pixelBytes;
    size_t rowBytes;
};

// Blends of images of the plan's size under one mask and its plan (BlendPlan::forImages gives the
// plan the form above makes). Outside plan.bothImages(row) only one image is read: the first on
// the left, the second on the right. The rows go out in strips over all threads, each strip
// working out what it needs of every level, so no thread waits for another until the end; the
// result does not depend on the number of threads.
void multiBandBlend(const BlendJob* jobs, int count, const uint8_t* mask, const BlendPlan& plan);
