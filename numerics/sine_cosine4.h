#pragma once

// Sines and cosines of float arrays, each value to the bit what the C library's sinf and cosf
// return, so that a render taking them many at a time keeps every pixel of one that calls the
// library value by value. glibc computes them in double (one reduction by pi/2, two short
// polynomials) with fused multiply-adds where the processor has FMA and AVX2; there the arrays go
// four values at a time through the same fused operations. Elsewhere, and for values beyond the
// short reduction (|x| >= 120, infinities, NaNs), the library is called value by value.
void sinFloats(const float* in, float* out, int count);
void cosFloats(const float* in, float* out, int count);
