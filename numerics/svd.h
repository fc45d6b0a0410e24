#pragma once

#include <cstdint>

// Result codes of computeSvd.
enum SvdCode : int32_t {
    kSvdSuccess = 0,
    kSvdNoConvergence = 1,  // a singular value did not converge; A, W, V hold partial results
    kSvdRefused = 2,        // m or n below 1, a null array, or a NaN or infinite entry in A
    kSvdNoMemory = 3,       // no working storage; A, W, V unchanged
};

// Singular value decomposition A = U W V^T of the m x n row-major matrix a (Golub-Reinsch: Householder
// bidiagonalisation, then implicitly shifted QR). a is overwritten by U (m x n), w receives the n
// singular values (non-negative, unsorted; U's and V's columns follow their order), v the n x n
// matrix V (row-major, not transposed). work holds n doubles. m < n is allowed.
int32_t computeSvd(double* a, double* w, double* v, double* work, int32_t m, int32_t n);

// sqrt(a^2 + b^2) without overflow or destructive underflow.
double hypotSafe(double a, double b);

// The number of QR sweeps allowed per singular value for an m-row matrix.
int32_t svdIterationLimit(int32_t m);
