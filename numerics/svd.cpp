#include "numerics/svd.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>

namespace {
// A bidiagonal entry counts as zero below this fraction of the bidiagonal form's norm.
constexpr double kNegligible = 2.23e-16;

inline double withSignOf(double magnitude, double sign)
{
    return sign >= 0.0 ? std::fabs(magnitude) : -std::fabs(magnitude);
}

// Rotates the column pair (p, q) of a column-major matrix with `rows` rows:
// p' = p c + q s, q' = q c - p s.
inline void rotateColumns(double* p, double* q, int32_t rows, double c, double s)
{
    for (int32_t r = 0; r < rows; ++r) {
        const double y = p[r];
        const double z = q[r];
        p[r] = y * c + z * s;
        q[r] = z * c - y * s;
    }
}
}  // namespace

double hypotSafe(double a, double b)
{
    const double absA = std::fabs(a);
    const double absB = std::fabs(b);
    if (absA > absB) {
        const double r = absB / absA;
        return absA * std::sqrt(1.0 + r * r);
    }
    // Both 0, or a is not a number: that must come out, not vanish into a 0.
    if (absB == 0.0)
        return absA;
    const double r = absA / absB;
    return absB * std::sqrt(1.0 + r * r);
}

int32_t svdIterationLimit(int32_t m)
{
    return m < 120 ? 30 : m / 4;
}

int32_t computeSvd(double* a, double* w, double* v, double* work, int32_t m, int32_t n)
{
    if (!a || !w || !v || !work || m < 1 || n < 1)
        return kSvdRefused;
    const size_t mn = size_t(m) * size_t(n);
    for (size_t i = 0; i < mn; ++i) {
        if (!std::isfinite(a[i]))
            return kSvdRefused;
    }

    // The algorithm works on columns throughout, so it runs on column-major copies of A and V;
    // where it walks along rows the loops are interchanged so that each dot product still adds its
    // terms in the same order. The result is bit for bit that of the row-major form.
    const size_t nn = size_t(n) * size_t(n);
    const size_t scratchSize = size_t(std::max(m, n));
    double* block = new (std::nothrow) double[mn + nn + scratchSize];
    if (!block)
        return kSvdNoMemory;
    double* const ac = block;
    double* const vc = block + mn;
    double* const scratch = vc + nn;
    for (int32_t r = 0; r < m; ++r) {
        for (int32_t c = 0; c < n; ++c)
            ac[size_t(c) * m + r] = a[size_t(r) * n + c];
    }
    auto A = [&](int32_t r, int32_t c) -> double& { return ac[size_t(c) * m + r]; };
    auto V = [&](int32_t r, int32_t c) -> double& { return vc[size_t(c) * n + r]; };
    auto col = [&](int32_t c) { return ac + size_t(c) * m; };
    auto vcol = [&](int32_t c) { return vc + size_t(c) * n; };
    double* const e = work;  // superdiagonal

    // Householder reduction to bidiagonal form: alternately zero a column below the diagonal and a
    // row right of the superdiagonal.
    double g = 0.0, scale = 0.0, anorm = 0.0;
    int32_t l = 0;
    for (int32_t i = 0; i < n; ++i) {
        l = i + 1;
        e[i] = scale * g;
        g = 0.0;
        double s = 0.0;
        scale = 0.0;
        if (i < m) {
            double* ci = col(i);
            for (int32_t k = i; k < m; ++k)
                scale += std::fabs(ci[k]);
            if (scale != 0.0) {
                for (int32_t k = i; k < m; ++k) {
                    ci[k] /= scale;
                    s += ci[k] * ci[k];
                }
                double f = ci[i];
                g = -withSignOf(std::sqrt(s), f);
                const double h = f * g - s;
                ci[i] = f - g;
                for (int32_t j = l; j < n; ++j) {
                    double* cj = col(j);
                    double sum = 0.0;
                    for (int32_t k = i; k < m; ++k)
                        sum += ci[k] * cj[k];
                    f = sum / h;
                    for (int32_t k = i; k < m; ++k)
                        cj[k] += f * ci[k];
                }
                for (int32_t k = i; k < m; ++k)
                    ci[k] *= scale;
            }
        }
        w[i] = scale * g;
        g = 0.0;
        s = 0.0;
        scale = 0.0;
        if (i < m && i != n - 1) {
            for (int32_t k = l; k < n; ++k)
                scale += std::fabs(A(i, k));
            if (scale != 0.0) {
                for (int32_t k = l; k < n; ++k) {
                    A(i, k) /= scale;
                    s += A(i, k) * A(i, k);
                }
                const double f = A(i, l);
                g = -withSignOf(std::sqrt(s), f);
                const double h = f * g - s;
                A(i, l) = f - g;
                for (int32_t k = l; k < n; ++k)
                    e[k] = A(i, k) / h;
                // Row j's dot product with row i, for all rows j > i at once.
                std::fill(scratch + l, scratch + m, 0.0);
                for (int32_t k = l; k < n; ++k) {
                    const double aik = A(i, k);
                    const double* ck = col(k);
                    for (int32_t j = l; j < m; ++j)
                        scratch[j] += ck[j] * aik;
                }
                for (int32_t k = l; k < n; ++k) {
                    const double ek = e[k];
                    double* ck = col(k);
                    for (int32_t j = l; j < m; ++j)
                        ck[j] += scratch[j] * ek;
                }
                for (int32_t k = l; k < n; ++k)
                    A(i, k) *= scale;
            }
        }
        anorm = std::max(anorm, std::fabs(w[i]) + std::fabs(e[i]));
    }

    // Accumulate the right-hand transformations into V.
    for (int32_t i = n - 1; i >= 0; --i) {
        if (i < n - 1) {
            if (g != 0.0) {
                double* vi = vcol(i);
                // Divide twice to avoid underflow.
                for (int32_t j = l; j < n; ++j)
                    vi[j] = (A(i, j) / A(i, l)) / g;
                for (int32_t k = l; k < n; ++k)
                    scratch[k] = A(i, k);
                for (int32_t j = l; j < n; ++j) {
                    double* vj = vcol(j);
                    double sum = 0.0;
                    for (int32_t k = l; k < n; ++k)
                        sum += scratch[k] * vj[k];
                    for (int32_t k = l; k < n; ++k)
                        vj[k] += sum * vi[k];
                }
            }
            for (int32_t j = l; j < n; ++j) {
                V(i, j) = 0.0;
                V(j, i) = 0.0;
            }
        }
        V(i, i) = 1.0;
        g = e[i];
        l = i;
    }

    // Accumulate the left-hand transformations into U (in place of A).
    for (int32_t i = std::min(m, n) - 1; i >= 0; --i) {
        l = i + 1;
        g = w[i];
        for (int32_t j = l; j < n; ++j)
            A(i, j) = 0.0;
        double* ci = col(i);
        if (g != 0.0) {
            g = 1.0 / g;
            for (int32_t j = l; j < n; ++j) {
                double* cj = col(j);
                double sum = 0.0;
                for (int32_t k = l; k < m; ++k)
                    sum += ci[k] * cj[k];
                const double f = (sum / ci[i]) * g;
                for (int32_t k = i; k < m; ++k)
                    cj[k] += f * ci[k];
            }
            for (int32_t j = i; j < m; ++j)
                ci[j] *= g;
        } else {
            for (int32_t j = i; j < m; ++j)
                ci[j] = 0.0;
        }
        ci[i] += 1.0;
    }

    // Diagonalise the bidiagonal form with implicitly shifted QR steps.
    const double tolerance = kNegligible * anorm;
    const int32_t limit = svdIterationLimit(m);
    int32_t result = kSvdSuccess;
    for (int32_t k = n - 1; k >= 0 && result == kSvdSuccess; --k) {
        for (int32_t its = 1; its <= limit; ++its) {
            // Look for a negligible superdiagonal entry (e[0] is zero) or diagonal entry.
            bool cancel = true;
            int32_t nm = 0;
            for (l = k; l >= 0; --l) {
                nm = l - 1;
                if (l == 0 || std::fabs(e[l]) <= tolerance) {
                    cancel = false;
                    break;
                }
                if (std::fabs(w[nm]) <= tolerance)
                    break;
            }
            if (cancel) {
                // w[nm] is negligible: chase e[l] out with rotations from the left.
                double c = 0.0, s = 1.0;
                for (int32_t i = l; i <= k; ++i) {
                    const double f = s * e[i];
                    e[i] = c * e[i];
                    if (std::fabs(f) <= tolerance)
                        break;
                    g = w[i];
                    double h = hypotSafe(f, g);
                    w[i] = h;
                    h = 1.0 / h;
                    c = g * h;
                    s = -f * h;
                    rotateColumns(col(nm), col(i), m, c, s);
                }
            }
            double z = w[k];
            if (l == k) {
                if (z < 0.0) {
                    w[k] = -z;
                    double* vk = vcol(k);
                    for (int32_t j = 0; j < n; ++j)
                        vk[j] = -vk[j];
                }
                break;
            }
            if (its == limit) {
                result = kSvdNoConvergence;
                break;
            }
            // Shift from the bottom 2 x 2 minor.
            double x = w[l];
            nm = k - 1;
            double y = w[nm];
            g = e[nm];
            double h = e[k];
            double f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
            g = hypotSafe(f, 1.0);
            f = ((x - z) * (x + z) + h * ((y / (f + withSignOf(g, f))) - h)) / x;
            // Next QR transformation.
            double c = 1.0, s = 1.0;
            for (int32_t j = l; j <= nm; ++j) {
                const int32_t i = j + 1;
                g = e[i];
                y = w[i];
                h = s * g;
                g = c * g;
                z = hypotSafe(f, h);
                e[j] = z;
                c = f / z;
                s = h / z;
                f = x * c + g * s;
                g = g * c - x * s;
                h = y * s;
                y *= c;
                rotateColumns(vcol(j), vcol(i), n, c, s);
                z = hypotSafe(f, h);
                w[j] = z;
                if (z != 0.0) {
                    z = 1.0 / z;
                    c = f * z;
                    s = h * z;
                }
                f = c * g + s * y;
                x = c * y - s * g;
                rotateColumns(col(j), col(i), m, c, s);
            }
            e[l] = 0.0;
            e[k] = f;
            w[k] = x;
        }
    }

    for (int32_t r = 0; r < m; ++r) {
        for (int32_t c = 0; c < n; ++c)
            a[size_t(r) * n + c] = ac[size_t(c) * m + r];
    }
    for (int32_t r = 0; r < n; ++r) {
        for (int32_t c = 0; c < n; ++c)
            v[size_t(r) * n + c] = vc[size_t(c) * n + r];
    }
    delete[] block;
    return result;
}
