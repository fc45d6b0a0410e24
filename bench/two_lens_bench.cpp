// Full-quality two-lens pano at 7200 x 3600 against an OpenCV pipeline doing the same work:
// building the lens maps, bicubic cv::remap of both lenses and a multi-band blend of both seams.
#include "camera/cam_params_ztm6.h"
#include "imaging/pano_directions.h"

#include <benchmark/benchmark.h>
#include <omp.h>

#ifdef QUORIL_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/stitching/detail/blenders.hpp>
#endif

#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

namespace {
constexpr int kPanoWidth = 7200;
constexpr int kPanoHeight = 3600;
constexpr int kLensHeight = 3600;
constexpr int kLensWidth = 2 * kLensHeight;

struct Fixture {
    CamParamsZTM6 model;
    ImageParams params;
    std::vector<uint8_t> lens1, lens2;

    Fixture()
    {
        model.header().IMG_WIDTH = kLensWidth;
        model.header().IMG_HEIGHT = kLensHeight;
        model.header().NUM_LENS = 2;
        model.lenses().assign(2, Ztm6LensRecord{});
        for (int k = 0; k < 2; ++k) {
            Ztm6LensRecord& lens = model.lenses()[static_cast<size_t>(k)];
            lens.U0 = k == 0 ? kLensHeight + 3.5f : -2.0f;
            lens.V0 = kLensHeight / 2.0f - 1.5f;
            lens.K1 = 0.03f;
            lens.K2 = -0.01f;
            lens.P1 = 0.001f;
            lens.P2 = -0.002f;
            lens.RM = 1.2f;
        }
        model.initBlendMasks(kPanoWidth, 1800);
        params[ImageParams::ROLL_GLOBAL] = 0.02f;
        params[ImageParams::PITCH_GLOBAL] = -0.03f;
        lens1 = texture(1);
        lens2 = texture(2);
    }

    static std::vector<uint8_t> texture(uint32_t seed)
    {
        std::vector<uint8_t> rgb(static_cast<size_t>(kLensWidth) * kLensHeight * 3);
        for (size_t i = 0; i < rgb.size(); ++i) {
            const uint32_t x = static_cast<uint32_t>(i / 3 % kLensWidth), y = static_cast<uint32_t>(i / 3 / kLensWidth);
            rgb[i] = static_cast<uint8_t>((x * 7 + y * 13 + seed * 50 + (i % 3) * 40 + ((x ^ y) & 15)) & 0xff);
        }
        return rgb;
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void setThreads(benchmark::State& state)
{
    omp_set_num_threads(static_cast<int>(state.range(0)));
#ifdef QUORIL_HAVE_OPENCV
    cv::setNumThreads(static_cast<int>(state.range(0)));
#endif
}

void reportRate(benchmark::State& state)
{
    state.counters["MP/s"] = benchmark::Counter(kPanoWidth * static_cast<double>(kPanoHeight) / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

void BM_BlendTwoLensPano(benchmark::State& state)
{
    Fixture& f = fixture();
    setThreads(state);
    std::vector<uint8_t> pano(static_cast<size_t>(kPanoWidth) * kPanoHeight * 3);
    for (auto _ : state) {
        f.model.blendTwoLensPano(f.lens1.data(), f.lens2.data(), kPanoWidth, kPanoHeight, f.params, pano.data());
        benchmark::DoNotOptimize(pano.data());
    }
    reportRate(state);
}

#ifdef QUORIL_HAVE_OPENCV
void BM_OpenCvRemapAndBlend(benchmark::State& state)
{
    Fixture& f = fixture();
    setThreads(state);
    const cv::Mat lens1(kLensHeight, kLensWidth, CV_8UC3, f.lens1.data());
    const cv::Mat lens2(kLensHeight, kLensWidth, CV_8UC3, f.lens2.data());
    const int band = kPanoWidth / 8;
    const int s1 = kPanoWidth / 4 - band / 2;
    const int s2 = 3 * kPanoWidth / 4 - band / 2;
    const BlendMask* weights = f.model.blendMaskFor(band, kPanoHeight);
    cv::Mat maskFirst(kPanoHeight, band, CV_8U), maskSecond(kPanoHeight, band, CV_8U);
    for (int r = 0; r < kPanoHeight; ++r)
        for (int c = 0; c < band; ++c) {
            const bool second = weights->weights[static_cast<size_t>(r) * band + c] >= 128;
            maskFirst.at<uint8_t>(r, c) = second ? 0 : 255;
            maskSecond.at<uint8_t>(r, c) = second ? 255 : 0;
        }
    const double rm = f.model.lenses()[0].RM;
    const float fadeStart = static_cast<float>(std::pow(std::sin(rm), 2));
    const float fadeEnd = static_cast<float>(std::pow(std::sin(rm + (M_PI / 2 - rm) / 2), 2));

    cv::Mat pano(kPanoHeight, kPanoWidth, CV_8UC3);
    for (auto _ : state) {
        // Maps from the same geometry and lens model.
        cv::Mat mapX(kPanoHeight, kPanoWidth, CV_32F), mapY(kPanoHeight, kPanoWidth, CV_32F);
        const PanoDirections directions(kPanoWidth, kPanoHeight, kLensHeight, f.params);
#pragma omp parallel for schedule(static)
        for (int r = 0; r < kPanoHeight; ++r) {
            auto* mx = mapX.ptr<float>(r);
            auto* my = mapY.ptr<float>(r);
            for (int c = 0; c < kPanoWidth; ++c) {
                float x = 0, y = 0;
                directions.lensPosition(r, c, x, y);
                f.model.lensProject(x, y, fadeStart, fadeEnd, mx[c], my[c]);
            }
        }
        // dst shares its pixels with the pano where it is a view; otherwise remap allocates it.
        auto remapColumns = [&](const cv::Mat& lens, int from, int to, cv::Mat dst) {
            cv::remap(lens, dst, mapX.colRange(from, to), mapY.colRange(from, to), cv::INTER_CUBIC, cv::BORDER_WRAP);
            return dst;
        };
        remapColumns(lens2, 0, s1, pano.colRange(0, s1));
        remapColumns(lens1, s1 + band, s2, pano.colRange(s1 + band, s2));
        remapColumns(lens2, s2 + band, kPanoWidth, pano.colRange(s2 + band, kPanoWidth));
        for (int seam = 0; seam < 2; ++seam) {
            const int start = seam == 0 ? s1 : s2;
            const cv::Mat first = remapColumns(seam == 0 ? lens2 : lens1, start, start + band, cv::Mat());
            const cv::Mat second = remapColumns(seam == 0 ? lens1 : lens2, start, start + band, cv::Mat());
            cv::detail::MultiBandBlender blender(false, 5);
            blender.prepare(cv::Rect(0, 0, band, kPanoHeight));
            cv::Mat first16, second16, blended, blendedMask;
            first.convertTo(first16, CV_16SC3);
            second.convertTo(second16, CV_16SC3);
            blender.feed(first16, maskFirst, cv::Point(0, 0));
            blender.feed(second16, maskSecond, cv::Point(0, 0));
            blender.blend(blended, blendedMask);
            blended.convertTo(pano.colRange(start, start + band), CV_8UC3);
        }
        benchmark::DoNotOptimize(pano.data);
    }
    reportRate(state);
}
#endif

void threadArgs(benchmark::internal::Benchmark* b)
{
    b->ArgName("threads")->Arg(1)->Arg(static_cast<int>(std::thread::hardware_concurrency()));
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}
} // namespace

BENCHMARK(BM_BlendTwoLensPano)->Apply(threadArgs);
#ifdef QUORIL_HAVE_OPENCV
BENCHMARK(BM_OpenCvRemapAndBlend)->Apply(threadArgs);
#endif
BENCHMARK_MAIN();
