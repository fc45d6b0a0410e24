// The one-lens lidar camera's scan work: the lidar heading estimate on three sweeps of 20 000
// points, and the fusion of three camera-sized exposures (3456 x 3456) beside OpenCV's
// exposure fusion on the same exposures, and the whole build of "h1.jpg" from "p0.jpg" .. "p2.jpg".
#include "camera/cam_params_ztm5.h"
#include "camera/lidar_heading.h"
#include "imaging/hdr_merge.h"
#include "imaging/jpeg_writer.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <omp.h>

#ifdef QUORIL_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/photo.hpp>
#endif

#include <array>
#include <cmath>
#include <thread>
#include <vector>

namespace {
constexpr int kSide = 3456;
constexpr int kSweepPoints = 20000;

// An L-shaped room around the scanner (mm, y down): distance to its walls along angle a (atan2(-y, x)).
double roomDistance(double a)
{
    static const double room[][2] = {{-2600, -1900}, {1300, -1900}, {1300, -700}, {3100, -700}, {3100, 2300}, {-2600, 2300}};
    const double dx = std::cos(a), dy = -std::sin(a);
    double best = 1e9;
    for (int i = 0; i < 6; ++i) {
        const double ax = room[i][0], ay = room[i][1];
        const double ex = room[(i + 1) % 6][0] - ax, ey = room[(i + 1) % 6][1] - ay;
        const double denom = dx * ey - dy * ex;
        if (std::fabs(denom) < 1e-12)
            continue;
        const double t = (ax * ey - ay * ex) / denom, u = (ax * dy - ay * dx) / denom;
        if (t > 0 && u >= 0 && u <= 1)
            best = std::min(best, t);
    }
    return best;
}

std::array<QList<QPoint>, 3> sweeps()
{
    const double turns[3] = {0.0, 241.6, 117.65};
    std::array<QList<QPoint>, 3> out;
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < kSweepPoints; ++i) {
            const double own = (i + 0.3 * k) * 360.0 / kSweepPoints;
            const double d = roomDistance((own + turns[k]) * M_PI / 180.0);
            const double a = own * M_PI / 180.0;
            out[size_t(k)].append(QPoint(int(std::lround(d * std::cos(a))), int(std::lround(-d * std::sin(a)))));
        }
    return out;
}

// Three bracketed exposures of one textured, colourful scene.
struct Exposures {
    QByteArray exposure[3];
    Exposures()
    {
        const float gains[3] = {0.3f, 1.0f, 3.5f};
        for (int k = 0; k < 3; ++k) {
            QByteArray& rgb = exposure[k];
            rgb.resize(qsizetype(kSide) * kSide * 3);
            for (int y = 0; y < kSide; ++y)
                for (int x = 0; x < kSide; ++x)
                    for (int c = 0; c < 3; ++c) {
                        const float light = (0.15f + 0.85f * float(y) / kSide) * (0.6f + 0.2f * float(c))
                            * (1.0f + 0.15f * std::sin(float(x) * 0.05f + float(c)) + 0.1f * float(((x >> 3) ^ (y >> 3)) & 1));
                        const float v = 255.0f * std::pow(std::min(light * gains[k], 1.0f), 1.0f / 2.2f);
                        rgb[(qsizetype(y) * kSide + x) * 3 + c] = char(uint8_t(v + 0.5f));
                    }
        }
    }
};

Exposures& exposures()
{
    static Exposures e;
    return e;
}

void setThreads(benchmark::State& state)
{
    omp_set_num_threads(static_cast<int>(state.range(0)));
#ifdef QUORIL_HAVE_OPENCV
    cv::setNumThreads(static_cast<int>(state.range(0)));
#endif
}

void BM_EstimateLidarHeading(benchmark::State& state)
{
    const std::array<QList<QPoint>, 3> lists = sweeps();
    for (auto _ : state) {
        std::array<float, 3> headings = {0.0f, 4.18879f, 2.094395f};
        estimateLidarHeading(lists, headings, 2);
        benchmark::DoNotOptimize(headings.data());
    }
}

void BM_MergeHdr(benchmark::State& state)
{
    Exposures& e = exposures();
    setThreads(state);
    QByteArray fused;
    for (auto _ : state) {
        mergeHdr(e.exposure[0], e.exposure[1], e.exposure[2], fused, kSide, true, 0.2f, -1);
        benchmark::DoNotOptimize(fused.data());
    }
}

#ifdef QUORIL_HAVE_OPENCV
// The same fusion (contrast, saturation and well-exposedness weights, sigma 0.2) down to 8-bit.
void BM_OpenCvMergeMertens(benchmark::State& state)
{
    Exposures& e = exposures();
    setThreads(state);
    std::vector<cv::Mat> images;
    for (QByteArray& rgb : e.exposure)
        images.emplace_back(kSide, kSide, CV_8UC3, rgb.data());
    cv::Ptr<cv::MergeMertens> merge = cv::createMergeMertens(1.0f, 1.0f, 1.0f);
    cv::Mat fused, bytes;
    for (auto _ : state) {
        merge->process(images, fused);
        fused.convertTo(bytes, CV_8UC3, 255.0);
        benchmark::DoNotOptimize(bytes.data);
    }
}
#endif

// Reading the three JPEG exposures, the fusion and writing "h1.jpg".
void BM_BuildHdrImage(benchmark::State& state)
{
    Exposures& e = exposures();
    setThreads(state);
    QTemporaryDir dir;
    for (int k = 0; k < 3; ++k)
        saveJpgFile(dir.filePath(QString("p%1.jpg").arg(k)), reinterpret_cast<const uint8_t*>(e.exposure[k].constData()),
                    kSide, kSide, 95, false);
    CamParamsZTM5 model;
    for (auto _ : state) {
        model.buildHdrImage(dir.path(), 1, true, dir.path());
        state.PauseTiming();
        QFile::remove(dir.filePath("h1.jpg"));
        state.ResumeTiming();
    }
}

void threadArgs(benchmark::internal::Benchmark* b)
{
    b->ArgName("threads")->Arg(1)->Arg(static_cast<int>(std::thread::hardware_concurrency()));
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}
} // namespace

BENCHMARK(BM_EstimateLidarHeading)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MergeHdr)->Apply(threadArgs);
#ifdef QUORIL_HAVE_OPENCV
BENCHMARK(BM_OpenCvMergeMertens)->Apply(threadArgs);
#endif
BENCHMARK(BM_BuildHdrImage)->Apply(threadArgs);
BENCHMARK_MAIN();
