#include "numerics/lm_solver.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <new>

namespace {
// Machine precision as these routines take it: finer than the double epsilon, so that the
// tolerance tests and the column-norm refresh in qrFactorize act later.
constexpr double kMachinePrecision = 5.55e-17;
constexpr double kSmallestNormal = 2.2250738585072014e-308;

// The trust-region constants of the method.
constexpr double kP1 = 0.1;
constexpr double kP5 = 0.5;
constexpr double kP25 = 0.25;
constexpr double kP75 = 0.75;
constexpr double kP0001 = 1.0e-4;
constexpr double kP001 = 0.001;
constexpr double kP05 = 0.05;
constexpr int kMaxParameterIterations = 10;

template <typename T>
T* allocateArray(int64_t count)
{
    if (count < 0 || uint64_t(count) > SIZE_MAX / sizeof(T))
        return nullptr;
    return new (std::nothrow) T[size_t(count)];
}

// Element (row, col) of a column-major matrix.
inline double& at(double* a, int32_t lda, int32_t row, int32_t col)
{
    return a[size_t(col) * size_t(lda) + size_t(row)];
}
}  // namespace

double euclideanNorm(int32_t n, const double* x)
{
    // Three sums keep squares of very small and very large entries from under- or overflowing;
    // the small and large ones are scaled by their largest magnitude.
    constexpr double kSmall = 1e-160;
    constexpr double kLarge = 1e150;
    double largeSum = 0.0, middleSum = 0.0, smallSum = 0.0;
    double largeMax = 0.0, smallMax = 0.0;
    if (n <= 0)
        return 0.0;
    const double largeBound = kLarge / double(n);
    for (int32_t i = 0; i < n; ++i) {
        const double v = std::fabs(x[i]);
        if (v > kSmall && v < largeBound) {
            middleSum += v * v;
        } else if (v <= kSmall) {
            if (v > smallMax) {
                const double r = smallMax / v;
                smallSum = 1.0 + smallSum * (r * r);
                smallMax = v;
            } else if (v != 0.0) {
                const double r = v / smallMax;
                smallSum += r * r;
            }
        } else {
            if (v > largeMax) {
                const double r = largeMax / v;
                largeSum = 1.0 + largeSum * (r * r);
                largeMax = v;
            } else {
                const double r = v / largeMax;
                largeSum += r * r;
            }
        }
    }
    if (largeSum != 0.0)
        return largeMax * std::sqrt(largeSum + (middleSum / largeMax) / largeMax);
    if (middleSum != 0.0) {
        if (middleSum >= smallMax)
            return std::sqrt(middleSum * (1.0 + (smallMax / middleSum) * (smallMax * smallSum)));
        return std::sqrt(smallMax * ((middleSum / smallMax) + (smallMax * smallSum)));
    }
    return smallMax * std::sqrt(smallSum);
}

void qrFactorize(int32_t m, int32_t n, double* a, int32_t lda, int32_t* pivots, double* rdiag,
                 double* acnorm, double* work)
{
    for (int32_t j = 0; j < n; ++j) {
        acnorm[j] = euclideanNorm(m, &at(a, lda, 0, j));
        rdiag[j] = acnorm[j];
        work[j] = rdiag[j];
        pivots[j] = j;
    }
    const int32_t steps = std::min(m, n);
    for (int32_t j = 0; j < steps; ++j) {
        // Bring the column of largest remaining norm to position j.
        int32_t kmax = j;
        for (int32_t k = j; k < n; ++k) {
            if (rdiag[k] > rdiag[kmax])
                kmax = k;
        }
        if (kmax != j) {
            double* cj = &at(a, lda, 0, j);
            double* ck = &at(a, lda, 0, kmax);
            for (int32_t i = 0; i < m; ++i)
                std::swap(cj[i], ck[i]);
            rdiag[kmax] = rdiag[j];
            work[kmax] = work[j];
            std::swap(pivots[j], pivots[kmax]);
        }

        // Householder reflection that zeroes column j below the diagonal.
        double* cj = &at(a, lda, 0, j);
        double ajnorm = euclideanNorm(m - j, cj + j);
        if (ajnorm != 0.0) {
            if (cj[j] < 0.0)
                ajnorm = -ajnorm;
            for (int32_t i = j; i < m; ++i)
                cj[i] /= ajnorm;
            cj[j] += 1.0;
            for (int32_t k = j + 1; k < n; ++k) {
                double* ck = &at(a, lda, 0, k);
                double sum = 0.0;
                for (int32_t i = j; i < m; ++i)
                    sum += cj[i] * ck[i];
                const double t = sum / cj[j];
                for (int32_t i = j; i < m; ++i)
                    ck[i] -= t * cj[i];
                // Downdate the remaining norm; recompute it once cancellation has eaten its digits.
                if (rdiag[k] != 0.0) {
                    const double q = ck[j] / rdiag[k];
                    rdiag[k] *= std::sqrt(std::max(0.0, 1.0 - q * q));
                    const double r = rdiag[k] / work[k];
                    if (kP05 * (r * r) <= kMachinePrecision) {
                        rdiag[k] = euclideanNorm(m - j - 1, ck + j + 1);
                        work[k] = rdiag[k];
                    }
                }
            }
        }
        rdiag[j] = -ajnorm;
    }
}

void qrSolve(int32_t n, double* r, int32_t ldr, const int32_t* pivots, const double* diag,
             const double* qtb, double* x, double* sdiag, double* work)
{
    // Copy R's upper triangle into the lower one, keep R's diagonal in x and Q^T b in work.
    for (int32_t j = 0; j < n; ++j) {
        for (int32_t i = j; i < n; ++i)
            at(r, ldr, i, j) = at(r, ldr, j, i);
        x[j] = at(r, ldr, j, j);
        work[j] = qtb[j];
    }

    // Eliminate the diagonal matrix D row by row with Givens rotations, building S in the lower
    // triangle and sdiag.
    for (int32_t j = 0; j < n; ++j) {
        const double dj = diag[pivots[j]];
        if (dj != 0.0) {
            for (int32_t k = j; k < n; ++k)
                sdiag[k] = 0.0;
            sdiag[j] = dj;
            double qtbpj = 0.0;
            for (int32_t k = j; k < n; ++k) {
                if (sdiag[k] == 0.0)
                    continue;
                const double rkk = at(r, ldr, k, k);
                double c, s;
                if (std::fabs(rkk) < std::fabs(sdiag[k])) {
                    const double cotan = rkk / sdiag[k];
                    s = kP5 / std::sqrt(kP25 + kP25 * (cotan * cotan));
                    c = s * cotan;
                } else {
                    const double tan = sdiag[k] / rkk;
                    c = kP5 / std::sqrt(kP25 + kP25 * (tan * tan));
                    s = c * tan;
                }
                at(r, ldr, k, k) = c * rkk + s * sdiag[k];
                const double t = c * work[k] + s * qtbpj;
                qtbpj = -s * work[k] + c * qtbpj;
                work[k] = t;
                double* ck = &at(r, ldr, 0, k);
                for (int32_t i = k + 1; i < n; ++i) {
                    const double u = c * ck[i] + s * sdiag[i];
                    sdiag[i] = -s * ck[i] + c * sdiag[i];
                    ck[i] = u;
                }
            }
        }
        sdiag[j] = at(r, ldr, j, j);
        at(r, ldr, j, j) = x[j];
    }

    // Back substitution in S z = work; a singular S gives a least-squares solution with the
    // trailing components zero.
    int32_t rank = n;
    for (int32_t j = 0; j < n; ++j) {
        if (sdiag[j] == 0.0 && rank == n)
            rank = j;
        if (rank < n)
            work[j] = 0.0;
    }
    for (int32_t j = rank - 1; j >= 0; --j) {
        double sum = 0.0;
        for (int32_t i = j + 1; i < rank; ++i)
            sum += at(r, ldr, i, j) * work[i];
        work[j] = (work[j] - sum) / sdiag[j];
    }
    for (int32_t j = 0; j < n; ++j)
        x[pivots[j]] = work[j];
}

void lmParameter(int32_t n, double* r, int32_t ldr, const int32_t* pivots, const double* diag,
                 const double* qtb, double delta, double* par, double* x, double* sdiag,
                 double* work1, double* work2)
{
    // Gauss-Newton direction; for a rank-deficient R a least-squares one.
    int32_t rank = n;
    for (int32_t j = 0; j < n; ++j) {
        work1[j] = qtb[j];
        if (at(r, ldr, j, j) == 0.0 && rank == n)
            rank = j;
        if (rank < n)
            work1[j] = 0.0;
    }
    for (int32_t j = rank - 1; j >= 0; --j) {
        work1[j] /= at(r, ldr, j, j);
        const double t = work1[j];
        for (int32_t i = 0; i < j; ++i)
            work1[i] -= at(r, ldr, i, j) * t;
    }
    for (int32_t j = 0; j < n; ++j)
        x[pivots[j]] = work1[j];

    int iter = 0;
    for (int32_t j = 0; j < n; ++j)
        work2[j] = diag[j] * x[j];
    double dxnorm = euclideanNorm(n, work2);
    double fp = dxnorm - delta;
    if (fp <= kP1 * delta) {
        *par = 0.0;
        return;
    }

    // Lower bound from the Newton step at par = 0 (only when R has full rank).
    double parl = 0.0;
    if (rank >= n) {
        for (int32_t j = 0; j < n; ++j) {
            const int32_t l = pivots[j];
            work1[j] = diag[l] * (work2[l] / dxnorm);
        }
        for (int32_t j = 0; j < n; ++j) {
            double sum = 0.0;
            for (int32_t i = 0; i < j; ++i)
                sum += at(r, ldr, i, j) * work1[i];
            work1[j] = (work1[j] - sum) / at(r, ldr, j, j);
        }
        const double t = euclideanNorm(n, work1);
        parl = fp / delta / t / t;
    }

    // Upper bound from the scaled gradient.
    for (int32_t j = 0; j < n; ++j) {
        double sum = 0.0;
        for (int32_t i = 0; i <= j; ++i)
            sum += at(r, ldr, i, j) * qtb[i];
        work1[j] = sum / diag[pivots[j]];
    }
    const double gnorm = euclideanNorm(n, work1);
    double paru = gnorm / delta;
    if (paru == 0.0)
        paru = kSmallestNormal / std::min(delta, kP1);

    *par = std::max(*par, parl);
    *par = std::min(*par, paru);
    if (*par == 0.0)
        *par = gnorm / dxnorm;

    for (;;) {
        ++iter;
        if (*par == 0.0)
            *par = std::max(kSmallestNormal, kP001 * paru);
        const double sq = std::sqrt(*par);
        for (int32_t j = 0; j < n; ++j)
            work1[j] = sq * diag[j];
        qrSolve(n, r, ldr, pivots, work1, qtb, x, sdiag, work2);
        for (int32_t j = 0; j < n; ++j)
            work2[j] = diag[j] * x[j];
        dxnorm = euclideanNorm(n, work2);
        const double previous = fp;
        fp = dxnorm - delta;
        // Close enough to delta, or fp has gone from negative to more negative at parl 0, or
        // the iteration limit.
        if (std::fabs(fp) <= kP1 * delta || (parl == 0.0 && fp <= previous && previous < 0.0) ||
            iter == kMaxParameterIterations)
            break;

        // Newton correction.
        for (int32_t j = 0; j < n; ++j) {
            const int32_t l = pivots[j];
            work1[j] = diag[l] * (work2[l] / dxnorm);
        }
        for (int32_t j = 0; j < n; ++j) {
            work1[j] /= sdiag[j];
            const double t = work1[j];
            for (int32_t i = j + 1; i < n; ++i)
                work1[i] -= at(r, ldr, i, j) * t;
        }
        const double t = euclideanNorm(n, work1);
        const double parc = fp / delta / t / t;
        if (fp > 0.0)
            parl = std::max(parl, *par);
        if (fp < 0.0)
            paru = std::min(paru, *par);
        *par = std::max(parl, *par + parc);
    }
}

LmSolver::LmSolver() = default;

LmSolver::~LmSolver()
{
    release();
}

void LmSolver::release()
{
    delete[] pivots_;
    delete[] minSteps_;
    delete[] x_;
    delete[] fvec_;
    delete[] diag_;
    delete[] fjac_;
    delete[] qtf_;
    delete[] wa1_;
    delete[] wa2_;
    delete[] wa3_;
    delete[] wa4_;
    pivots_ = nullptr;
    minSteps_ = x_ = fvec_ = diag_ = fjac_ = qtf_ = wa1_ = wa2_ = wa3_ = wa4_ = nullptr;
    n_ = m_ = 0;
    started_ = false;
    haveResiduals_ = false;
}

int32_t LmSolver::allocate(int32_t n, int32_t m)
{
    release();
    if (n < 1 || m < n)
        return status_ = kLmBadInput;
    pivots_ = allocateArray<int32_t>(n);
    minSteps_ = allocateArray<double>(n);
    x_ = allocateArray<double>(n);
    fvec_ = allocateArray<double>(m);
    diag_ = allocateArray<double>(n);
    fjac_ = allocateArray<double>(int64_t(m) * int64_t(n));
    qtf_ = allocateArray<double>(n);
    wa1_ = allocateArray<double>(n);
    wa2_ = allocateArray<double>(n);
    wa3_ = allocateArray<double>(n);
    wa4_ = allocateArray<double>(m);
    if (!pivots_ || !minSteps_ || !x_ || !fvec_ || !diag_ || !fjac_ || !qtf_ || !wa1_ || !wa2_ ||
        !wa3_ || !wa4_) {
        release();
        return status_ = kLmNoMemory;
    }
    n_ = n;
    m_ = m;
    std::fill(x_, x_ + n, 0.0);
    std::fill(minSteps_, minSteps_ + n, 0.0);
    std::fill(diag_, diag_ + n, 0.0);
    return status_ = kLmSuccess;
}

int32_t LmSolver::start(const double* x0, const double* steps, LmResidualFunction callback,
                        void* context)
{
    started_ = false;
    if (!x_ || n_ < 1 || m_ < n_ || !(ftol >= 0.0) || !(xtol >= 0.0) || !(gtol >= 0.0) ||
        evaluationLimitFactor < 1 || !(stepBoundFactor > 0.0) || !callback)
        return status_ = kLmBadInput;
    if (mode == 2) {
        for (int32_t j = 0; j < n_; ++j) {
            if (!(diag_[j] > 0.0))
                return status_ = kLmBadInput;
        }
    }
    for (int32_t j = 0; j < n_; ++j) {
        x_[j] = x0 ? x0[j] : 0.0;
        minSteps_[j] = steps ? steps[j] : 0.0;
    }
    callback_ = callback;
    context_ = context;
    // Saturates instead of overflowing for very large factors.
    maxEvaluations_ = int32_t(std::min<int64_t>(int64_t(n_ + 1) * evaluationLimitFactor, INT32_MAX));
    iterations_ = 0;
    evaluations_ = 0;
    xnorm_ = 0.0;
    delta_ = 0.0;
    par_ = 0.0;
    haveResiduals_ = false;
    started_ = true;
    return status_ = kLmSuccess;
}

int32_t LmSolver::finish(int32_t code)
{
    status_ = code;
    return (code >= kLmConvergedReduction && code <= kLmConvergedGradient) ? kLmSuccess : code;
}

int32_t LmSolver::callbackResult(int32_t code)
{
    return finish(code == kLmContinue ? kLmCallbackReturnedContinue : code);
}

int32_t LmSolver::evaluate(const double* x, double* residuals)
{
    ++evaluations_;
    return callback_(x, residuals, context_);
}

int32_t LmSolver::minimize()
{
    if (!started_ || !x_)
        return status_ = kLmBadInput;
    const int32_t n = n_;
    const int32_t m = m_;

    if (!haveResiduals_) {
        if (const int32_t rc = evaluate(x_, fvec_))
            return callbackResult(rc);
        fnorm_ = euclideanNorm(m, fvec_);
        haveResiduals_ = true;
    }
    if (fnorm_ <= kSmallestNormal)
        return finish(kLmConvergedReduction);

    // Forward-difference Jacobian, one column per unknown.
    const double eps = std::sqrt(std::max(epsfcn, kMachinePrecision));
    for (int32_t j = 0; j < n; ++j) {
        const double xj = x_[j];
        double h = eps * std::fabs(xj) + minSteps_[j];
        if (std::fabs(h) <= kSmallestNormal)
            h = eps;
        x_[j] = xj + h;
        const int32_t rc = evaluate(x_, wa4_);
        x_[j] = xj;
        if (rc)
            return callbackResult(rc);
        double* column = fjac_ + size_t(j) * size_t(m);
        for (int32_t i = 0; i < m; ++i)
            column[i] = (wa4_[i] - fvec_[i]) / h;
    }

    qrFactorize(m, n, fjac_, m, pivots_, wa1_, wa2_, wa3_);

    // The first iteration fixes the scaling and the initial step bound.
    if (iterations_ == 0) {
        if (mode != 2) {
            for (int32_t j = 0; j < n; ++j)
                diag_[j] = wa2_[j] == 0.0 ? 1.0 : wa2_[j];
        }
        for (int32_t j = 0; j < n; ++j)
            wa3_[j] = diag_[j] * x_[j];
        xnorm_ = euclideanNorm(n, wa3_);
        delta_ = stepBoundFactor * xnorm_;
        if (delta_ == 0.0)
            delta_ = stepBoundFactor;
    }

    // Q^T times the residuals; the first n entries go to qtf, R's diagonal back in place.
    std::copy(fvec_, fvec_ + m, wa4_);
    for (int32_t j = 0; j < n; ++j) {
        double* column = fjac_ + size_t(j) * size_t(m);
        if (column[j] != 0.0) {
            double sum = 0.0;
            for (int32_t i = j; i < m; ++i)
                sum += column[i] * wa4_[i];
            const double t = -sum / column[j];
            for (int32_t i = j; i < m; ++i)
                wa4_[i] += column[i] * t;
        }
        column[j] = wa1_[j];
        qtf_[j] = wa4_[j];
    }

    // Largest cosine between the residuals and a scaled Jacobian column.
    double gnorm = 0.0;
    if (fnorm_ != 0.0) {
        for (int32_t j = 0; j < n; ++j) {
            const int32_t l = pivots_[j];
            if (wa2_[l] != 0.0) {
                const double* column = fjac_ + size_t(j) * size_t(m);
                double sum = 0.0;
                for (int32_t i = 0; i <= j; ++i)
                    sum += column[i] * (qtf_[i] / fnorm_);
                gnorm = std::max(gnorm, std::fabs(sum / wa2_[l]));
            }
        }
    }
    if (gnorm <= gtol)
        return finish(kLmConvergedGradient);

    if (mode != 2) {
        for (int32_t j = 0; j < n; ++j)
            diag_[j] = std::max(diag_[j], wa2_[j]);
    }

    // Trial steps until one reduces the residuals enough.
    do {
        lmParameter(n, fjac_, m, pivots_, diag_, qtf_, delta_, &par_, wa1_, wa2_, wa3_, wa4_);
        for (int32_t j = 0; j < n; ++j) {
            wa1_[j] = -wa1_[j];
            wa2_[j] = x_[j] + wa1_[j];
            wa3_[j] = diag_[j] * wa1_[j];
        }
        pnorm_ = euclideanNorm(n, wa3_);
        if (iterations_ == 0)
            delta_ = std::min(delta_, pnorm_);

        if (const int32_t rc = evaluate(wa2_, wa4_))
            return callbackResult(rc);
        const double fnorm1 = euclideanNorm(m, wa4_);

        double actred = -1.0;
        if (kP1 * fnorm1 < fnorm_) {
            const double q = fnorm1 / fnorm_;
            actred = 1.0 - q * q;
        }

        // Predicted reduction and directional derivative of the linear model.
        for (int32_t j = 0; j < n; ++j) {
            wa3_[j] = 0.0;
            const double t = wa1_[pivots_[j]];
            const double* column = fjac_ + size_t(j) * size_t(m);
            for (int32_t i = 0; i <= j; ++i)
                wa3_[i] += column[i] * t;
        }
        const double temp1 = euclideanNorm(n, wa3_) / fnorm_;
        const double temp2 = (std::sqrt(par_) * pnorm_) / fnorm_;
        prered_ = temp1 * temp1 + temp2 * temp2 / kP5;
        const double dirder = -(temp1 * temp1 + temp2 * temp2);

        ratio_ = 0.0;
        if (prered_ != 0.0)
            ratio_ = actred / prered_;

        if (ratio_ <= kP25) {
            double t;
            if (actred >= 0.0)
                t = kP5;
            else
                t = kP5 * dirder / (dirder + kP5 * actred);
            if (kP1 * fnorm1 >= fnorm_ || t < kP1)
                t = kP1;
            delta_ = t * std::min(delta_, pnorm_ / kP1);
            par_ /= t;
        } else if (par_ == 0.0 || ratio_ >= kP75) {
            delta_ = pnorm_ / kP5;
            par_ = kP5 * par_;
        }

        if (ratio_ >= kP0001) {
            for (int32_t j = 0; j < n; ++j) {
                x_[j] = wa2_[j];
                wa2_[j] = diag_[j] * x_[j];
            }
            std::copy(wa4_, wa4_ + m, fvec_);
            xnorm_ = euclideanNorm(n, wa2_);
            fnorm_ = fnorm1;
            ++iterations_;
        }

        // Later tests override earlier ones, so the most specific reason is reported.
        const bool reductionSmall = std::fabs(actred) <= ftol && prered_ <= ftol && kP5 * ratio_ <= 1.0;
        int32_t code = 0;
        if (reductionSmall)
            code = kLmConvergedReduction;
        if (delta_ <= xtol * xnorm_)
            code = reductionSmall ? kLmConvergedBoth : kLmConvergedStep;
        if (code)
            return finish(code);
        if (evaluations_ >= maxEvaluations_)
            code = kLmEvaluationLimit;
        if (std::fabs(actred) <= kMachinePrecision && prered_ <= kMachinePrecision && kP5 * ratio_ <= 1.0)
            code = kLmFtolTooSmall;
        if (delta_ <= kMachinePrecision * xnorm_)
            code = kLmXtolTooSmall;
        if (gnorm <= kMachinePrecision)
            code = kLmGtolTooSmall;
        if (code)
            return finish(code);
    } while (ratio_ < kP0001);

    return finish(kLmContinue);
}
