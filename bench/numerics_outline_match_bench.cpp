// Arranging one scan against twenty others of 3600 outline points each: twenty rooms of a block
// with a corridor below them, one scanner in each, and a second scan of one room moved 1.44 m
// away and turned by 25 degrees. Run on one thread and on all of them; the counters say how far
// the best placement put the scan from where it stood (mm, degrees) and its error.

#include "numerics/outline_match.h"
#include "numerics/outline_rooms.h"

#include <benchmark/benchmark.h>
#include <omp.h>

#include <cmath>

namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;

struct Scene {
    std::vector<double> reference;
    std::vector<double> moving;
    rooms::Point stood;
    rooms::Point moved;
    double turn = 25.0 * kDegree;

    Scene()
    {
        rooms::Block block = rooms::twentyRooms();
        double width = 0.0, height = 0.0;
        for (const rooms::Wall& w : block.walls) {
            width = std::max(width, std::max(w.a.x, w.b.x));
            height = std::max(height, std::max(w.a.y, w.b.y));
        }
        // The corridor the lowest rooms open into, so that every ray meets a wall.
        block.walls.push_back({{0, height}, {0, height + 1500}});
        block.walls.push_back({{0, height + 1500}, {width, height + 1500}});
        block.walls.push_back({{width, height + 1500}, {width, height}});
        for (size_t k = 0; k < block.scans.size(); ++k) {
            const std::vector<double> scan = rooms::lidarOutline(block.walls, block.scans[k], 3600, 0.01 * k, 1.0,
                                                                 uint32_t(k));
            reference.insert(reference.end(), scan.begin(), scan.end());
        }
        stood = {block.scans[7].x + 700, block.scans[7].y - 500};
        moved = {stood.x + 1200, stood.y - 800};
        moving = rooms::placed(rooms::lidarOutline(block.walls, stood, 3600, 0.05, 1.0, 99), stood, turn, 1200, -800);
    }
};

void BM_ArrangeOneScanAgainstTwenty(benchmark::State& state)
{
    static const Scene floor;
    const int32_t threads = omp_get_max_threads();
    omp_set_num_threads(int32_t(state.range(0)));
    std::vector<OutlinePlacement> found;
    for (auto _ : state) {
        matchOutline(floor.reference.data(), int64_t(floor.reference.size() / 2), floor.moving.data(),
                     int64_t(floor.moving.size() / 2), floor.moved.x, floor.moved.y, OutlineMatchOptions(), found);
        benchmark::DoNotOptimize(found.data());
    }
    omp_set_num_threads(threads);
    if (found.empty()) {
        state.SkipWithError("no placement found");
        return;
    }
    state.counters["referencePoints"] = double(floor.reference.size() / 2);
    state.counters["offMm"] =
        std::hypot(floor.moved.x + found[0].tx - floor.stood.x, floor.moved.y + found[0].ty - floor.stood.y);
    state.counters["offDeg"] = std::abs(std::remainder(found[0].angle + floor.turn, 360.0 * kDegree)) / kDegree;
    state.counters["errorMm"] = found[0].error;
}

} // namespace

BENCHMARK(BM_ArrangeOneScanAgainstTwenty)
    ->Arg(1)
    ->Arg(omp_get_num_procs())
    ->ArgName("threads")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

BENCHMARK_MAIN();
