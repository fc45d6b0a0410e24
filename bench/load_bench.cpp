// Wall time of loading a generated 200-scan project (100 two-lens scans, 100 user scans on four
// floors) with 1, 2 and all threads of Qt's global pool, whose size the load's parallel reload
// follows. Every iteration starts from the raw folder: previews, records and the saved project
// file of the previous iteration are removed while the clock is stopped.
//
//   build/bench/load_bench --benchmark_min_time=1x

#include "base/cipher.h"
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

#include <cstdio>
#include <memory>

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

void BM_LoadProject(benchmark::State& state)
{
    const QString folder = projectFolder();
    const int saved = QThreadPool::globalInstance()->maxThreadCount();
    QThreadPool::globalInstance()->setMaxThreadCount(static_cast<int>(state.range(0)));
    int scans = 0;
    for (auto _ : state) {
        state.PauseTiming();
        removeLoadResults(folder);
        auto property = std::make_unique<Property>();
        state.ResumeTiming();
        const bool loaded = property->load(folder);
        state.PauseTiming();
        if (!loaded)
            state.SkipWithError("the project did not load completely");
        scans = 0;
        for (Building* building : property->buildings())
            for (Floor* floor : building->floors())
                scans += static_cast<int>(floor->panos().size());
        property.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["scans"] = scans;
    QThreadPool::globalInstance()->setMaxThreadCount(saved);
}

} // namespace

BENCHMARK(BM_LoadProject)
    ->Arg(1)
    ->Arg(2)
    ->Arg(QThread::idealThreadCount())
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
