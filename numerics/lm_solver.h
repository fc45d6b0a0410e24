#pragma once

#include <cstdint>

// Residual callback: fills residuals[0 .. m - 1] for the n unknowns in x. Zero means success; any
// other value ends the solver's current call (see LmSolver::minimize).
using LmResidualFunction = int32_t (*)(const double* x, double* residuals, void* context);

// Result and status codes of LmSolver.
enum LmCode : int32_t {
    kLmSuccess = 0,             // allocate/start succeeded, or minimize converged (see status)
    kLmNoMemory = 1,            // allocate could not have its arrays
    kLmBadInput = 2,            // sizes or settings out of range, or a call out of order
    kLmConvergedReduction = 3,  // relative reductions at most ftol, or zero residuals
    kLmConvergedStep = 4,       // relative change of x at most xtol
    kLmConvergedBoth = 5,       // 3 and 4 together
    kLmConvergedGradient = 6,   // residuals orthogonal to the Jacobian's columns within gtol
    kLmEvaluationLimit = 7,
    kLmFtolTooSmall = 8,
    kLmXtolTooSmall = 9,
    kLmGtolTooSmall = 10,
    kLmContinue = 11,           // one outer iteration done, no stopping test holds
    // A callback that returned 11 would read as "call again"; that result is reported as this
    // code instead, so 11 always comes from the solver itself.
    kLmCallbackReturnedContinue = 12,
};

// Levenberg-Marquardt least squares with a forward-difference Jacobian, in a re-entrant form:
// each minimize() performs one outer iteration, so the caller decides between iterations whether
// to go on. Life cycle: allocate(n, m), start(...), minimize() while it returns kLmContinue.
// Calls out of that order (start before allocate, minimize before start or after release)
// return kLmBadInput and touch nothing.
class LmSolver {
public:
    LmSolver();
    ~LmSolver();
    LmSolver(const LmSolver&) = delete;
    LmSolver& operator=(const LmSolver&) = delete;

    // Frees any previous arrays and creates them for n unknowns and m residuals; x and the
    // minimum steps start at zero. 2 when n < 1 or m < n, 1 when memory is short (then no
    // arrays are kept and n, m read 0).
    int32_t allocate(int32_t n, int32_t m);
    void release();

    // Checks the settings, copies x0 and steps (zeros for null), resets the counters.
    int32_t start(const double* x0, const double* steps, LmResidualFunction callback, void* context);

    // One outer iteration. Returns kLmContinue to be called again, kLmSuccess with status 3..6
    // on convergence, 7..10 on the limits, or the callback's own non-zero result: as it is, but
    // 3..6 become kLmSuccess with that status and 11 becomes kLmCallbackReturnedContinue.
    int32_t minimize();

    // Settings, read by start().
    int32_t mode = 1;  // 1: scaling from the Jacobian's column norms, 2: from diag()
    double ftol = 1e-14;
    double xtol = 1e-14;
    double gtol = 1e-14;
    double epsfcn = 1e-14;
    double stepBoundFactor = 100.0;
    int32_t evaluationLimitFactor = 1000000;  // the limit is (n + 1) x this

    int32_t n() const { return n_; }
    int32_t m() const { return m_; }
    int32_t status() const { return status_; }
    int32_t maxEvaluations() const { return maxEvaluations_; }
    int32_t iterationCount() const { return iterations_; }
    int32_t evaluationCount() const { return evaluations_; }
    double fnorm() const { return fnorm_; }
    double xnorm() const { return xnorm_; }
    double* x() { return x_; }
    const double* x() const { return x_; }
    const double* residuals() const { return fvec_; }
    double* diag() { return diag_; }  // mode 2: filled by the caller before start()

private:
    int32_t finish(int32_t code);
    int32_t callbackResult(int32_t code);
    int32_t evaluate(const double* x, double* residuals);

    int32_t n_ = 0;
    int32_t m_ = 0;
    int32_t maxEvaluations_ = 0;
    int32_t status_ = 0;
    double xnorm_ = 0.0;
    double fnorm_ = 0.0;
    double delta_ = 0.0;
    double par_ = 0.0;
    double pnorm_ = 0.0;
    double prered_ = 0.0;
    double ratio_ = 0.0;
    int32_t iterations_ = 0;
    int32_t evaluations_ = 0;
    bool started_ = false;
    bool haveResiduals_ = false;

    int32_t* pivots_ = nullptr;
    double* minSteps_ = nullptr;
    double* x_ = nullptr;
    double* fvec_ = nullptr;
    double* diag_ = nullptr;
    double* fjac_ = nullptr;  // column-major, m rows
    double* qtf_ = nullptr;
    double* wa1_ = nullptr;
    double* wa2_ = nullptr;
    double* wa3_ = nullptr;
    double* wa4_ = nullptr;
    void* context_ = nullptr;
    LmResidualFunction callback_ = nullptr;
};

// Overflow-safe Euclidean norm of x[0 .. n - 1].
double euclideanNorm(int32_t n, const double* x);

// Householder QR with column pivoting of the m x n column-major matrix a (leading dimension lda).
// On return the upper triangle holds R without its diagonal, the lower part the Householder
// vectors; rdiag the diagonal of R, acnorm the column norms of the input, pivots the column order.
// work has n entries.
void qrFactorize(int32_t m, int32_t n, double* a, int32_t lda, int32_t* pivots, double* rdiag,
                 double* acnorm, double* work);

// Solves R z = Q^T b in the least-squares sense with the diagonal D added below R: r is n x n
// column-major (upper triangle R; the strict lower triangle receives S^T), qtb the first n of Q^T b,
// x the solution, sdiag the diagonal of S. work has n entries.
void qrSolve(int32_t n, double* r, int32_t ldr, const int32_t* pivots, const double* diag,
             const double* qtb, double* x, double* sdiag, double* work);

// The Levenberg-Marquardt parameter par for which the scaled step |D x| is within 10% of delta
// (or par = 0 for the Gauss-Newton step when that is short enough); x receives the step.
void lmParameter(int32_t n, double* r, int32_t ldr, const int32_t* pivots, const double* diag,
                 const double* qtb, double delta, double* par, double* x, double* sdiag,
                 double* work1, double* work2);
