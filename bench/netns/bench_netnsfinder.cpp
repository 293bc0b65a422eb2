// The once-a-second scan that finds the network namespaces of the governed
// processes (whole machine: every process in /proc), against a baseline of
// listing /proc, which the service does anyway to learn its processes.
// Report the ratio of the medians: bench_netnsfinder
// --benchmark_repetitions=10 --benchmark_report_aggregates_only=true

#include "netnsfinder.h"

#include <QDir>

#include <benchmark/benchmark.h>

static void BM_ListProc(benchmark::State& state)
{
    for (auto _ : state) {
        const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
        benchmark::DoNotOptimize(entries);
    }
    state.counters["processes"] =
        double(QDir(QStringLiteral("/proc")).entryList(QDir::Dirs).size());
}
BENCHMARK(BM_ListProc)->Unit(benchmark::kMicrosecond);

static void BM_FindNamespaces(benchmark::State& state)
{
    const NetnsFinder finder{QString()};
    for (auto _ : state) {
        const auto found = finder.find();
        benchmark::DoNotOptimize(found);
    }
    state.counters["namespaces"] = double(finder.find().size());
}
BENCHMARK(BM_FindNamespaces)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
