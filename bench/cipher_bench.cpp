// Envelope throughput on contents of 1, 8 and 64 MB, on one thread and with eight threads each
// working on its own buffer. bench/cipher_vs_openssl.sh sets the results against openssl, interleaved.

#include "base/cipher.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

constexpr qsizetype kMegabyte = 1 << 20;

QByteArray filledContent(qsizetype size)
{
    QByteArray content(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        content[i] = char(i * 131 + (i >> 12));
    return content;
}

void BM_Encipher(benchmark::State& state)
{
    const qsizetype size = state.range(0) * kMegabyte;
    QByteArray data = filledContent(size);
    for (auto _ : state) {
        encipherBytes(data, CipherKind::Data);
        benchmark::DoNotOptimize(data.data());
        // Back to the content's length; the capacity stays, so the next round does not reallocate.
        data.truncate(size);
    }
    state.SetBytesProcessed(state.iterations() * size);
}

void BM_Decipher(benchmark::State& state)
{
    const qsizetype size = state.range(0) * kMegabyte;
    QByteArray data = filledContent(size);
    encipherBytes(data, CipherKind::Data);
    for (auto _ : state) {
        decipherBytes(data, CipherKind::Data);
        benchmark::DoNotOptimize(data.data());
        // Deciphering garbage costs the same as deciphering an envelope: regrow and go again.
        data.resize(size + kEnvelopeOverhead);
    }
    state.SetBytesProcessed(state.iterations() * size);
}

} // namespace

BENCHMARK(BM_Encipher)->Arg(1)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Encipher)->Arg(1)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime()->Threads(8);
BENCHMARK(BM_Decipher)->Arg(1)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Decipher)->Arg(1)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime()->Threads(8);

BENCHMARK_MAIN();
