#include "export/dxf_writer.h"

#include <QByteArray>
#include <QIODevice>
#include <QTextStream>

#include <benchmark/benchmark.h>

#include <random>

// A plan with one million lidar points, written the way a floor exports it: one POINT per point on
// a text stream over a byte array, coordinates rounded to whole millimetres as the floor passes them.
static void BM_DxfMillionPoints(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    std::mt19937 random(7);
    std::uniform_int_distribution<int> coordinate(-60000, 60000);
    QList<QPointF> points;
    points.reserve(count);
    for (int i = 0; i < count; ++i)
        points.append(QPointF(coordinate(random), coordinate(random)));

    qint64 bytes = 0;
    for (auto _ : state) {
        QByteArray out;
        QTextStream stream(&out, QIODevice::WriteOnly);
        DxfWriter writer(&stream);
        writer.beginSection("ENTITIES");
        for (const QPointF& p : points)
            writer.writePoint("P", p);
        writer.endSection();
        writer.writeEof();
        stream.flush();
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_DxfMillionPoints)->Arg(1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
