// The one main of the synchronisation benchmarks; each other file only registers benchmarks.
#include <benchmark/benchmark.h>

BENCHMARK_MAIN();
