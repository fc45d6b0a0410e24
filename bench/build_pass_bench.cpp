// The pano build pass of an export over 1, 3, 8 and 16 two-lens scans of camera size (3840 x 1920
// lens images, 7200 x 3600 panos) on all cores. Each iteration times, in turn:
//   - the yardstick: one scan built alone with every OpenMP thread;
//   - the schedule the pass had before: a scan per core, one OpenMP thread each, as many at once
//     as there are cores;
//   - the pass (Property::quorilPanos).
// A pass of N scans should take about max(1, N / cores) times the yardstick.
//
// Counters, medians over the iterations of ratios taken within one iteration:
//   goal_ratio     pass time / (max(1, N / cores) x yardstick time)
//   vs_before      pass time / time of the schedule before
// and the largest over the iterations of:
//   peak_MB        the process's peak resident memory during the pass (the loaded project included)
//   before_peak_MB the same during the schedule before
//   start_MB       its resident memory when the pass started
//
//   build/bench/build_pass_bench [--benchmark_filter=BM_BuildPass/16]

#include "base/large_blocks.h"
#include "base/progress.h"
#include "model/building.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"
#include "model/scan_pass.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>

#include <benchmark/benchmark.h>
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int kMostScans = 16;

QTemporaryDir& benchRoot()
{
    static QTemporaryDir root;
    return root;
}

// The generated project of every scan the passes take, never loaded itself; empty on failure.
QString generatedProject()
{
    static const QString folder = [] {
        const QString path = benchRoot().filePath("Generated");
        const QString script = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../tests/support/make_project.py";
        QProcess generator;
        generator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        generator.start("/usr/bin/python3", {script, path, "--floors", "1", "--scans-per-floor",
                                             QString::number(kMostScans), "--user-scans", "0", "--no-pictures",
                                             "--no-missing-main-image", "--realistic"});
        const bool made = generator.waitForFinished(1800000) && generator.exitCode() == 0;
        return made ? path : QString();
    }();
    return folder;
}

// A copy of the generated project (its files linked, not copied) that keeps the first `count`
// scans, loaded.
struct ScanProject {
    std::unique_ptr<Property> property = std::make_unique<Property>();
    QList<Panorama*> scans;

    explicit ScanProject(int count)
    {
        const QString source = generatedProject();
        if (source.isEmpty())
            return;
        const QString folder = benchRoot().filePath(QString("Scans %1").arg(count));
        QDir(folder).removeRecursively();
        if (QProcess::execute("cp", {"-al", source, folder}) != 0)
            return;
        const QString floor = folder + "/Ground";
        const QStringList scanDirs = QDir(floor).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString& dir : scanDirs.mid(count))
            QDir(floor + "/" + dir).removeRecursively();
        if (!property->load(folder))
            return;
        for (Building* building : property->buildings())
            for (Floor* f : building->floors())
                scans += f->panos();
    }
};

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

// A field of /proc/self/status in MB ("VmHWM", "VmRSS").
double statusMegabytes(const char* field)
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ":";
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// The peak resident memory starts again from what is resident now.
void resetPeakMemory()
{
    QFile clearRefs("/proc/self/clear_refs");
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

double secondsOf(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// On a thread of its own, as the pass's builds run: the GUI thread builds the same scan more
// slowly here (1.5 s against 1.1 s at camera size), which would flatter the pass.
void oneScanOnAllCores(Panorama* scan, int cores)
{
    std::thread([scan, cores] {
        omp_set_num_threads(cores);
        scan->buildPano();
    }).join();
}

// The scans built as the pass did before: a task per core, each on one OpenMP thread.
void scheduleBefore(const QList<Panorama*>& scans)
{
    QList<PanoTask> tasks;
    for (Panorama* pano : scans)
        tasks.append({pano, QString()});
    const std::unique_ptr<Progress> progress = openProgress({});
    ScanPass::Options options;
    options.progress = progress.get();
    options.body = [](PanoTask& task) {
        omp_set_num_threads(1);
        task.pano->buildPano();
    };
    ScanPass::run(tasks, options);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Runs work and returns its seconds and the peak resident memory meanwhile in MB.
std::pair<double, double> timedWithPeak(const std::function<void()>& work)
{
    resetPeakMemory();
    const double seconds = secondsOf(work);
    return {seconds, statusMegabytes("VmHWM")};
}

void BM_BuildPass(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const int cores = QThread::idealThreadCount();
    const ScanProject project(count);
    if (project.scans.size() != count) {
        state.SkipWithError("the project could not be generated or loaded");
        return;
    }
    const CoreLimit limit(cores);
    std::vector<double> goalRatios, beforeRatios;
    double peak = 0, beforePeak = 0, start = 0;
    for (auto _ : state) {
        const double yardstick = secondsOf([&] { oneScanOnAllCores(project.scans.first(), cores); });
        const auto [before, beforeMemory] = timedWithPeak([&] { scheduleBefore(project.scans); });
        start = std::max(start, statusMegabytes("VmRSS"));
        const auto [pass, passMemory] = timedWithPeak([&] { project.property->quorilPanos(); });
        state.SetIterationTime(pass);
        goalRatios.push_back(pass / (std::max(1.0, double(count) / cores) * yardstick));
        beforeRatios.push_back(pass / before);
        peak = std::max(peak, passMemory);
        beforePeak = std::max(beforePeak, beforeMemory);
    }
    state.counters["goal_ratio"] = median(goalRatios);
    state.counters["vs_before"] = median(beforeRatios);
    state.counters["peak_MB"] = peak;
    state.counters["before_peak_MB"] = beforePeak;
    state.counters["start_MB"] = start;
    state.counters["cores"] = cores;
}

} // namespace

BENCHMARK(BM_BuildPass)
    ->Arg(1)->Arg(3)->Arg(8)->Arg(kMostScans)
    ->Iterations(3)->Unit(benchmark::kMillisecond)->UseManualTime();

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
