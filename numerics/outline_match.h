#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

// Rigid placement of one set of plan points (lidar outlines, millimetres) against another. Points
// are interleaved x, y pairs in one plane frame; a placement turns the moving points about a pivot
// by `angle` (x turning towards y) and then moves them by (tx, ty).
//
// The match is scored by the distance from each moving point to the nearest reference point, read
// from distance grids of the reference at cell sizes finestCell x 2^k (k = 0 .. levels - 1): every
// turn and shift is tried on the coarsest grid, and the best distinct local minima are refined
// grid by grid and then below the finest cell.

struct OutlinePlacement {
    double tx = 0;
    double ty = 0;
    double angle = 0; // radians, in (-pi, pi]
    // Mean distance from the placed points to the nearest reference point as the finest grid
    // keeps them (the mean of the points in each of its cells), each counting at most errorCap.
    double error = 0;
};

struct OutlineMatchOptions {
    double finestCell = 20.0;
    int32_t levels = 5;
    double errorCap = 250.0;
    int32_t maxPlacements = 10;
};

// Shared with a watcher on another thread: a cancel request and how far the search is.
struct OutlineMatchControl {
    std::atomic<bool> cancel{false};
    std::atomic<int32_t> total{0};
    std::atomic<int32_t> done{0};
};

// The best distinct placements, best first, at most options.maxPlacements; two placements are
// distinct when they put some part of the moving outline at least 100 mm apart. False (placements
// emptied) when either set is empty, a coordinate or option is not usable, or the search was
// cancelled. Runs OpenMP loops in the calling thread.
bool matchOutline(const double* reference, int64_t referenceCount, const double* moving, int64_t movingCount,
                  double pivotX, double pivotY, const OutlineMatchOptions& options,
                  std::vector<OutlinePlacement>& placements, OutlineMatchControl* control = nullptr);

