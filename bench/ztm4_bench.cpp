// The laser-line camera's HDR build: a scan folder's nine camera-sized exposures (4272 x 2848,
// three per shot) become the shots "ha.jpg" .. "hc.jpg" (read, cut to the square, chromatic
// correction, fusion, written at quality 91), beside the same road through OpenCV: read, cut,
// Mertens exposure fusion, written at quality 91.
//
// The exposures are made once and kept in $QUORIL_ZTM4_BENCH_DIR (default: a folder in the
// system's temporary folder), so that a run of this program spends its time on the builds.
#include "camera/cam_params_ztm4.h"
#include "imaging/jpeg_writer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <omp.h>

#ifdef QUORIL_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/photo.hpp>
#endif

#include <cmath>
#include <thread>
#include <vector>

namespace {
constexpr int kWidth = 4272;
constexpr int kHeight = 2848;
constexpr int kHdrJpegQuality = 91;
const char kLetters[] = "abc";

QString exposureName(int shot, int exposure)
{
    return QStringLiteral("p%1%2.jpg").arg(QChar(kLetters[shot])).arg(exposure);
}

// Three bracketed exposures of each shot's own textured, colourful scene.
QString exposureFolder()
{
    const QString folder = qEnvironmentVariableIsSet("QUORIL_ZTM4_BENCH_DIR")
        ? qEnvironmentVariable("QUORIL_ZTM4_BENCH_DIR")
        : QDir::temp().filePath(QStringLiteral("quoril-ztm4-bench"));
    QDir().mkpath(folder);
    const float gains[3] = {0.3f, 1.0f, 3.5f};
    std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
    for (int shot = 0; shot < 3; ++shot)
        for (int k = 0; k < 3; ++k) {
            const QString path = folder + "/" + exposureName(shot, k);
            if (QFile::exists(path))
                continue;
#pragma omp parallel for schedule(static)
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x)
                    for (int c = 0; c < 3; ++c) {
                        const float light = (0.15f + 0.85f * float(y) / kHeight) * (0.6f + 0.2f * float(c))
                            * (1.0f + 0.15f * std::sin(float(x) * 0.05f + float(c + shot))
                               + 0.1f * float(((x >> (3 + shot)) ^ (y >> 3)) & 1));
                        const float v = 255.0f * std::pow(std::min(light * gains[k], 1.0f), 1.0f / 2.2f);
                        rgb[(size_t(y) * kWidth + x) * 3 + c] = uint8_t(v + 0.5f);
                    }
            saveJpgFile(path, rgb.data(), kWidth, kHeight, 95, false);
        }
    return folder;
}

const QString& exposures()
{
    static const QString folder = exposureFolder();
    return folder;
}

void setThreads(benchmark::State& state)
{
    omp_set_num_threads(static_cast<int>(state.range(0)));
#ifdef QUORIL_HAVE_OPENCV
    cv::setNumThreads(static_cast<int>(state.range(0)));
#endif
}

// The product's call: the build takes the exposures away, so each round gets them afresh.
void BM_Ztm4BuildHdrImages(benchmark::State& state)
{
    const QString& source = exposures();
    setThreads(state);
    QTemporaryDir scan;
    CamParamsZTM4 model;
    for (auto _ : state) {
        state.PauseTiming();
        for (int shot = 0; shot < 3; ++shot) {
            QFile::remove(scan.filePath(QStringLiteral("h%1.jpg").arg(QChar(kLetters[shot]))));
            for (int k = 0; k < 3; ++k)
                QFile::copy(source + "/" + exposureName(shot, k), scan.filePath(exposureName(shot, k)));
        }
        state.ResumeTiming();
        model.buildHdrImages(scan.path(), false, scan.path());
    }
    if (!QFile::exists(scan.filePath("hc.jpg")))
        state.SkipWithError("no shot was written");
}

#ifdef QUORIL_HAVE_OPENCV
void BM_OpenCvBuildHdrImages(benchmark::State& state)
{
    const QString& source = exposures();
    setThreads(state);
    QTemporaryDir scan;
    const cv::Rect square((kWidth - kHeight) / 2, 0, kHeight, kHeight);
    cv::Ptr<cv::MergeMertens> merge = cv::createMergeMertens(1.0f, 1.0f, 1.0f);
    std::vector<cv::Mat> images(3);
    cv::Mat fused, bytes;
    for (auto _ : state) {
        for (int shot = 0; shot < 3; ++shot) {
            for (int k = 0; k < 3; ++k)
                images[size_t(k)] =
                    cv::imread((source + "/" + exposureName(shot, k)).toStdString(), cv::IMREAD_COLOR)(square);
            merge->process(images, fused);
            fused.convertTo(bytes, CV_8UC3, 255.0);
            cv::imwrite(scan.filePath(QStringLiteral("h%1.jpg").arg(QChar(kLetters[shot]))).toStdString(), bytes,
                        {cv::IMWRITE_JPEG_QUALITY, kHdrJpegQuality});
        }
    }
    if (!QFile::exists(scan.filePath("hc.jpg")))
        state.SkipWithError("no shot was written");
}
#endif

void threadArgs(benchmark::internal::Benchmark* b)
{
    b->ArgName("threads")->Arg(1)->Arg(static_cast<int>(std::thread::hardware_concurrency()));
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}
} // namespace

BENCHMARK(BM_Ztm4BuildHdrImages)->Apply(threadArgs);
#ifdef QUORIL_HAVE_OPENCV
BENCHMARK(BM_OpenCvBuildHdrImages)->Apply(threadArgs);
#endif
BENCHMARK_MAIN();
