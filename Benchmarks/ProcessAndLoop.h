#pragma once

// What the network benchmarks measure of their own process, and the event loop they wait on.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace kesto::bench {

// A count from /proc/self/status ("VmHWM:" in KiB, "Threads:"), 0 when it is not there.
inline long statusField(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  std::size_t n = std::strlen(field);
  while (std::getline(status, line))
    if (line.compare(0, n, field) == 0) return std::strtol(line.c_str() + n, nullptr, 10);
  return 0;
}
inline long peakRssKiB() { return statusField("VmHWM:"); }

// Runs the event loop until `done` answers true; false when `seconds` pass first.
template <typename F>
bool pumpUntil(F&& done, double seconds) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > seconds * 1000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

}  // namespace kesto::bench
