#include "numerics/svd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#ifdef QUORIL_HAVE_LAPACK
extern "C" void dgesvd_(const char* jobu, const char* jobvt, const int* m, const int* n, double* a,
                        const int* lda, double* s, double* u, const int* ldu, double* vt, const int* ldvt,
                        double* work, const int* lwork, int* info, size_t jobuLength, size_t jobvtLength);
#endif

namespace {
using Matrix = std::vector<double>;  // row-major

struct Decomposition {
    int32_t code = -1;
    Matrix u, v;
    std::vector<double> w;
};

Decomposition decompose(const Matrix& a, int32_t m, int32_t n)
{
    Decomposition d;
    d.u = a;
    d.v.assign(size_t(n) * size_t(n), 0.0);
    d.w.assign(size_t(n), 0.0);
    std::vector<double> work(static_cast<size_t>(n));
    d.code = computeSvd(d.u.data(), d.w.data(), d.v.data(), work.data(), m, n);
    return d;
}

Matrix randomMatrix(int32_t m, int32_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    Matrix a(size_t(m) * size_t(n));
    for (double& v : a)
        v = uniform(rng);
    return a;
}

double frobenius(const Matrix& a)
{
    double sum = 0.0;
    for (double v : a)
        sum += v * v;
    return std::sqrt(sum);
}

// Largest entry of |A - U W V^T|.
double reconstructionError(const Matrix& a, const Decomposition& d, int32_t m, int32_t n)
{
    double worst = 0.0;
    for (int32_t i = 0; i < m; ++i) {
        for (int32_t j = 0; j < n; ++j) {
            double sum = 0.0;
            for (int32_t k = 0; k < n; ++k)
                sum += d.u[size_t(i) * n + k] * d.w[size_t(k)] * d.v[size_t(j) * n + k];
            worst = std::max(worst, std::fabs(sum - a[size_t(i) * n + j]));
        }
    }
    return worst;
}

// Largest deviation of the columns of the rows x cols matrix q (those selected) from orthonormality.
double orthonormalityError(const Matrix& q, int32_t rows, int32_t cols, const std::function<bool(int32_t)>& use)
{
    double worst = 0.0;
    for (int32_t p = 0; p < cols; ++p) {
        for (int32_t r = 0; r < cols; ++r) {
            if (!use(p) || !use(r))
                continue;
            double sum = 0.0;
            for (int32_t i = 0; i < rows; ++i)
                sum += q[size_t(i) * cols + p] * q[size_t(i) * cols + r];
            worst = std::max(worst, std::fabs(sum - (p == r ? 1.0 : 0.0)));
        }
    }
    return worst;
}

std::vector<double> sortedDescending(std::vector<double> v)
{
    std::sort(v.begin(), v.end(), std::greater<>());
    return v;
}

#ifdef QUORIL_HAVE_LAPACK
std::vector<double> lapackSingularValues(const Matrix& a, int m, int n)
{
    Matrix columnMajor(a.size());
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < n; ++j)
            columnMajor[size_t(j) * m + i] = a[size_t(i) * n + j];
    std::vector<double> s(size_t(std::min(m, n))), u(size_t(m) * m), vt(size_t(n) * n);
    int lwork = -1, info = 0;
    double query = 0.0;
    dgesvd_("A", "A", &m, &n, columnMajor.data(), &m, s.data(), u.data(), &m, vt.data(), &n, &query,
            &lwork, &info, 1, 1);
    lwork = int(query);
    std::vector<double> work(static_cast<size_t>(lwork));
    dgesvd_("A", "A", &m, &n, columnMajor.data(), &m, s.data(), u.data(), &m, vt.data(), &n, work.data(),
            &lwork, &info, 1, 1);
    EXPECT_EQ(info, 0);
    return s;
}
#endif
}  // namespace

TEST(Svd, RandomMatricesAgreeWithLapack)
{
#ifndef QUORIL_HAVE_LAPACK
    FAIL() << "LAPACK is missing: scripts/deps --test installs liblapack-dev";
#else
    struct Size {
        int32_t m, n;
    };
    for (const Size size : {Size{7, 5}, Size{50, 50}, Size{60, 100}, Size{100, 100}}) {
        const int32_t m = size.m, n = size.n;
        const Matrix a = randomMatrix(m, n, unsigned(m * 1000 + n));
        const Decomposition d = decompose(a, m, n);
        ASSERT_EQ(d.code, kSvdSuccess) << m << " x " << n;
        const double scale = frobenius(a);

        // Singular values: LAPACK's min(m, n) ones, and zeros for the rest when m < n.
        const std::vector<double> ours = sortedDescending(d.w);
        const std::vector<double> theirs = lapackSingularValues(a, m, n);
        for (size_t k = 0; k < ours.size(); ++k) {
            EXPECT_GE(d.w[k], 0.0);
            const double expected = k < theirs.size() ? theirs[k] : 0.0;
            EXPECT_NEAR(ours[k], expected, 1e-13 * scale) << m << " x " << n << " value " << k;
        }

        EXPECT_LT(reconstructionError(a, d, m, n), 1e-13 * scale) << m << " x " << n;
        EXPECT_LT(orthonormalityError(d.v, n, n, [](int32_t) { return true; }), 1e-13) << m << " x " << n;
        // U's columns belonging to non-zero singular values are orthonormal.
        const double cut = 1e-12 * ours[0];
        EXPECT_LT(orthonormalityError(d.u, m, n, [&](int32_t k) { return d.w[size_t(k)] > cut; }), 1e-13)
            << m << " x " << n;
    }
#endif
}

TEST(Svd, DegenerateMatrices)
{
    // Rank 1: one singular value |p| |q|, the others zero.
    const int32_t m = 6, n = 4;
    const double p[m] = {1, -2, 3, 0.5, 4, -1}, q[n] = {2, 0, -1, 3};
    Matrix rank1(size_t(m) * n);
    for (int32_t i = 0; i < m; ++i)
        for (int32_t j = 0; j < n; ++j)
            rank1[size_t(i) * n + j] = p[i] * q[j];
    Decomposition d = decompose(rank1, m, n);
    ASSERT_EQ(d.code, kSvdSuccess);
    const std::vector<double> w = sortedDescending(d.w);
    EXPECT_NEAR(w[0], std::sqrt(31.25) * std::sqrt(14.0), 1e-13);
    for (int32_t k = 1; k < n; ++k)
        EXPECT_LT(w[size_t(k)], 1e-14);
    EXPECT_LT(reconstructionError(rank1, d, m, n), 1e-13);

    // The zero matrix: all singular values zero, V orthonormal.
    const Matrix zero(size_t(5) * 3, 0.0);
    d = decompose(zero, 5, 3);
    ASSERT_EQ(d.code, kSvdSuccess);
    EXPECT_EQ(d.w, std::vector<double>(3, 0.0));
    EXPECT_LT(orthonormalityError(d.v, 3, 3, [](int32_t) { return true; }), 1e-15);

    // One row.
    const Matrix row = {3.0, 4.0};
    d = decompose(row, 1, 2);
    ASSERT_EQ(d.code, kSvdSuccess);
    EXPECT_EQ(sortedDescending(d.w), (std::vector<double>{5.0, 0.0}));
    EXPECT_LT(reconstructionError(row, d, 1, 2), 1e-15);
}

TEST(Svd, DiagonalWithANegativeEntry)
{
    // The sign leaves W: both magnitudes, U W V^T is A again, and the columns' signs of U and V
    // differ exactly where A's entry is negative.
    const Matrix a = {3.0, 0.0, 0.0, -2.0};
    const Decomposition d = decompose(a, 2, 2);
    ASSERT_EQ(d.code, kSvdSuccess);
    EXPECT_EQ(d.w, (std::vector<double>{3.0, 2.0}));
    EXPECT_EQ(reconstructionError(a, d, 2, 2), 0.0);
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(std::fabs(d.u[size_t(k) * 2 + size_t(k)]), 1.0);
        EXPECT_EQ(std::fabs(d.v[size_t(k) * 2 + size_t(k)]), 1.0);
        EXPECT_EQ(d.u[size_t(k) * 2 + size_t(k)] * d.v[size_t(k) * 2 + size_t(k)], k == 0 ? 1.0 : -1.0);
    }
}

TEST(Svd, OrthogonalInputComesBackAsUVt)
{
    // A rotation about an oblique axis: W is all ones and U V^T the input.
    const double c = std::cos(0.7), s = std::sin(0.7);
    const double axis[3] = {1.0 / std::sqrt(3.0), 1.0 / std::sqrt(3.0), 1.0 / std::sqrt(3.0)};
    Matrix r(9);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            double cross = 0.0;
            if (i != j) {
                const int k = 3 - i - j;
                cross = ((j - i + 3) % 3 == 1 ? -1.0 : 1.0) * axis[k];
            }
            r[size_t(i) * 3 + j] = (i == j ? c : 0.0) + (1.0 - c) * axis[i] * axis[j] + s * cross;
        }
    }
    const Decomposition d = decompose(r, 3, 3);
    ASSERT_EQ(d.code, kSvdSuccess);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(d.w[size_t(i)], 1.0, 1e-15);
        for (int j = 0; j < 3; ++j) {
            double sum = 0.0;
            for (int k = 0; k < 3; ++k)
                sum += d.u[size_t(i) * 3 + k] * d.v[size_t(j) * 3 + k];
            EXPECT_NEAR(sum, r[size_t(i) * 3 + j], 1e-15);
        }
    }
}

TEST(Svd, RefusesWhatItCannotDecompose)
{
    const Matrix good = randomMatrix(4, 3, 7);
    for (double bad : {NAN, INFINITY, -INFINITY}) {
        Matrix a = good;
        a[5] = bad;
        const Matrix before = a;
        Decomposition d = decompose(a, 4, 3);
        EXPECT_EQ(d.code, kSvdRefused);
        EXPECT_EQ(std::memcmp(d.u.data(), before.data(), before.size() * sizeof(double)), 0);
    }
    std::vector<double> a(12, 1.0), w(3), v(9), work(3);
    EXPECT_EQ(computeSvd(a.data(), w.data(), v.data(), work.data(), 0, 3), kSvdRefused);
    EXPECT_EQ(computeSvd(a.data(), w.data(), v.data(), work.data(), 4, 0), kSvdRefused);
    EXPECT_EQ(computeSvd(a.data(), w.data(), v.data(), work.data(), -4, 3), kSvdRefused);
    EXPECT_EQ(computeSvd(nullptr, w.data(), v.data(), work.data(), 4, 3), kSvdRefused);
}

TEST(Svd, IterationLimitGrowsWithTheRowsFrom120)
{
    EXPECT_EQ(svdIterationLimit(100), 30);
    EXPECT_EQ(svdIterationLimit(119), 30);
    EXPECT_EQ(svdIterationLimit(120), 30);
    EXPECT_EQ(svdIterationLimit(150), 37);
    EXPECT_EQ(svdIterationLimit(400), 100);
}

TEST(HypotSafe, NeitherOverflowsNorUnderflows)
{
    EXPECT_EQ(hypotSafe(0.0, 0.0), 0.0);
    EXPECT_EQ(hypotSafe(3.0, -4.0), 5.0);
    EXPECT_EQ(hypotSafe(-4.0, 3.0), 5.0);
    EXPECT_DOUBLE_EQ(hypotSafe(3e300, 4e300), 5e300);
    EXPECT_DOUBLE_EQ(hypotSafe(3e-300, 4e-300), 5e-300);
    EXPECT_EQ(hypotSafe(0.0, -7.0), 7.0);
}

TEST(HypotSafe, ANotANumberInEitherPlaceComesOut)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const double other : {0.0, -0.0, 1.0, -3e300, 3e-300}) {
        EXPECT_TRUE(std::isnan(hypotSafe(nan, other))) << other;
        EXPECT_TRUE(std::isnan(hypotSafe(other, nan))) << other;
        EXPECT_TRUE(std::isnan(hypotSafe(-nan, other))) << other;
    }
    EXPECT_TRUE(std::isnan(hypotSafe(nan, nan)));
}
