// Writing the export archive of a generated 200-scan project (100 two-lens and 100 user scans on
// four floors, panos already built) beside GNU tar -cf of the same files into the same folder,
// with records of 128 KiB as ours and ustar headers. Each round runs both, each after a sync so
// that they meet the same page cache, GNU tar first in every other round. Counters: ours_s and
// tar_s, the medians of the rounds, and ratio = ours_s / tar_s (below 1 ours is faster; the goal is
// 1.11 or less, at least 0.9 of GNU tar's speed).
//
//   [QUORIL_BENCH_PROJECT=folder] build/bench/export_bench

#include "export/archive_export.h"
#include "model/building.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThreadPool>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// With QUORIL_BENCH_PROJECT naming a folder, the project is made and built there once and taken
// as it is on later runs.
struct BuiltProject {
    QTemporaryDir root;
    QString folder = qEnvironmentVariableIsEmpty("QUORIL_BENCH_PROJECT") ? root.filePath("Bench House")
                                                                         : qEnvironmentVariable("QUORIL_BENCH_PROJECT");
    std::unique_ptr<Property> property = std::make_unique<Property>();
    QStringList copiedFiles; // relative to the folder: what the archive copies from disk
    bool ready = false;
    QString listPath() const { return root.filePath("list"); }

    BuiltProject()
    {
        const bool madeBefore = QFileInfo::exists(folder + "/quoril.qjs");
        if (!madeBefore) {
            const QString script =
                QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../tests/support/make_project.py";
            QProcess generator;
            generator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            generator.start("/usr/bin/python3", {script, folder, "--floors", "4", "--scans-per-floor", "25",
                                                 "--user-scans", "25", "--no-pictures", "--no-missing-main-image"});
            if (!generator.waitForFinished(1800000) || generator.exitCode() != 0)
                return;
        }
        if (!property->load(folder))
            return;
        try {
            if (!madeBefore)
                property->quorilPanos();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "build pass: %s\n", e.what());
            return;
        }
        for (const char* file : {"system.cfg", "quorillog.txt", "nomivolog.txt"})
            if (QFileInfo::exists(folder + "/" + file))
                copiedFiles << file;
        const QDir base(folder);
        for (Building* building : property->buildings())
            for (Floor* floor : building->floors())
                for (Panorama* pano : floor->panos())
                    for (const char* file : {"t.pic", "s.pic", "pc.dat"})
                        if (QFileInfo::exists(pano->folder() + "/" + file))
                            copiedFiles << base.relativeFilePath(pano->folder() + "/" + file);
        QFile list(listPath());
        ready = list.open(QIODevice::WriteOnly) && list.write(copiedFiles.join('\n').toUtf8() + '\n') > 0;
    }
};

double seconds(const QElapsedTimer& clock)
{
    return static_cast<double>(clock.nsecsElapsed()) * 1e-9;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t half = values.size() / 2;
    return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2.0;
}

// Made on first use; gone before the application object.
std::unique_ptr<BuiltProject> builtProject;

void BM_ExportArchiveBesideTar(benchmark::State& state)
{
    if (!builtProject)
        builtProject = std::make_unique<BuiltProject>();
    BuiltProject& project = *builtProject;
    if (!project.ready) {
        state.SkipWithError("the project could not be generated, loaded or built");
        return;
    }
    // Both write into a folder without an older archive of theirs to replace.
    const QString tarOut = project.root.filePath("gnu.tar");
    const QString exportFolder = project.folder + "/_Export";
    std::vector<double> ours, tar;
    const auto runOurs = [&] {
        QDir(exportFolder).removeRecursively();
        ::sync();
        QElapsedTimer clock;
        clock.start();
        ArchiveExport(*project.property).run();
        ours.push_back(seconds(clock));
    };
    const auto runTar = [&] {
        QFile::remove(tarOut);
        ::sync();
        QElapsedTimer clock;
        clock.start();
        QProcess gnu;
        gnu.start("tar", {"--format=ustar", "-b", "256", "-cf", tarOut, "-C", project.folder, "-T", project.listPath()});
        if (!gnu.waitForFinished(600000) || gnu.exitCode() != 0)
            state.SkipWithError("tar failed");
        tar.push_back(seconds(clock));
    };
    for (auto _ : state) {
        if (ours.size() % 2 == 0) {
            runOurs();
            runTar();
        } else {
            runTar();
            runOurs();
        }
    }
    QFile::remove(tarOut);
    qint64 bytes = 0;
    for (const QString& file : project.copiedFiles)
        bytes += QFileInfo(project.folder + "/" + file).size();
    state.counters["files"] = static_cast<double>(project.copiedFiles.size());
    state.counters["MiB"] = static_cast<double>(bytes) / (1 << 20);
    state.counters["ours_s"] = median(ours);
    state.counters["tar_s"] = median(tar);
    state.counters["ratio"] = median(ours) / median(tar);
}

} // namespace

BENCHMARK(BM_ExportArchiveBesideTar)->Iterations(7)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Building 200 panos once is the slow part of the set-up; leave the other half of the machine free.
    QThreadPool::globalInstance()->setMaxThreadCount(std::max(1, QThreadPool::globalInstance()->maxThreadCount() / 2));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    builtProject.reset();
    return 0;
}
