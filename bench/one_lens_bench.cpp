// One-lens quick renders beside OpenCV doing the same work: building the shot maps from the same
// lens model (on all cores) and a nearest-pixel cv::remap of each shot's sector. Also the colour
// equalisation and the blended three-shot pano on their own.
#include "camera/cam_params_one_lens.h"
#include "camera/one_lens_render.h"

#include <benchmark/benchmark.h>

#ifdef QUORIL_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include <cmath>
#include <cstdint>
#include <vector>

namespace {
constexpr int kShot = 3456;

class BenchModel : public CamParamsOneLens {
public:
    BenchModel()
    {
        IMGWIDTH = IMGHEIGHT = kShot;
        const float lens[LensTermCount] = {1070.0f, 1731.5f, 1722.0f, 1.0f, 2e-8f, 0, 0, 1e-6f, -1e-6f, 0};
        for (int i = 0; i < LensTermCount; ++i)
            setLensTerm(i, lens[i]);
    }
    bool loadSystemFile(const QString&) override { return false; }
    bool saveSystemFile(const QString&) override { return false; }
    std::string modelName() const override { return "bench"; }
    void loadFisheyeImage(const QString&, int, QByteArray&, bool) const override {}
    void loadScanData(const QString&, ImageParams&, ScanData&, const LidarReadOptions&) const override {}
    int laserOffset() const override { return 0; }
    void updateSystemFile(const QString&, int, QWidget*) override {}
    void updateFirmware(const QString&, const QString&, QWidget*) override {}
    void adjustLensCenter(const uint8_t*, const uint8_t*, const uint8_t*) override {}
};

struct Fixture {
    BenchModel model;
    ImageParams params;
    std::vector<uint8_t> shots[3];
    Fixture()
    {
        model.initBlendMasks(7200, 1800);
        params[ImageParams::ROLL_GLOBAL] = 0.02f;
        params[ImageParams::PITCH_GLOBAL] = -0.03f;
        params[ImageParams::YAW_2] = 0.01f;
        for (int k = 0; k < 3; ++k) {
            shots[k].resize(size_t(kShot) * kShot * 3);
            for (size_t i = 0; i < shots[k].size(); ++i)
                shots[k][i] = uint8_t((i * 7 + k * 31 + (i / (kShot * 3)) * 5) & 0xff);
        }
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void BM_RenderPano(benchmark::State& state)
{
    Fixture& f = fixture();
    const int w = int(state.range(0)), h = int(state.range(1));
    std::vector<uint8_t> out(size_t(w) * h * 3);
    for (auto _ : state) {
        f.model.renderPano(f.shots[0].data(), f.shots[1].data(), f.shots[2].data(), w, h, f.params, out.data());
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_RenderStrip(benchmark::State& state)
{
    Fixture& f = fixture();
    const int w = int(state.range(0)), h = int(state.range(1));
    std::vector<uint8_t> out(size_t(w) * h);
    for (auto _ : state) {
        f.model.renderStrip(f.shots[0].data(), f.shots[1].data(), f.shots[2].data(), w, h, f.params, out.data());
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_ThreeShotPano(benchmark::State& state)
{
    Fixture& f = fixture();
    const int w = int(state.range(0));
    std::vector<uint8_t> out(size_t(w) * (w / 2) * 3);
    for (auto _ : state) {
        renderThreeShotPano(f.model, f.shots[0].data(), f.shots[1].data(), f.shots[2].data(), w, f.params, out.data());
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_EqualizeShotColors(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        ImageParams p = f.params;
        f.model.equalizeShotColors(f.shots[0].data(), f.shots[1].data(), f.shots[2].data(), p);
        benchmark::DoNotOptimize(p.values.data());
    }
}

#ifdef QUORIL_HAVE_OPENCV
// The same render as map building plus cv::remap: per shot, a map over its sector's columns.
void BM_OpenCvRemap(benchmark::State& state)
{
    Fixture& f = fixture();
    const int w = int(state.range(0)), h = int(state.range(1));
    const bool grey = state.range(2) != 0;
    float m[3][9];
    shotRotations(f.params, m);
    const float step = 6.283185f / float(w);
    // Sector column ranges: theta < 30 and >= 270 shot 3, 30..150 shot 1, 150..270 shot 2.
    const int c30 = w * 11 / 12, c150 = w * 7 / 12, c270 = w / 4;
    struct Sector {
        int shot, from, to;
    };
    const Sector sectors[] = {{2, 0, c270}, {1, c270, c150}, {0, c150, c30}, {2, c30, w}};
    cv::Mat shotMats[3];
    cv::Mat greyShots[3];
    for (int k = 0; k < 3; ++k) {
        shotMats[k] = cv::Mat(kShot, kShot, CV_8UC3, f.shots[k].data());
        cv::extractChannel(shotMats[k], greyShots[k], 1);
    }
    cv::Mat out(h, w, grey ? CV_8UC1 : CV_8UC3);
    cv::Mat mapX(h, w, CV_32FC1), mapY(h, w, CV_32FC1);
    for (auto _ : state) {
#pragma omp parallel for schedule(static)
        for (int j = 0; j < h; ++j) {
            const float t = std::tan(float(h / 2 - j) * step);
            float* mx = mapX.ptr<float>(j);
            float* my = mapY.ptr<float>(j);
            for (const Sector& s : sectors)
                for (int i = s.from; i < s.to; ++i) {
                    const float theta = 6.283185f - float(i) * step;
                    const float d[3] = {std::cos(theta), t, std::sin(theta)};
                    const float* r = m[s.shot];
                    projectRay(f.model, r[0] * d[0] + r[1] * d[1] + r[2] * d[2], r[3] * d[0] + r[4] * d[1] + r[5] * d[2],
                               r[6] * d[0] + r[7] * d[1] + r[8] * d[2], mx[i], my[i]);
                }
        }
        for (const Sector& s : sectors) {
            const cv::Range columns(s.from, s.to);
            cv::Mat target = out.colRange(columns);
            cv::remap(grey ? greyShots[s.shot] : shotMats[s.shot], target, mapX.colRange(columns),
                      mapY.colRange(columns), cv::INTER_NEAREST, cv::BORDER_CONSTANT);
        }
        benchmark::DoNotOptimize(out.data);
    }
}
#endif
} // namespace

// Interleaved: ours, then OpenCV, for each size.
BENCHMARK(BM_RenderPano)->Args({7200, 3600})->Unit(benchmark::kMillisecond)->UseRealTime();
#ifdef QUORIL_HAVE_OPENCV
BENCHMARK(BM_OpenCvRemap)->Args({7200, 3600, 0})->Unit(benchmark::kMillisecond)->UseRealTime();
#endif
BENCHMARK(BM_RenderStrip)->Args({1200, 200})->Unit(benchmark::kMillisecond)->UseRealTime();
#ifdef QUORIL_HAVE_OPENCV
BENCHMARK(BM_OpenCvRemap)->Args({1200, 200, 1})->Unit(benchmark::kMillisecond)->UseRealTime();
#endif
BENCHMARK(BM_EqualizeShotColors)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ThreeShotPano)->Arg(7200)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
