#pragma once

#include <cstdint>

// Sharpness of the vertical edges in a grey strip (one byte per pixel, rows without padding):
// horizontal differences less the vertical ones, capped, weighted towards the middle rows and
// squared per column. A strip of fewer than three rows or columns scores 0.
double verticalEdgeScore(int width, int height, const uint8_t* gray);
