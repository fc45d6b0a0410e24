#include "imaging/rotation.h"

#include <cmath>

namespace {
template <typename T>
void fillRotation(T a1, T a2, T a3, T out[9])
{
    const T c1 = std::cos(a1), s1 = std::sin(a1);
    const T c2 = std::cos(a2), s2 = std::sin(a2);
    const T c3 = std::cos(a3), s3 = std::sin(a3);
    out[0] = c2 * c1;
    out[1] = c1 * s2 * s3 - c3 * s1;
    out[2] = c1 * s2 * c3 + s3 * s1;
    out[3] = c2 * s1;
    out[4] = s2 * s1 * s3 + c3 * c1;
    out[5] = s2 * s1 * c3 - c1 * s3;
    out[6] = -s2;
    out[7] = c2 * s3;
    out[8] = c3 * c2;
}

// The product goes through a local so that C may be A or B.
template <typename T>
void leftMultiply(const T A[9], const T B[9], T C[9])
{
    T product[9];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            product[i * 3 + j] = B[i * 3] * A[j] + B[i * 3 + 1] * A[3 + j] + B[i * 3 + 2] * A[6 + j];
    for (int k = 0; k < 9; ++k)
        C[k] = product[k];
}
} // namespace

void rotationFromAngles(float a1, float a2, float a3, float out[9])
{
    fillRotation<float>(a1, a2, a3, out);
}

void rotationFromAnglesDouble(double a1, double a2, double a3, double out[9])
{
    fillRotation<double>(a1, a2, a3, out);
}

void multiplyMat3(const double A[9], const double B[9], double C[9])
{
    leftMultiply<double>(A, B, C);
}

void mul3x3(const float A[9], const float B[9], float C[9])
{
    leftMultiply<float>(A, B, C);
}
