// SHA-1 of a whole file as the scan fingerprint computes it, with either engine, and of buffers
// in memory. The file is the one named by QUORIL_SHA1_BENCH_FILE, or a 100 MB file of
// pseudo-random bytes made for the run. (bench/sha1_bench.sh times the hashing of a file against
// openssl, process for process, through bench/sha1_tool.)
#include "base/sha1.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryFile>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {
std::wstring benchFile()
{
    static std::unique_ptr<QTemporaryFile> made;
    if (const char* named = std::getenv("QUORIL_SHA1_BENCH_FILE"))
        return QString::fromLocal8Bit(named).toStdWString();
    if (!made) {
        made = std::make_unique<QTemporaryFile>();
        made->open();
        std::mt19937 random(7);
        std::vector<uint32_t> block(1 << 18);
        for (int i = 0; i < 100; ++i) {
            for (uint32_t& word : block)
                word = random();
            made->write(reinterpret_cast<const char*>(block.data()), qint64(block.size() * 4));
        }
        made->flush();
    }
    return made->fileName().toStdWString();
}

void hashFile(benchmark::State& state, Sha1::Engine engine)
{
    const std::wstring path = benchFile();
    const qint64 size = QFile(QString::fromStdWString(path)).size();
    Sha1 sha1(engine);
    for (auto _ : state) {
        if (!sha1.hashFile(path.c_str()))
            state.SkipWithError("file could not be hashed");
        benchmark::DoNotOptimize(sha1.digest());
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.SetLabel(sha1.engine() == Sha1::Engine::ShaExtensions ? "sha instructions" : "portable");
}

void BM_Sha1HashFile(benchmark::State& state)
{
    hashFile(state, Sha1::bestEngine());
}

void BM_Sha1HashFilePortable(benchmark::State& state)
{
    hashFile(state, Sha1::Engine::Portable);
}

void BM_Sha1Update(benchmark::State& state)
{
    const std::vector<uint8_t> data(size_t(state.range(0)), 0x5a);
    Sha1 sha1;
    for (auto _ : state) {
        sha1.reset();
        sha1.update(data.data(), data.size());
        sha1.finish();
        benchmark::DoNotOptimize(sha1.digest());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
} // namespace

BENCHMARK(BM_Sha1HashFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Sha1HashFilePortable)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Sha1Update)->Arg(64)->Arg(4096)->Arg(Sha1::kFileChunkSize);

BENCHMARK_MAIN();
