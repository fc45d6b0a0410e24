#pragma once

#include <cstdint>

// Separable box blur of one 8-bit plane: each inner pixel becomes the rounded mean of the
// window x window square around it (window / 2 pixels each side); the border rows and columns
// that the square does not fit keep the source's values. src and dst may be the same buffer.
void boxBlurGray(const uint8_t* src, uint8_t* dst, int width, int height, int window);
