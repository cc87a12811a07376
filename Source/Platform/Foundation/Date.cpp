#include "Platform/Foundation/Date.h"

#include <chrono>
#include <cmath>
#include <cstdio>
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
  Clock clock;
  {
    std::lock_guard<std::mutex> lock(clockMutex());
    clock = installedClock();
  }
  // Called outside the lock so a clock may itself consult the time.
  if (clock) return clock();
  using namespace std::chrono;
  auto us = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
  return withTimeIntervalSince1970(static_cast<double>(us) / 1e6);
}

std::string Date::description() const {
  // Proleptic Gregorian civil date from days since 1970 (Howard Hinnant's algorithm).
  double secs = std::floor(timeIntervalSince1970());
  if (!std::isfinite(secs)) return {};
  auto total = static_cast<long long>(secs);
  long long days = total / 86400;
  long long rem = total % 86400;
  if (rem < 0) {
    rem += 86400;
    --days;
  }
  long long z = days + 719468;
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long y = yoe + era * 400;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  long long d = doy - (153 * mp + 2) / 5 + 1;
  long long m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld +0000", y, m, d, rem / 3600,
                (rem / 60) % 60, rem % 60);
  return buf;
}

void setClock(Clock clock) {
  std::lock_guard<std::mutex> lock(clockMutex());
  installedClock() = std::move(clock);
}

}  // namespace kesto::fnd
