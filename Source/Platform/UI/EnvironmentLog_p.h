#pragma once

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

namespace kesto::ui {

// A diagnostic log asked for through the environment: the file it goes to and its threshold.
struct EnvironmentLog {
  std::string path;
  std::int64_t thresholdMs = 0;
};

// The log that `pathVariable` names, with the threshold in milliseconds from `thresholdVariable`
// when that is a positive number, else `defaultMs`; none when no path is set.
inline std::optional<EnvironmentLog> environmentLog(const char* pathVariable, const char* thresholdVariable,
                                                    std::int64_t defaultMs) {
  const char* path = std::getenv(pathVariable);
  if (!path || !*path) return std::nullopt;
  std::int64_t ms = defaultMs;
  if (const char* t = std::getenv(thresholdVariable); t && std::atoll(t) > 0) ms = std::atoll(t);
  return EnvironmentLog{path, ms};
}

}  // namespace kesto::ui
