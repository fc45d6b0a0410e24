// The pano build pass over 16 two-lens scans of camera size (3840 x 1920 lens images, 7200 x 3600
// panos) as an export runs it, one scan per pool thread with one OpenMP thread each, beside
// building the scans one at a time with every OpenMP thread; both limited to N cores (the pool's
// size, the OpenMP thread count). speed-up at N = one-at-a-time time / pass time.
//
//   build/bench/build_pass_bench

#include "model/building.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"

#include <QApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>

#include <benchmark/benchmark.h>
#include <omp.h>

#include <cstdio>
#include <memory>

namespace {

struct LoadedProject {
    QTemporaryDir root;
    QString folder = root.filePath("Sixteen");
    std::unique_ptr<Property> property = std::make_unique<Property>();
    QList<Panorama*> scans;

    LoadedProject()
    {
        const QString script = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../tests/support/make_project.py";
        QProcess generator;
        generator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        generator.start("/usr/bin/python3", {script, folder, "--floors", "1", "--scans-per-floor", "16", "--user-scans",
                                             "0", "--no-pictures", "--no-missing-main-image", "--realistic"});
        if (!generator.waitForFinished(1800000) || generator.exitCode() != 0 || !property->load(folder))
            return;
        for (Building* building : property->buildings())
            for (Floor* floor : building->floors())
                scans += floor->panos();
    }
};

// Made on first use; gone before the application object.
std::unique_ptr<LoadedProject> loadedProject;

LoadedProject& project()
{
    if (!loadedProject)
        loadedProject = std::make_unique<LoadedProject>();
    return *loadedProject;
}

class CoreLimit {
public:
    explicit CoreLimit(int cores)
    {
        QThreadPool::globalInstance()->setMaxThreadCount(cores);
        omp_set_num_threads(cores);
    }
    ~CoreLimit()
    {
        QThreadPool::globalInstance()->setMaxThreadCount(m_pool);
        omp_set_num_threads(m_omp);
    }

private:
    const int m_pool = QThreadPool::globalInstance()->maxThreadCount();
    const int m_omp = omp_get_max_threads();
};

// The loaded project, or null after marking the benchmark skipped.
LoadedProject* sixteenScans(benchmark::State& state)
{
    LoadedProject& loaded = project();
    if (loaded.scans.size() == 16)
        return &loaded;
    state.SkipWithError("the project could not be generated or loaded");
    return nullptr;
}

void BM_BuildPass(benchmark::State& state)
{
    LoadedProject* loaded = sixteenScans(state);
    const CoreLimit limit(static_cast<int>(state.range(0)));
    for (auto _ : state)
        loaded->property->quorilPanos();
}

void BM_OneScanAtATime(benchmark::State& state)
{
    LoadedProject* loaded = sixteenScans(state);
    const CoreLimit limit(static_cast<int>(state.range(0)));
    for (auto _ : state)
        for (Panorama* pano : loaded->scans)
            pano->buildPano();
}

} // namespace

BENCHMARK(BM_BuildPass)
    ->Arg(1)->Arg(2)->Arg(4)->Arg(QThread::idealThreadCount())
    ->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OneScanAtATime)
    ->Arg(1)->Arg(2)->Arg(4)->Arg(QThread::idealThreadCount())
    ->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    loadedProject.reset();
    return 0;
}
