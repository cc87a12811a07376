#pragma once

// The main function of the benchmarks that draw: a widget application, offscreen unless another
// platform is asked for.

#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdlib>
#include <functional>

namespace kesto::bench {

// Runs the benchmarks the command line names; `beforeQuit` runs after them while the application
// still exists, for windows and controllers that must go before the toolkit does.
inline int runOffscreen(int argc, char** argv, const std::function<void()>& beforeQuit = {}) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (beforeQuit) beforeQuit();
  return 0;
}

}  // namespace kesto::bench
