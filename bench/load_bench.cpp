// Wall time of loading a generated 200-scan project (100 two-lens scans, 100 user scans on four
// floors) with 1, 2 and all threads of Qt's global pool, whose size the load's parallel reload
// follows (the cores it may use). Every load starts from the raw folder: previews, records and the
// saved project file of the one before are removed while the clock is stopped.
// BM_LoadSpeedUp loads on one thread and then on all, in turn, and reports the median of the
// pairs' ratios as speed_up (one-thread time / all-thread time).
//
//   build/bench/load_bench
//   build/bench/load_bench --benchmark_filter=BM_LoadSpeedUp
// (A load takes longer than the library's minimum time: one iteration each unless said otherwise.)

#include "base/cipher.h"
#include "base/large_blocks.h"
#include "model/building.h"
#include "model/floor.h"
#include "model/property.h"

#include <QApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

QString keyHex(char selector)
{
    std::uint8_t key[16];
    buildCipherKey(selector, key);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(key), 16).toHex());
}

QTemporaryDir* projectRoot()
{
    static QTemporaryDir root;
    return &root;
}

QString projectFolder()
{
    static const QString folder = [] {
        const QString path = projectRoot()->filePath("Bench House");
        const QString script = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../tests/support/make_project.py";
        QProcess generator;
        generator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        generator.start("/usr/bin/python3", {script, path, "--floors", "4", "--scans-per-floor", "25", "--user-scans",
                                             "25", "--no-pictures", "--no-missing-main-image", "--data-key",
                                             keyHex(CipherKind::Data)});
        if (!generator.waitForFinished(600000) || generator.exitCode() != 0)
            std::fprintf(stderr, "make_project.py failed\n");
        return path;
    }();
    return folder;
}

// Back to the folder as the camera left it.
void removeLoadResults(const QString& folder)
{
    QFile::remove(folder + "/quoril.qjs");
    QFile::remove(folder + "/~quoril.qjs");
    QDirIterator files(folder, {"t.pic", "pano.dat", "pc.dat", "s.pic"}, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext())
        QFile::remove(files.next());
}

class PoolSize {
public:
    explicit PoolSize(int threads) { QThreadPool::globalInstance()->setMaxThreadCount(threads); }
    ~PoolSize() { QThreadPool::globalInstance()->setMaxThreadCount(m_saved); }

private:
    const int m_saved = QThreadPool::globalInstance()->maxThreadCount();
};

struct Load {
    double seconds = 0;
    int scans = -1; // -1: the load failed
};

// One load from the raw folder on that many threads; only the load itself is timed.
Load loadOnce(int threads)
{
    const QString folder = projectFolder();
    removeLoadResults(folder);
    const PoolSize pool(threads);
    auto property = std::make_unique<Property>();
    const auto start = std::chrono::steady_clock::now();
    const bool loaded = property->load(folder);
    Load load{std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0};
    for (Building* building : property->buildings())
        for (Floor* floor : building->floors())
            load.scans += static_cast<int>(floor->panos().size());
    if (!loaded)
        load.scans = -1;
    property.reset();
    QCoreApplication::processEvents();
    return load;
}

void BM_LoadProject(benchmark::State& state)
{
    int scans = 0;
    for (auto _ : state) {
        const Load load = loadOnce(static_cast<int>(state.range(0)));
        if (load.scans < 0)
            state.SkipWithError("the project did not load completely");
        state.SetIterationTime(load.seconds);
        scans = load.scans;
    }
    state.counters["scans"] = scans;
}

void BM_LoadSpeedUp(benchmark::State& state)
{
    std::vector<double> ratios;
    for (auto _ : state) {
        const Load alone = loadOnce(1);
        const Load all = loadOnce(QThread::idealThreadCount());
        if (alone.scans < 0 || all.scans < 0)
            state.SkipWithError("the project did not load completely");
        state.SetIterationTime(all.seconds);
        ratios.push_back(alone.seconds / all.seconds);
    }
    std::sort(ratios.begin(), ratios.end());
    state.counters["speed_up"] = ratios.empty() ? 0 : ratios[ratios.size() / 2];
    state.counters["threads"] = QThread::idealThreadCount();
}

} // namespace

BENCHMARK(BM_LoadProject)
    ->Arg(1)
    ->Arg(2)
    ->Arg(QThread::idealThreadCount())
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->MeasureProcessCPUTime();
BENCHMARK(BM_LoadSpeedUp)->Iterations(3)->Unit(benchmark::kMillisecond)->UseManualTime();

int main(int argc, char** argv)
{
    returnLargeBlocksToTheSystem(); // as the program does at start
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
