// Singular value decomposition of a random 100 x 100 matrix (the largest proximity matrix the
// feature matcher builds), with U and V, beside LAPACK's dgesvd computing the same.
// bench/compare.py interleaves the two and prints the ratio of the medians.

#include "numerics/svd.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#ifdef QUORIL_HAVE_LAPACK
extern "C" void dgesvd_(const char* jobu, const char* jobvt, const int* m, const int* n, double* a,
                        const int* lda, double* s, double* u, const int* ldu, double* vt, const int* ldvt,
                        double* work, const int* lwork, int* info, size_t jobuLength, size_t jobvtLength);
#endif

namespace {
std::vector<double> randomMatrix(int n)
{
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<double> a(size_t(n) * size_t(n));
    for (double& v : a)
        v = uniform(rng);
    return a;
}

void BM_SvdOurs(benchmark::State& state)
{
    const int n = int(state.range(0));
    const std::vector<double> input = randomMatrix(n);
    std::vector<double> a(input.size()), w(input.size() / size_t(n)), v(input.size()), work(input.size() / size_t(n));
    for (auto _ : state) {
        a = input;
        if (computeSvd(a.data(), w.data(), v.data(), work.data(), n, n) != kSvdSuccess)
            state.SkipWithError("no convergence");
        benchmark::DoNotOptimize(a.data());
    }
}
BENCHMARK(BM_SvdOurs)->Arg(100)->Unit(benchmark::kMicrosecond);

#ifdef QUORIL_HAVE_LAPACK
void BM_SvdLapack(benchmark::State& state)
{
    int n = int(state.range(0));
    const std::vector<double> input = randomMatrix(n);
    std::vector<double> a(input.size()), s(input.size() / size_t(n)), u(input.size()), vt(input.size());
    int lwork = -1, info = 0;
    double query = 0.0;
    dgesvd_("S", "A", &n, &n, a.data(), &n, s.data(), u.data(), &n, vt.data(), &n, &query, &lwork, &info, 1, 1);
    lwork = int(query);
    std::vector<double> work(static_cast<size_t>(lwork));
    for (auto _ : state) {
        a = input;
        dgesvd_("S", "A", &n, &n, a.data(), &n, s.data(), u.data(), &n, vt.data(), &n, work.data(), &lwork,
                &info, 1, 1);
        benchmark::DoNotOptimize(u.data());
    }
}
BENCHMARK(BM_SvdLapack)->Arg(100)->Unit(benchmark::kMicrosecond);
#endif
}  // namespace

BENCHMARK_MAIN();
