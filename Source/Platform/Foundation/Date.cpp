#include "Platform/Foundation/Date.h"

#include <chrono>
#include <mutex>

namespace kesto::fnd {

namespace {
std::mutex& clockMutex() {
  static std::mutex m;
  return m;
}
Clock& installedClock() {
  static Clock c;
  return c;
}
}  // namespace

Date Date::now() {
  {
    std::lock_guard<std::mutex> lock(clockMutex());
    if (installedClock()) return installedClock()();
  }
  using namespace std::chrono;
  auto us = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
  return withTimeIntervalSince1970(static_cast<double>(us) / 1e6);
}

void setClock(Clock clock) {
  std::lock_guard<std::mutex> lock(clockMutex());
  installedClock() = std::move(clock);
}

}  // namespace kesto::fnd
