#include "numerics/lm_solver.h"

#include "least_squares_problems.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#ifdef QUORIL_HAVE_CMINPACK
#include <cminpack.h>
#endif

namespace {
struct Settings {
    const char* name;
    double ftol, xtol, gtol, epsfcn;
};

// The solver's defaults, and the MINPACK guide's (tolerances sqrt(epsilon), gtol 0). epsfcn is
// at least the double epsilon in both, so that the two finite-difference steps agree.
const Settings kDefaults{"defaults", 1e-14, 1e-14, 1e-14, 1e-14};
const Settings kGuide{"guide", 1.4901161193847656e-08, 1.4901161193847656e-08, 0.0,
                      2.220446049250313e-16};

struct SolverRun {
    int32_t status = 0;
    int32_t evaluations = 0;
    double fnorm = 0.0;
    std::vector<double> x;
};

SolverRun solve(lsq::Problem& problem, const std::vector<double>& start, const Settings& s)
{
    LmSolver solver;
    EXPECT_EQ(solver.allocate(problem.n, problem.m()), kLmSuccess);
    solver.ftol = s.ftol;
    solver.xtol = s.xtol;
    solver.gtol = s.gtol;
    solver.epsfcn = s.epsfcn;
    EXPECT_EQ(solver.start(start.data(), nullptr, lsq::residuals, &problem), kLmSuccess);
    while (solver.minimize() == kLmContinue) {
    }
    return SolverRun{solver.status(), solver.evaluationCount(), solver.fnorm(),
               std::vector<double>(solver.x(), solver.x() + problem.n)};
}

std::vector<lsq::Problem> nistProblems()
{
    return {lsq::misra1a(), lsq::thurber(), lsq::mgh09()};
}

double worstDigits(const std::vector<double>& x, const std::vector<double>& reference)
{
    double worst = 17.0;
    for (size_t j = 0; j < x.size(); ++j)
        worst = std::min(worst, lsq::significantDigits(x[j], reference[j]));
    return worst;
}

#ifdef QUORIL_HAVE_CMINPACK
int cminpackResiduals(void* p, int, int, const double* x, double* fvec, int)
{
    return lsq::residuals(x, fvec, p);
}

SolverRun solveWithCminpack(lsq::Problem& problem, const std::vector<double>& start, const Settings& s)
{
    const int n = problem.n, m = problem.m();
    const size_t nn = size_t(n), mm = size_t(m);
    std::vector<double> x = start, fvec(mm), diag(nn), fjac(mm * nn), qtf(nn), wa1(nn), wa2(nn), wa3(nn),
        wa4(mm);
    std::vector<int> ipvt(nn);
    int nfev = 0;
    const int info = lmdif(cminpackResiduals, &problem, m, n, x.data(), fvec.data(), s.ftol, s.xtol,
                           s.gtol, 1000000 * (n + 1), s.epsfcn, diag.data(), 1, 100.0, 0, &nfev,
                           fjac.data(), m, ipvt.data(), qtf.data(), wa1.data(), wa2.data(), wa3.data(),
                           wa4.data());
    // MINPACK's info 1..8 are this solver's status 3..10.
    return SolverRun{info >= 1 ? info + 2 : info, nfev, enorm(m, fvec.data()), x};
}
#endif
}  // namespace

TEST(LmSolverReference, NistDataMatchTheirCertifiedResidualSums)
{
    // Guards the typed-in data: a wrong digit moves the sum at the certified values.
    for (const lsq::Problem& p : nistProblems())
        EXPECT_NEAR(lsq::residualSumOfSquares(p, p.certified.data()) / p.certifiedRss, 1.0, 1e-9) << p.name;
}

TEST(LmSolverReference, NistProblemsReachTheCertifiedValues)
{
    // Six significant digits of every parameter and the certified residual sum from both starts;
    // MGH09 from start 1 (100 to 400 times the solution) takes about 2000 evaluations to get there.
    std::vector<lsq::Problem> problems = nistProblems();
    for (size_t k = 0; k < problems.size(); ++k) {
        lsq::Problem& p = problems[k];
        for (size_t s = 0; s < 2; ++s) {
            const SolverRun run = solve(p, p.starts[s], kDefaults);
            EXPECT_GE(worstDigits(run.x, p.certified), 6.0) << p.name << " start " << s + 1;
            EXPECT_GE(run.status, kLmConvergedReduction) << p.name << " start " << s + 1;
            EXPECT_LE(run.status, kLmConvergedGradient) << p.name << " start " << s + 1;
            EXPECT_NEAR(run.fnorm * run.fnorm / p.certifiedRss, 1.0, 1e-9) << p.name << " start " << s + 1;
        }
    }
}

TEST(LmSolverReference, SameRunsAsCminpackLmdif)
{
    // Bit for bit: the steps, the factorisation and the tests run in the same order. The finer
    // machine precision could only part them where a tolerance is below the double epsilon or in
    // the factorisation's column-norm refresh; epsfcn is kept at or above the double epsilon so
    // that the finite-difference steps are the same.
#ifndef QUORIL_HAVE_CMINPACK
    FAIL() << "cminpack is missing: scripts/deps --test installs libcminpack-dev";
#else
    std::vector<lsq::Problem> problems = nistProblems();
    problems.push_back(lsq::minpackGuide());
    for (const Settings& s : {kDefaults, kGuide}) {
        for (lsq::Problem& p : problems) {
            for (size_t k = 0; k < p.starts.size(); ++k) {
                const SolverRun ours = solve(p, p.starts[k], s);
                const SolverRun theirs = solveWithCminpack(p, p.starts[k], s);
                const std::string what = p.name + " start " + std::to_string(k + 1) + " " + s.name;
                EXPECT_EQ(ours.status, theirs.status) << what;
                EXPECT_EQ(ours.evaluations, theirs.evaluations) << what;
                EXPECT_EQ(ours.fnorm, theirs.fnorm) << what;
                EXPECT_EQ(ours.x, theirs.x) << what;
            }
        }
    }
#endif
}
