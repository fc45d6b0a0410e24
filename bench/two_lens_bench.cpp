// Full-quality two-lens pano at 7200 x 3600 against an OpenCV pipeline doing the same work:
// building the lens maps, bicubic cv::remap of both lenses and a multi-band blend of both seams.
// Each runs on 1 and on 8 threads (OpenMP and OpenCV's pool alike). BM_VersusOpenCv runs both in
// turn within one iteration and gives ratio = our time / OpenCV's time; take its median over
// repetitions:
//
//   two_lens_bench --benchmark_filter=BM_VersusOpenCv --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include "camera/cam_params_ztm6.h"
#include "imaging/pano_directions.h"

#include <benchmark/benchmark.h>
#include <omp.h>

#ifdef QUORIL_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/stitching/detail/blenders.hpp>
#endif

#include <chrono>
#include <cmath>
#include <cstdint>
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

void renderOurs(Fixture& f, std::vector<uint8_t>& pano)
{
    f.model.blendTwoLensPano(f.lens1.data(), f.lens2.data(), kPanoWidth, kPanoHeight, f.params, pano.data());
    benchmark::DoNotOptimize(pano.data());
}

void BM_BlendTwoLensPano(benchmark::State& state)
{
    Fixture& f = fixture();
    setThreads(state);
    std::vector<uint8_t> pano(static_cast<size_t>(kPanoWidth) * kPanoHeight * 3);
    for (auto _ : state)
        renderOurs(f, pano);
    reportRate(state);
}

#ifdef QUORIL_HAVE_OPENCV
// The same pano through OpenCV: maps from the same geometry and lens model (through the per-pixel
// functions), cv::remap with INTER_CUBIC and a 5-level cv::detail::MultiBandBlender per seam.
class OpenCvPipeline {
public:
    explicit OpenCvPipeline(Fixture& f)
        : m_f(f)
        , m_lens1(kLensHeight, kLensWidth, CV_8UC3, f.lens1.data())
        , m_lens2(kLensHeight, kLensWidth, CV_8UC3, f.lens2.data())
        , m_maskFirst(kPanoHeight, kBand, CV_8U)
        , m_maskSecond(kPanoHeight, kBand, CV_8U)
        , m_pano(kPanoHeight, kPanoWidth, CV_8UC3)
    {
        const BlendMask* weights = f.model.blendMaskFor(kBand, kPanoHeight);
        for (int r = 0; r < kPanoHeight; ++r)
            for (int c = 0; c < kBand; ++c) {
                const bool second = weights->weights[static_cast<size_t>(r) * kBand + c] >= 128;
                m_maskFirst.at<uint8_t>(r, c) = second ? 0 : 255;
                m_maskSecond.at<uint8_t>(r, c) = second ? 255 : 0;
            }
        const double rm = f.model.lenses()[0].RM;
        m_fadeStart = static_cast<float>(std::pow(std::sin(rm), 2));
        m_fadeEnd = static_cast<float>(std::pow(std::sin(rm + (M_PI / 2 - rm) / 2), 2));
    }

    void run()
    {
        cv::Mat mapX(kPanoHeight, kPanoWidth, CV_32F), mapY(kPanoHeight, kPanoWidth, CV_32F);
        const PanoDirections directions(kPanoWidth, kPanoHeight, kLensHeight, m_f.params);
#pragma omp parallel for schedule(static)
        for (int r = 0; r < kPanoHeight; ++r) {
            auto* mx = mapX.ptr<float>(r);
            auto* my = mapY.ptr<float>(r);
            for (int c = 0; c < kPanoWidth; ++c) {
                float x = 0, y = 0;
                directions.lensPosition(r, c, x, y);
                m_f.model.lensProject(x, y, m_fadeStart, m_fadeEnd, mx[c], my[c]);
            }
        }
        // dst shares its pixels with the pano where it is a view; otherwise remap allocates it.
        auto remapColumns = [&](const cv::Mat& lens, int from, int to, cv::Mat dst) {
            cv::remap(lens, dst, mapX.colRange(from, to), mapY.colRange(from, to), cv::INTER_CUBIC, cv::BORDER_WRAP);
            return dst;
        };
        remapColumns(m_lens2, 0, kS1, m_pano.colRange(0, kS1));
        remapColumns(m_lens1, kS1 + kBand, kS2, m_pano.colRange(kS1 + kBand, kS2));
        remapColumns(m_lens2, kS2 + kBand, kPanoWidth, m_pano.colRange(kS2 + kBand, kPanoWidth));
        for (int seam = 0; seam < 2; ++seam) {
            const int start = seam == 0 ? kS1 : kS2;
            const cv::Mat first = remapColumns(seam == 0 ? m_lens2 : m_lens1, start, start + kBand, cv::Mat());
            const cv::Mat second = remapColumns(seam == 0 ? m_lens1 : m_lens2, start, start + kBand, cv::Mat());
            cv::detail::MultiBandBlender blender(false, 5);
            blender.prepare(cv::Rect(0, 0, kBand, kPanoHeight));
            cv::Mat first16, second16, blended, blendedMask;
            first.convertTo(first16, CV_16SC3);
            second.convertTo(second16, CV_16SC3);
            blender.feed(first16, m_maskFirst, cv::Point(0, 0));
            blender.feed(second16, m_maskSecond, cv::Point(0, 0));
            blender.blend(blended, blendedMask);
            blended.convertTo(m_pano.colRange(start, start + kBand), CV_8UC3);
        }
        benchmark::DoNotOptimize(m_pano.data);
    }

private:
    static constexpr int kBand = kPanoWidth / 8;
    static constexpr int kS1 = kPanoWidth / 4 - kBand / 2;
    static constexpr int kS2 = 3 * kPanoWidth / 4 - kBand / 2;
    Fixture& m_f;
    cv::Mat m_lens1, m_lens2, m_maskFirst, m_maskSecond, m_pano;
    float m_fadeStart = 0.0f, m_fadeEnd = 0.0f;
};

void BM_OpenCvRemapAndBlend(benchmark::State& state)
{
    OpenCvPipeline pipeline(fixture());
    setThreads(state);
    for (auto _ : state)
        pipeline.run();
    reportRate(state);
}

// Both in turn, the order swapped every iteration (and repetition: one iteration may be all a
// repetition takes) so that neither always runs on a warm cache or a quiet machine. The iteration
// time is ours.
void BM_VersusOpenCv(benchmark::State& state)
{
    Fixture& f = fixture();
    OpenCvPipeline pipeline(f);
    setThreads(state);
    std::vector<uint8_t> pano(static_cast<size_t>(kPanoWidth) * kPanoHeight * 3);
    using Clock = std::chrono::steady_clock;
    auto seconds = [](auto&& work) {
        const Clock::time_point start = Clock::now();
        work();
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    double ours = 0.0, theirs = 0.0;
    static bool oursFirst = true;
    for (auto _ : state) {
        double mine = 0.0;
        if (oursFirst) {
            mine = seconds([&] { renderOurs(f, pano); });
            theirs += seconds([&] { pipeline.run(); });
        } else {
            theirs += seconds([&] { pipeline.run(); });
            mine = seconds([&] { renderOurs(f, pano); });
        }
        oursFirst = !oursFirst;
        ours += mine;
        state.SetIterationTime(mine);
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = ours * 1e3 / iterations;
    state.counters["opencv_ms"] = theirs * 1e3 / iterations;
    state.counters["ratio"] = ours / theirs;
}
#endif

void threadArgs(benchmark::internal::Benchmark* b)
{
    b->ArgName("threads")->Arg(1)->Arg(8);
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}
} // namespace

BENCHMARK(BM_BlendTwoLensPano)->Apply(threadArgs);
#ifdef QUORIL_HAVE_OPENCV
BENCHMARK(BM_OpenCvRemapAndBlend)->Apply(threadArgs);
BENCHMARK(BM_VersusOpenCv)->ArgName("threads")->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseManualTime();
#endif
BENCHMARK_MAIN();
