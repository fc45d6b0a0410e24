// Corner detection on one seam band of the largest size (300 x 924): a textured band and white
// noise (the most candidates any band can give), each beside OpenCV's goodFeaturesToTrack on the
// same band with the same count, quality level and 5-pixel block on as many threads; and detection
// plus matching of a band pair. bench/compare.py interleaves the pairs and prints the ratios. It
// runs each benchmark in a process of its own: in one process the allocator's state left by the
// earlier benchmarks can have OpenCV fault its buffers in afresh on every call.

#include "numerics/features.h"

#include "tests/numerics/feature_images.h"

#include <benchmark/benchmark.h>

#include <omp.h>

#ifdef QUORIL_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

using namespace featureimages;

namespace {
constexpr int32_t kWidth = 300;
constexpr int32_t kHeight = 924;

void detectLoop(benchmark::State& state, const Image& image)
{
    omp_set_num_threads(int(state.range(0)));
    std::vector<FeaturePoint> points;
    for (auto _ : state) {
        detectFeatures(image.pixels.data(), image.w, image.h, 1.0f, 1.9f, 0.02f, 100, points);
        benchmark::DoNotOptimize(points.data());
    }
    state.counters["points"] = double(points.size());
}

#ifdef QUORIL_HAVE_OPENCV
void openCvLoop(benchmark::State& state, const Image& image)
{
    cv::setNumThreads(int(state.range(0)));
    const cv::Mat mat(image.h, image.w, CV_32F, const_cast<float*>(image.pixels.data()));
    std::vector<cv::Point2f> corners;
    for (auto _ : state) {
        cv::goodFeaturesToTrack(mat, corners, 100, 0.02, 3.0, cv::noArray(), 5, false);
        benchmark::DoNotOptimize(corners.data());
    }
    state.counters["points"] = double(corners.size());
}
#endif

const Image& texturedBand()
{
    static const Image band = blobTexture(kWidth, kHeight, 2500, 1);
    return band;
}

const Image& noiseBand()
{
    static const Image band = whiteNoise(kWidth, kHeight, 2);
    return band;
}

void BM_DetectTexturedBand(benchmark::State& state)
{
    detectLoop(state, texturedBand());
}
BENCHMARK(BM_DetectTexturedBand)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DetectWhiteNoiseBand(benchmark::State& state)
{
    detectLoop(state, noiseBand());
}
BENCHMARK(BM_DetectWhiteNoiseBand)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef QUORIL_HAVE_OPENCV
void BM_OpenCvTexturedBand(benchmark::State& state)
{
    openCvLoop(state, texturedBand());
}
BENCHMARK(BM_OpenCvTexturedBand)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenCvWhiteNoiseBand(benchmark::State& state)
{
    openCvLoop(state, noiseBand());
}
BENCHMARK(BM_OpenCvWhiteNoiseBand)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

void BM_DetectAndMatchBandPair(benchmark::State& state)
{
    omp_set_num_threads(int(state.range(0)));
    static const Image a = blobTexture(kWidth, kHeight, 2500, 1);
    static const Image b = [] {
        Image shifted(kWidth, kHeight, 128.0f);
        for (int32_t y = 0; y < kHeight; ++y)
            for (int32_t x = 2; x < kWidth; ++x)
                shifted.at(x, y) = a.at(x - 2, y);
        return shifted;
    }();
    std::vector<FeaturePoint> pa, pb;
    std::vector<FeatureMatch> matches;
    const float sigmaDistance = float(0.12217305 / (0.7853981 / 299.0));
    for (auto _ : state) {
        detectFeatures(a.pixels.data(), kWidth, kHeight, 1.0f, 1.9f, 0.02f, 100, pa);
        detectFeatures(b.pixels.data(), kWidth, kHeight, 1.0f, 1.9f, 0.02f, 100, pb);
        matchFeatures(a.pixels.data(), b.pixels.data(), kWidth, kHeight, pa, pb, 11, sigmaDistance, 0.4f, matches);
        benchmark::DoNotOptimize(matches.data());
    }
    state.counters["matches"] = double(matches.size());
}
BENCHMARK(BM_DetectAndMatchBandPair)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();
}  // namespace

BENCHMARK_MAIN();
