#include "numerics/lm_solver.h"

#include "least_squares_problems.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

// A refused allocation must come back as a null pointer, also under AddressSanitizer.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {
struct Outcome {
    int32_t result = -1;
    int32_t status = -1;
    int32_t evaluations = 0;
    int32_t iterations = 0;
    int32_t calls = 0;
    double fnorm = 0.0;
    std::vector<double> x;
};

// Calls minimize() until it stops asking to be called again.
Outcome runToEnd(LmSolver& solver)
{
    Outcome o;
    do {
        o.result = solver.minimize();
        ++o.calls;
    } while (o.result == kLmContinue);
    o.status = solver.status();
    o.evaluations = solver.evaluationCount();
    o.iterations = solver.iterationCount();
    o.fnorm = solver.fnorm();
    o.x.assign(solver.x(), solver.x() + solver.n());
    return o;
}

int32_t zeroResiduals(const double*, double* r, void* context)
{
    const int32_t m = *static_cast<int32_t*>(context);
    for (int32_t i = 0; i < m; ++i)
        r[i] = 0.0;
    return 0;
}

// Misra1a's residuals, but the call numbered failAt returns code instead.
struct FailingContext {
    lsq::Problem problem = lsq::misra1a();
    int32_t calls = 0;
    int32_t failAt = -1;
    int32_t code = 0;
    std::vector<double> xAtFailure;
};

int32_t failingResiduals(const double* x, double* r, void* context)
{
    auto& c = *static_cast<FailingContext*>(context);
    if (++c.calls == c.failAt) {
        c.xAtFailure.assign(x, x + 2);
        return c.code;
    }
    return lsq::residuals(x, r, &c.problem);
}
}  // namespace

TEST(LmSolverLifecycle, AllocateRefusesSizesOutOfRangeAndKeepsNothing)
{
    LmSolver solver;
    for (auto [n, m] : {std::pair{6, 5}, {0, 0}, {-1, 5}, {3, -1}, {0, 10}}) {
        EXPECT_EQ(solver.allocate(n, m), kLmBadInput) << n << " x " << m;
        EXPECT_EQ(solver.status(), kLmBadInput);
        EXPECT_EQ(solver.n(), 0);
        EXPECT_EQ(solver.m(), 0);
        EXPECT_EQ(solver.x(), nullptr);
    }
    ASSERT_EQ(solver.allocate(6, 6), kLmSuccess);
    EXPECT_EQ(solver.n(), 6);
    EXPECT_EQ(solver.m(), 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(solver.x()[i], 0.0);
}

TEST(LmSolverLifecycle, FailedAllocationReleasesEverythingAndLeavesNoUsableState)
{
    LmSolver solver;
    lsq::Problem problem = lsq::misra1a();
    ASSERT_EQ(solver.allocate(2, problem.m()), kLmSuccess);
    ASSERT_EQ(solver.start(problem.starts[0].data(), nullptr, lsq::residuals, &problem), kLmSuccess);

    // The residual vector alone could be had, the m x n Jacobian (96 GiB) cannot.
    EXPECT_EQ(solver.allocate(6, INT32_MAX), kLmNoMemory);
    EXPECT_EQ(solver.status(), kLmNoMemory);
    EXPECT_EQ(solver.n(), 0);
    EXPECT_EQ(solver.m(), 0);
    EXPECT_EQ(solver.x(), nullptr);
    EXPECT_EQ(solver.diag(), nullptr);
    EXPECT_EQ(solver.minimize(), kLmBadInput);
    EXPECT_EQ(solver.start(nullptr, nullptr, lsq::residuals, &problem), kLmBadInput);

    // The object stays usable.
    ASSERT_EQ(solver.allocate(2, problem.m()), kLmSuccess);
    ASSERT_EQ(solver.start(problem.starts[1].data(), nullptr, lsq::residuals, &problem), kLmSuccess);
    EXPECT_EQ(runToEnd(solver).result, kLmSuccess);
}

TEST(LmSolverLifecycle, CallsOutOfOrderAreRefused)
{
    lsq::Problem problem = lsq::misra1a();
    LmSolver fresh;
    EXPECT_EQ(fresh.minimize(), kLmBadInput);
    EXPECT_EQ(fresh.start(problem.starts[0].data(), nullptr, lsq::residuals, &problem), kLmBadInput);
    EXPECT_EQ(fresh.status(), kLmBadInput);

    LmSolver notStarted;
    ASSERT_EQ(notStarted.allocate(2, problem.m()), kLmSuccess);
    EXPECT_EQ(notStarted.minimize(), kLmBadInput);

    LmSolver released;
    ASSERT_EQ(released.allocate(2, problem.m()), kLmSuccess);
    ASSERT_EQ(released.start(problem.starts[0].data(), nullptr, lsq::residuals, &problem), kLmSuccess);
    ASSERT_EQ(released.minimize(), kLmContinue);
    released.release();
    EXPECT_EQ(released.minimize(), kLmBadInput);
    EXPECT_EQ(released.start(problem.starts[0].data(), nullptr, lsq::residuals, &problem), kLmBadInput);

    // A new allocate needs a new start.
    LmSolver reallocated;
    ASSERT_EQ(reallocated.allocate(2, problem.m()), kLmSuccess);
    ASSERT_EQ(reallocated.start(problem.starts[0].data(), nullptr, lsq::residuals, &problem), kLmSuccess);
    ASSERT_EQ(reallocated.allocate(2, problem.m()), kLmSuccess);
    EXPECT_EQ(reallocated.minimize(), kLmBadInput);
}

TEST(LmSolverLifecycle, StartRefusesSettingsOutOfRange)
{
    lsq::Problem problem = lsq::misra1a();
    auto refused = [&](auto change) {
        LmSolver solver;
        EXPECT_EQ(solver.allocate(2, problem.m()), kLmSuccess);
        change(solver);
        const int32_t rc = solver.start(problem.starts[0].data(), nullptr, lsq::residuals, &problem);
        // A refused start leaves nothing to iterate on.
        return rc == kLmBadInput && solver.status() == kLmBadInput && solver.minimize() == kLmBadInput;
    };
    EXPECT_TRUE(refused([](LmSolver& s) { s.ftol = -1e-9; }));
    EXPECT_TRUE(refused([](LmSolver& s) { s.xtol = -1e-9; }));
    EXPECT_TRUE(refused([](LmSolver& s) { s.gtol = -1e-9; }));
    EXPECT_TRUE(refused([](LmSolver& s) { s.ftol = NAN; }));
    EXPECT_TRUE(refused([](LmSolver& s) { s.evaluationLimitFactor = 0; }));
    EXPECT_TRUE(refused([](LmSolver& s) { s.stepBoundFactor = 0.0; }));
    EXPECT_TRUE(refused([](LmSolver& s) { s.mode = 2; }));  // diag still zero
    EXPECT_FALSE(refused([](LmSolver& s) {
        s.mode = 2;
        s.diag()[0] = 1.0;
        s.diag()[1] = 1000.0;
    }));
}

TEST(LmSolverLifecycle, StartSetsTheEvaluationLimitAndCopiesTheStart)
{
    lsq::Problem problem = lsq::thurber();
    LmSolver solver;
    ASSERT_EQ(solver.allocate(8, problem.m()), kLmSuccess);
    ASSERT_EQ(solver.start(nullptr, nullptr, lsq::residuals, &problem), kLmSuccess);
    EXPECT_EQ(solver.maxEvaluations(), 9000000);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(solver.x()[i], 0.0);
    ASSERT_EQ(solver.allocate(6, problem.m()), kLmSuccess);
    const double x0[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(solver.start(x0, nullptr, lsq::residuals, &problem), kLmSuccess);
    EXPECT_EQ(solver.maxEvaluations(), 7000000);
    EXPECT_EQ(solver.x()[5], 6.0);
}

TEST(LmSolverIteration, ZeroResidualsConvergeOnTheFirstCall)
{
    int32_t m = 6;
    LmSolver solver;
    ASSERT_EQ(solver.allocate(6, m), kLmSuccess);
    ASSERT_EQ(solver.start(nullptr, nullptr, zeroResiduals, &m), kLmSuccess);
    EXPECT_EQ(solver.minimize(), kLmSuccess);
    EXPECT_EQ(solver.status(), kLmConvergedReduction);
    EXPECT_EQ(solver.evaluationCount(), 1);
}

TEST(LmSolverIteration, EachContinueIsOneAcceptedStep)
{
    lsq::Problem problem = lsq::thurber();
    LmSolver solver;
    ASSERT_EQ(solver.allocate(7, problem.m()), kLmSuccess);
    ASSERT_EQ(solver.start(problem.starts[1].data(), nullptr, lsq::residuals, &problem), kLmSuccess);
    double previous = INFINITY;
    int32_t continues = 0;
    int32_t rc;
    while ((rc = solver.minimize()) == kLmContinue) {
        ++continues;
        EXPECT_EQ(solver.iterationCount(), continues);
        EXPECT_LT(solver.fnorm(), previous);  // only accepted steps move x
        EXPECT_DOUBLE_EQ(solver.fnorm(), std::sqrt(lsq::residualSumOfSquares(problem, solver.x())));
        previous = solver.fnorm();
    }
    EXPECT_EQ(rc, kLmSuccess);
    EXPECT_GT(continues, 2);
}

TEST(LmSolverIteration, EvaluationLimitStopsTheRun)
{
    lsq::Problem problem = lsq::misra1a();
    LmSolver solver;
    ASSERT_EQ(solver.allocate(2, problem.m()), kLmSuccess);
    solver.evaluationLimitFactor = 2;  // six evaluations
    ASSERT_EQ(solver.start(problem.starts[0].data(), nullptr, lsq::residuals, &problem), kLmSuccess);
    const Outcome o = runToEnd(solver);
    EXPECT_EQ(o.result, kLmEvaluationLimit);
    EXPECT_EQ(o.status, kLmEvaluationLimit);
    // The limit is tested after each trial step, so the Jacobian's n evaluations may pass it.
    EXPECT_GE(o.evaluations, 6);
    EXPECT_LE(o.evaluations, 6 + 2);
}

TEST(LmSolverIteration, MinimumStepsLetTheJacobianSeeAcrossFlatSteps)
{
    // Residuals that change only in steps of 0.01: an ordinary forward difference sees nothing.
    struct Stepped {
        static int32_t residuals(const double* x, double* r, void*)
        {
            const double q = std::floor(x[0] * 100.0) / 100.0;
            for (int i = 0; i < 4; ++i)
                r[i] = q - 0.5 * (i + 1);
            return 0;
        }
    };
    const double start = 3.0;
    LmSolver plain;
    ASSERT_EQ(plain.allocate(1, 4), kLmSuccess);
    ASSERT_EQ(plain.start(&start, nullptr, Stepped::residuals, nullptr), kLmSuccess);
    const Outcome flat = runToEnd(plain);
    EXPECT_EQ(flat.status, kLmConvergedGradient);
    EXPECT_EQ(flat.x[0], 3.0);

    const double step = 0.05;
    LmSolver stepped;
    ASSERT_EQ(stepped.allocate(1, 4), kLmSuccess);
    ASSERT_EQ(stepped.start(&start, &step, Stepped::residuals, nullptr), kLmSuccess);
    const Outcome moved = runToEnd(stepped);
    EXPECT_NEAR(moved.x[0], 1.25, 0.02);  // the mean of the four targets
}

TEST(LmSolverCallback, ItsCodesEndTheCallAndLeaveTheLastPoint)
{
    struct Case {
        int32_t code, result, status;
    };
    // 3..6 read as convergence, 11 cannot read as "call again", anything else comes back as it is.
    for (const Case c : {Case{4, kLmSuccess, 4}, Case{6, kLmSuccess, 6},
                         Case{11, kLmCallbackReturnedContinue, kLmCallbackReturnedContinue},
                         Case{-1, -1, -1}, Case{7, 7, 7}, Case{42, 42, 42}}) {
        for (int32_t failAt : {1, 2, 4}) {  // first evaluation, Jacobian, first trial step
            FailingContext context;
            context.failAt = failAt;
            context.code = c.code;
            LmSolver solver;
            ASSERT_EQ(solver.allocate(2, context.problem.m()), kLmSuccess);
            ASSERT_EQ(solver.start(context.problem.starts[1].data(), nullptr, failingResiduals, &context),
                      kLmSuccess);
            const Outcome o = runToEnd(solver);
            EXPECT_EQ(o.result, c.result) << "code " << c.code << " at call " << failAt;
            EXPECT_EQ(o.status, c.status);
            EXPECT_EQ(o.evaluations, failAt);
            // The unknown being differenced is put back.
            EXPECT_EQ(o.x, context.problem.starts[1]) << "code " << c.code << " at call " << failAt;
        }
    }
}

TEST(LmSolverCallback, ARunInterruptedInTheJacobianGoesOnAsIfNothingHappened)
{
    lsq::Problem problem = lsq::misra1a();
    LmSolver plain;
    ASSERT_EQ(plain.allocate(2, problem.m()), kLmSuccess);
    ASSERT_EQ(plain.start(problem.starts[0].data(), nullptr, lsq::residuals, &problem), kLmSuccess);
    ASSERT_EQ(plain.minimize(), kLmContinue);
    const int32_t secondJacobian = plain.evaluationCount() + 1;
    const Outcome reference = runToEnd(plain);

    FailingContext interrupted;
    interrupted.failAt = secondJacobian;
    interrupted.code = 11;
    LmSolver solver;
    ASSERT_EQ(solver.allocate(2, problem.m()), kLmSuccess);
    ASSERT_EQ(solver.start(problem.starts[0].data(), nullptr, failingResiduals, &interrupted), kLmSuccess);
    const Outcome first = runToEnd(solver);
    ASSERT_EQ(first.result, kLmCallbackReturnedContinue);
    EXPECT_EQ(first.iterations, 1);
    const Outcome resumed = runToEnd(solver);
    EXPECT_EQ(resumed.result, reference.result);
    EXPECT_EQ(resumed.status, reference.status);
    EXPECT_EQ(resumed.x, reference.x);
    EXPECT_EQ(resumed.fnorm, reference.fnorm);
    EXPECT_EQ(resumed.evaluations, reference.evaluations + 1);
}

TEST(LmSolverReference, MinpackGuideExample)
{
    // The guide's settings: tolerances sqrt(machine epsilon), gtol 0, forward-difference steps
    // from the double epsilon.
    lsq::Problem problem = lsq::minpackGuide();
    LmSolver solver;
    ASSERT_EQ(solver.allocate(3, problem.m()), kLmSuccess);
    solver.ftol = solver.xtol = std::sqrt(2.220446049250313e-16);
    solver.gtol = 0.0;
    solver.epsfcn = 2.220446049250313e-16;
    ASSERT_EQ(solver.start(problem.starts[0].data(), nullptr, lsq::residuals, &problem), kLmSuccess);
    const Outcome o = runToEnd(solver);
    EXPECT_EQ(o.result, kLmSuccess);
    EXPECT_EQ(o.status, kLmConvergedReduction);  // the guide's info = 1
    EXPECT_GE(lsq::significantDigits(o.fnorm, 0.9063596e-01), 6.5) << o.fnorm;
    for (int j = 0; j < 3; ++j)
        EXPECT_GE(lsq::significantDigits(o.x[j], problem.certified[size_t(j)]), 6.5) << o.x[j];
}
