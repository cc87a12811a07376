// The one main of the synchronisation benchmarks; each other file only registers benchmarks.
// They run in a home of their own: nothing reaches the user's settings or library.
#include "TemporaryHome.h"

#include <benchmark/benchmark.h>

int main(int argc, char** argv) {
  kesto::bench::TemporaryHome home("kesto-syncbench-home");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
