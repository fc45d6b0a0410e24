// One full least-squares fit of 8 unknowns to 3420 residuals (the size of shot alignment's
// photometric fit), with this solver and with cminpack's lmdif on the same settings.
// bench/compare.py interleaves the two and prints the ratio of the medians.

#include "numerics/lm_solver.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#ifdef QUORIL_HAVE_CMINPACK
#include <cminpack.h>
#endif

namespace {
constexpr int kUnknowns = 8;
constexpr int kResiduals = 3420;

// Two Gaussian peaks on a sloping baseline, sampled with a deterministic ripple as noise.
double model(const double* b, double t)
{
    const double u = (t - b[1]) / b[2], v = (t - b[4]) / b[5];
    return b[0] * std::exp(-u * u) + b[3] * std::exp(-v * v) + b[6] + b[7] * t;
}

struct Data {
    std::vector<double> t, y;
    Data()
    {
        const double truth[kUnknowns] = {4.0, 3.0, 0.8, 2.5, 6.5, 1.4, 0.5, 0.05};
        for (int i = 0; i < kResiduals; ++i) {
            t.push_back(10.0 * i / kResiduals);
            y.push_back(model(truth, t.back()) + 0.02 * std::sin(i * 12.9898));
        }
    }
};

const Data& data()
{
    static const Data d;
    return d;
}

const double kStart[kUnknowns] = {3.0, 2.5, 1.0, 2.0, 7.0, 1.0, 0.0, 0.0};

int32_t residuals(const double* b, double* out, void*)
{
    const Data& d = data();
    for (int i = 0; i < kResiduals; ++i)
        out[i] = d.y[size_t(i)] - model(b, d.t[size_t(i)]);
    return 0;
}

// Tolerances of the MINPACK guide; epsfcn at the double epsilon so both take the same steps.
constexpr double kTol = 1.4901161193847656e-08;
constexpr double kEpsfcn = 2.220446049250313e-16;

int fitOurs(double* x)
{
    LmSolver solver;
    solver.allocate(kUnknowns, kResiduals);
    solver.ftol = solver.xtol = kTol;
    solver.gtol = 0.0;
    solver.epsfcn = kEpsfcn;
    solver.start(kStart, nullptr, residuals, nullptr);
    while (solver.minimize() == kLmContinue) {
    }
    std::copy(solver.x(), solver.x() + kUnknowns, x);
    return solver.evaluationCount();
}

void BM_LmFitOurs(benchmark::State& state)
{
    double x[kUnknowns];
    int evaluations = 0;
    for (auto _ : state) {
        evaluations = fitOurs(x);
        benchmark::DoNotOptimize(x);
    }
    state.counters["evaluations"] = evaluations;
}
BENCHMARK(BM_LmFitOurs)->Unit(benchmark::kMillisecond);

#ifdef QUORIL_HAVE_CMINPACK
int cminpackResiduals(void*, int, int, const double* x, double* fvec, int)
{
    return residuals(x, fvec, nullptr);
}

int fitCminpack(double* x)
{
    std::vector<double> fvec(kResiduals), diag(kUnknowns), fjac(size_t(kResiduals) * kUnknowns), qtf(kUnknowns),
        wa1(kUnknowns), wa2(kUnknowns), wa3(kUnknowns), wa4(kResiduals);
    std::vector<int> ipvt(kUnknowns);
    std::copy(kStart, kStart + kUnknowns, x);
    int nfev = 0;
    lmdif(cminpackResiduals, nullptr, kResiduals, kUnknowns, x, fvec.data(), kTol, kTol, 0.0,
          1000000 * (kUnknowns + 1), kEpsfcn, diag.data(), 1, 100.0, 0, &nfev, fjac.data(), kResiduals,
          ipvt.data(), qtf.data(), wa1.data(), wa2.data(), wa3.data(), wa4.data());
    return nfev;
}

void BM_LmFitCminpack(benchmark::State& state)
{
    double x[kUnknowns], ours[kUnknowns];
    if (fitCminpack(x) != fitOurs(ours) || !std::equal(x, x + kUnknowns, ours)) {
        state.SkipWithError("the two fits differ");
        return;
    }
    int evaluations = 0;
    for (auto _ : state) {
        evaluations = fitCminpack(x);
        benchmark::DoNotOptimize(x);
    }
    state.counters["evaluations"] = evaluations;
}
BENCHMARK(BM_LmFitCminpack)->Unit(benchmark::kMillisecond);
#endif
}  // namespace

BENCHMARK_MAIN();
